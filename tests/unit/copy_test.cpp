// The copy engine on /tmp, the master and student 1 listed as mounted.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "copy/telvo_workers.h"
#include "copy/tree_copy.h"
#include "copy/watchdog.h"
#include "copy/workers.h"
#include "operations/clear.h"
#include "supervisor/base/globals.h"
#include "tests/support/appliance.h"

// A stick may report a failed write only at the close: closing /tmp/closefail fails.
extern "C" int __real_close(int fd);
extern "C" int __wrap_close(int fd) {
    char target[32] = "";
    (void)!readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
    const int result = __real_close(fd);
    return strcmp(target, "/tmp/closefail") == 0 ? (errno = EIO, -1) : result;
}

struct Copy : testing::Test {
    static void SetUpTestSuite() {
        ASSERT_TRUE(ensureSegment() && sim::listAsMounted({0, 1}));
        sticksPartition[0] = sticksPartition[1] = 1;
        ASSERT_TRUE(sim::writeFile("/dev/tmvm1-part1", "") &&
                    sim::writeFile("/dev/tmvl1-part1", ""));
    }
};

TEST_F(Copy, FileCopyIsExactAndNeverGoesThroughALink) {
    for (size_t size : {1000001ul, 512ul, 1ul, 0ul}) {   // each overwrites a longer file
        std::string content;
        while (content.size() < size)
            content += static_cast<char>(content.size() * 7 + content.size() / 512);
        ASSERT_TRUE(sim::writeFile("/tmp/src.bin", content));
        storeWord(kNbKey, 0);
        EXPECT_EQ(copier_fichier("/tmp/src.bin", "/tmp/dst.bin"), 0) << size;
        EXPECT_EQ(sim::readFile("/tmp/dst.bin"), content) << size;
        EXPECT_EQ(loadWord(kNbKey), 60) << "even an empty file renews the heartbeat";
    }
    ASSERT_TRUE(sim::writeFile("/tmp/src.bin", std::string(3000, 's')) &&
                sim::writeFile("/tmp/victim", "appliance file") &&
                symlink("/tmp/victim", "/tmp/link") == 0);
    for (auto [source, destination, result] : {std::tuple{"/tmp/src.bin", "/tmp/link", -2},
                                               {"/tmp/link", "/tmp/out", -1},
                                               {"/tmp/missing", "/tmp/out", -1},
                                               {"/tmp/src.bin", "/tmp/no/out", -2},
                                               {"/tmp/src.bin", "/tmp/closefail", -2}})
        EXPECT_EQ(copier_fichier(source, destination), result) << source << " to " << destination;
    EXPECT_EQ(sim::readFile("/tmp/victim") + (sim::exists("/tmp/out") ? "+out" : ""),
              "appliance file");
}

// The tree copy skips hidden folders; neither it nor the clear's delete ever follows a link.
TEST_F(Copy, TreeCopyAndDeleteNeverFollowALink) {
    ASSERT_EQ(system("mkdir -p /tmp/keep && echo k > /tmp/keep/k && cd /tmp/tamvikma1"
                     " && mkdir -p O/.secret O/sub/deep && echo A > O/a.txt"
                     " && echo H > O/.hidden && echo X > O/.secret/x && echo F > O/sub/deep/f"
                     " && ln -s /tmp/keep O/dir && ln -s /tmp/keep/k O/file && ln -s O linkroot"
                     " && ln -s /tmp/keep O/sub/dirlink"
                     " && mkdir -p /tmp/tamvikel1/D && echo kept > /tmp/tamvikel1/D/mine"),
              0);
    EXPECT_EQ(cp_tamvik(0, "/tmp/tamvikma1/O", "/tmp/tamvikel1/D", 0, 1, 0), 0);
    EXPECT_EQ(sim::shellOutput("LC_ALL=C ls -A /tmp/tamvikel1/D"), ".hidden\na.txt\nmine\nsub\n");
    EXPECT_EQ(sim::shellOutput("ls -A /tmp/tamvikel1/D/sub"), "deep\n");
    EXPECT_EQ(sim::readFile("/tmp/tamvikel1/D/sub/deep/f"), "F\n");
    EXPECT_EQ(cp_tamvik(0, "/tmp/tamvikma1/linkroot", "/tmp/tamvikel1/L", 0, 1, 0), 0);
    EXPECT_FALSE(sim::exists("/tmp/tamvikel1/L"));
    EXPECT_EQ(remove_directory("/tmp/tamvikma1/linkroot"), -1) << "a folder given as a link";
    EXPECT_TRUE(remove_directory("/tmp/tamvikma1/O") == 0 && !sim::exists("/tmp/tamvikma1/O"));
    EXPECT_EQ(sim::readFile("/tmp/keep/k"), "k\n");
}
