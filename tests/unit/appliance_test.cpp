// The simulated appliance under the user-mode kernel: its sticks must fail the way
// real sticks fail, or the daemon's tests prove nothing. One boot serves all checks.
#include "tests/support/appliance.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace std::chrono_literals;

namespace {

// Writes and flushes a file, as a copy does before it counts a file as done.
bool writeSynced(const std::string& path, const std::string& content) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    ok = fsync(fd) == 0 && ok;
    return close(fd) == 0 && ok;
}

bool mountedAt(const std::string& point) {
    return sim::readFile("/proc/self/mounts").find(" " + point + " ") != std::string::npos;
}

int sh(const std::string& command) { return system(command.c_str()); }

// A child that writes one file; its exit status tells whether the write worked.
pid_t writerChild(const std::string& path) {
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) _exit(writeSynced(path, std::string(100000, 'w')) ? 0 : 1);
    return pid;
}

bool childEnded(pid_t pid, int* status) { return waitpid(pid, status, WNOHANG) == pid; }

}  // namespace

TEST(ApplianceKernel, SticksBehaveLikeRealOnes) {
    // Labels come back raw through blkid, blanks and shell characters included.
    ASSERT_TRUE(sim::plugStick(1, {8 * 1024, "CLASS B"}));
    ASSERT_TRUE(sim::plugStick(2, {32 * 1024, "A$(B)`C'&", 0, 16}));
    ASSERT_TRUE(sim::plugStick(0, {40 * 1024, "", 3, 32}));
    EXPECT_EQ(sim::stickLabel(1), "CLASS B");
    EXPECT_EQ(sim::stickLabel(2), "A$(B)`C'&");
    EXPECT_EQ(sim::stickLabel(0), "");
    sim::StickSpec odd{8 * 1024, "A\"B.é", 1, 0};   // what mkfs.vfat refuses, other systems write
    odd.rawLabel = true;
    ASSERT_TRUE(sim::plugStick(3, odd));
    EXPECT_EQ(sim::stickLabel(3), "A\"B.é");
    EXPECT_NONFATAL_FAILURE(sim::plugStick(4, {8 * 1024, "A.B"}), "stick plug 4");   // mkfs.vfat refuses it
    EXPECT_EQ(sim::stickNode(2), "/dev/tmvl2-part");
    EXPECT_EQ(sim::stickNode(0), "/dev/tmvm1-part3");
    struct stat st;
    ASSERT_EQ(stat("/dev/tmvm1-part3", &st), 0);
    EXPECT_TRUE(S_ISBLK(st.st_mode));

    // Mounted as the daemon mounts it, the table names the board's node.
    ASSERT_EQ(sh("mkdir -p /tmp/tamvikel1 && mount -o utf8 /dev/tmvl1-part1 /tmp/tamvikel1"), 0);
    EXPECT_NE(sim::readFile("/proc/self/mounts").find("/dev/tmvl1-part1 /tmp/tamvikel1 vfat"), std::string::npos);
    ASSERT_TRUE(writeSynced("/tmp/tamvikel1/a.bin", std::string(5000, 'x')));
    ASSERT_TRUE(writeSynced("/tmp/tamvikel1/a.bin", "ab"));   // truncated like on FAT
    EXPECT_EQ(sim::readFile("/tmp/tamvikel1/a.bin"), "ab");

    // A private mount beside the daemon's shares its file system, and is gone after.
    ASSERT_TRUE(sim::putFile(1, "TAMVIK-OUT/sujet é.txt", "énoncé"));
    EXPECT_EQ(sim::readFile("/tmp/tamvikel1/TAMVIK-OUT/sujet é.txt"), "énoncé");
    EXPECT_EQ(sim::stickRead(1, "a.bin"), "ab");
    EXPECT_EQ(sim::stickTree(1), (std::vector<std::string>{"TAMVIK-OUT/", "TAMVIK-OUT/sujet é.txt", "a.bin"}));
    EXPECT_TRUE(sim::stickHas(1, "TAMVIK-OUT"));
    EXPECT_FALSE(sim::stickHas(1, "TAMVIK-IN"));
    EXPECT_FALSE(mountedAt("/sim/mnt/1"));

    // Hung: a writer blocks until the stick answers again.
    sim::hangStick(1);
    pid_t writer = writerChild("/tmp/tamvikel1/hung.bin");
    int status = -1;
    EXPECT_FALSE(sim::waitFor([&] { return childEnded(writer, &status); }, 2s)) << "write went through a hung stick";
    sim::resumeStick(1);
    ASSERT_TRUE(sim::waitFor([&] { return status != -1 || childEnded(writer, &status); }, 60s));
    EXPECT_EQ(status, 0);

    // Worn out: reads work, writes fail.
    sim::failWrites(1);
    EXPECT_EQ(sim::readFile("/tmp/tamvikel1/a.bin"), "ab");
    EXPECT_FALSE(writeSynced("/tmp/tamvikel1/new.bin", std::string(100000, 'n')));

    // Pulled: the node goes, I/O fails, and the daemon's lazy unmount still works.
    sim::pullStick(1);
    EXPECT_NE(access("/dev/tmvl1-part1", F_OK), 0);
    EXPECT_FALSE(writeSynced("/tmp/tamvikel1/after.bin", std::string(100000, 'p')));
    EXPECT_EQ(sh("umount -l /tmp/tamvikel1"), 0);
    EXPECT_FALSE(mountedAt("/tmp/tamvikel1"));

    EXPECT_NONFATAL_FAILURE(sim::stickRead(1, "a.bin"), "cannot mount stick 1");

    // Plugged again: the same content on a fresh device, slow or not.
    ASSERT_TRUE(sim::replugStick(1));
    EXPECT_EQ(sim::stickRead(1, "a.bin"), "ab");
    EXPECT_EQ(sim::stickLabel(1), "CLASS B");
    sim::slowStick(1, 20);
    EXPECT_TRUE(sim::putFile(1, "slow.txt", "late"));
    EXPECT_EQ(sim::stickRead(1, "slow.txt"), "late");
}

TEST(ApplianceKernel, BoardFilesShimsAndSegment) {
    EXPECT_EQ(sim::functionLeds(), "0000");
    EXPECT_EQ(sim::gpioValue(sim::kButtonShift), "1");
    EXPECT_EQ(sim::gpioValue(sim::kMasterLed), "0");
    ASSERT_EQ(sh("echo 1 > /sys/class/gpio/gpio71/value"), 0);   // as the LED process does
    EXPECT_EQ(sim::gpioValue(sim::kMasterLed), "1");

    ASSERT_EQ(sh("i2cset -y -f 0 0x27 0xfd 0xff; i2cset -y -f 0 0x27 0xff 0x7f; reboot"), 0);
    EXPECT_EQ(sim::boardBytes(), (std::vector<std::pair<int, int>>{{0xfd, 0xff}, {0xff, 0x7f}}));
    EXPECT_EQ(sim::shimCalls("reboot"), 1);
    EXPECT_EQ(sim::shimCalls("shutdown"), 0);

    sim::setWord(17, 60);
    EXPECT_EQ(sh("ipcs -m | grep -q '0x0001e306 .* 436 '"), 0);
    EXPECT_EQ(sim::word(17), 60);
}
