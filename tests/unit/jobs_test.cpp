// Pieces of the jobs that need no stick, on the appliance's /tmp: the space rule,
// the list reader, the special-folder list, and the clear workers' delete.
#include <gtest/gtest.h>

#include <set>

#include "copy/watchdog.h"
#include "operations/clear.h"
#include "operations/folder_layout.h"
#include "operations/job_common.h"
#include "supervisor/file_helpers.h"
#include "tests/support/appliance.h"
#include "tests/unit/unit_support.h"

TEST(Jobs, SpaceRuleIsExactForSticksOfSeveralGiB) {
    // need x 520 <= free x 1000; 16 GiB against 8 GiB would wrap in 32 bits and fit.
    for (auto [need, freeKiB, fits] : {std::tuple{1000ull, 520ull, true}, {1001ull, 520ull, false},
                                       {33554432ull, 8388608ull, false}, {33554432ull, 17448305ull, true}})
        EXPECT_EQ(jobs::spaceRuleHolds(need, freeKiB), fits) << need << " in " << freeKiB;
}

using Names = std::multiset<std::string>;

static Names entries(const char* list) {   // {"?"} when the list cannot be read
    Names got;
    const bool read = jobs::forEachListEntry(list, [&](const std::string& e) { return got.insert(e), true; });
    return read ? got : Names{"?"};
}

// List lines are read in 150-byte pieces, trimmed; a name that would not come back
// unchanged from one is never listed as a special folder, nor is a file or a stale entry.
TEST(Jobs, ListPiecesAndTheSpecialFolderList) {
    ASSERT_TRUE(unit::writeFile("/tmp/list.txt", "  Maths-out \t\n\n" + std::string(160, 'x') + "\n"));
    EXPECT_EQ(entries("/tmp/list.txt"), (Names{"Maths-out", "", std::string(149, 'x'), std::string(11, 'x')}));
    const std::string telvo = "/tmp/tamvikma1/TELVO/", fitting = std::string(144, 'F') + "-out";
    for (const std::string& dir : {std::string("Maths-out"), std::string("Maths-in"), std::string("Phys-OUT"),
                                   std::string(" Pad-out"), fitting, std::string(145, 'L') + "-out"})
        ASSERT_EQ(createDir(telvo + dir), 0);
    ASSERT_TRUE(unit::writeFile(telvo + "notes-out", "a file") && unit::writeFile("/tmp/repTelvo.txt", "Stale-out\n"));
    listTelvoFolders();
    EXPECT_EQ(entries("/tmp/repTelvo.txt"), (Names{"Maths-out", "Phys-OUT", fitting}));
    EXPECT_EQ(addTelvoFolder("two\nlines-out"), -1);
    ASSERT_EQ(system("rm -rf /tmp/tamvikma1/TELVO/*-[oO]*"), 0);
    listTelvoFolders();
    EXPECT_EQ(entries("/tmp/repTelvo.txt"), Names{"?"}) << "no special folder: the variant stays off";
}

TEST(Jobs, DeleteNeverFollowsALink) {
    ASSERT_TRUE(ensureSegment());
    ASSERT_EQ(system("mkdir -p /tmp/keep/deep /tmp/gone/sub/subsub && echo k > /tmp/keep/deep/k"
                     " && echo b > /tmp/gone/sub/subsub/b && ln -s /tmp/keep /tmp/gone/sub/dirlink"
                     " && ln -s /tmp/keep/deep/k /tmp/gone/filelink && ln -s /tmp/keep /tmp/keeplink"), 0);
    EXPECT_EQ(remove_directory("/tmp/gone"), 0);
    EXPECT_FALSE(unit::exists("/tmp/gone"));
    EXPECT_EQ(remove_directory("/tmp/keeplink"), -1) << "a folder given as a link is not entered";
    EXPECT_EQ(sim::readFile("/tmp/keep/deep/k"), "k\n");
}
