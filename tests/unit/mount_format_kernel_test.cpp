// Mounting, formatting and space counts on real FAT sticks: loop images behind
// device-mapper nodes under the user-mode kernel, the real mount, mkfs.vfat and
// blkid.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "sticks/format.h"
#include "sticks/mount.h"
#include "sticks/space.h"
#include "supervisor/globals.h"
#include "tests/support/appliance.h"

namespace {

constexpr const char* kEventLog = "/tmp/logM.txt";   // events of process 0, the test

// The mount point appears as the second field of a line of the kernel's table.
bool mountedAt(const std::string& mountPoint) {
    std::ifstream table("/proc/mounts");
    std::string device, at, rest;
    while (table >> device >> at && std::getline(table, rest)) {
        if (at == mountPoint) return true;
    }
    return false;
}

// Event lines whose text is exactly this (the runner logs "to_system <cmd>").
int eventsNamed(const std::string& text) {
    std::ifstream log(kEventLog);
    int n = 0;
    const std::string tail = " = " + text;
    for (std::string line; std::getline(log, line);) {
        n += line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
    }
    return n;
}

std::string blkid(const std::string& node, const std::string& key) {
    const std::string cmd = "blkid -c /dev/null -s " + key + " -o value " + node;
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        std::array<char, 256> buf{};
        while (fgets(buf.data(), buf.size(), p)) out += buf.data();
        (void)pclose(p);
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// The FAT width written in the boot sector: "FAT16" at byte 54, "FAT32" at 82.
std::string fatWidth(const std::string& node) {
    std::array<char, 90> boot{};
    const int fd = open(node.c_str(), O_RDONLY);
    if (fd < 0) return "unreadable";
    const ssize_t n = pread(fd, boot.data(), boot.size(), 0);
    (void)close(fd);
    if (n != static_cast<ssize_t>(boot.size())) return "short";
    if (std::string(&boot[82], 5) == "FAT32") return "FAT32";
    return std::string(&boot[54], 5);
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

class SticksKernelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        processId = 0;
        (void)mkdir("/tmp/tamvikma1", 0777);
        for (int slot = 1; slot < kSlots; ++slot) {
            (void)mkdir(mountPointOf(slot).c_str(), 0777);
            sticksPartition[slot] = 1;
        }
        sticksPartition[0] = 1;
    }
};

TEST_F(SticksKernelTest, MountsAndUnmountsJudgedByTheMountTable) {
    ASSERT_TRUE(sim::plugStick(1));
    ASSERT_TRUE(sim::plugStick(12));

    EXPECT_EQ(isUsbMounted(12), 0);
    EXPECT_TRUE(mountedAt("/tmp/tamvikel12"));
    const int mounts12 = eventsNamed("to_system mount -o utf8 /dev/tmvl12-part1 /tmp/tamvikel12");
    EXPECT_EQ(mounts12, 1);
    EXPECT_EQ(isUsbMounted(12), 1);   // found in the table, nothing run
    EXPECT_EQ(eventsNamed("to_system mount -o utf8 /dev/tmvl12-part1 /tmp/tamvikel12"), 1);

    // Stick 12's line is not taken for stick 1, neither to mount nor to release.
    EXPECT_EQ(isUsbMounted(1), 0);
    EXPECT_TRUE(mountedAt("/tmp/tamvikel1"));
    EXPECT_EQ(umountUsb(1), 0);
    EXPECT_FALSE(mountedAt("/tmp/tamvikel1"));
    EXPECT_TRUE(mountedAt("/tmp/tamvikel12"));
    EXPECT_EQ(umountUsb(1), 0);   // nothing left to release: no command
    EXPECT_EQ(eventsNamed("to_system umount -l /tmp/tamvikel1"), 1);
    EXPECT_EQ(umountUsb(12), 0);
    EXPECT_FALSE(mountedAt("/tmp/tamvikel12"));

    // A stick reached through its whole-device node.
    ASSERT_TRUE(sim::plugStick(7, {64 * 1024, "", 0, 0}));
    sticksPartition[7] = 0;
    EXPECT_EQ(isUsbMounted(7), 0);
    EXPECT_EQ(eventsNamed("to_system mount -o utf8 /dev/tmvl7-part /tmp/tamvikel7"), 1);
    EXPECT_EQ(umountUsb(7), 0);

    // A stick whose node vanished: the mount fails and the table says so.
    ASSERT_TRUE(sim::plugStick(2));
    sim::pullStick(2);
    const int failed = eventsNamed("mount failed");
    EXPECT_EQ(isUsbMounted(2), -1);
    EXPECT_EQ(eventsNamed("mount failed"), failed + 1);
    EXPECT_FALSE(mountedAt("/tmp/tamvikel2"));
}

TEST_F(SticksKernelTest, MasterGetsTheConsoleLogOnlyWithDupCfg) {
    ASSERT_TRUE(sim::plugStick(0));
    writeFile("/tmp/log.txt", "console of the appliance\n");
    EXPECT_EQ(isUsbMounted(0), 0);
    EXPECT_TRUE(mountedAt("/tmp/tamvikma1"));
    EXPECT_EQ(umountUsb(0), 0);
    EXPECT_FALSE(mountedAt("/tmp/tamvikma1"));
    EXPECT_FALSE(sim::stickHas(0, "log.txt"));

    ASSERT_TRUE(sim::putFile(0, "dup.cfg", ""));
    EXPECT_EQ(isUsbMounted(0), 0);
    EXPECT_EQ(umountUsb(0), 0);
    EXPECT_EQ(sim::stickRead(0, "log.txt"), "console of the appliance\n");
}

// One stick per size range, each well inside its range. Folder mode keeps the
// label; the emptied sizes keep hidden entries at the root and the file system.
TEST_F(SticksKernelTest, FormatsEachSizeRangeWithItsFatWidthOrEmptiesIt) {
    struct Case {
        int slot;
        int sizeKiB;
        const char* expected;   // FAT width after, or "clear"
    };
    const Case cases[] = {{3, 60000, "clear"},  {4, 150000, "FAT16"}, {5, 200000, "clear"},
                          {6, 250000, "FAT16"}, {8, 7800000, "FAT32"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sizeKiB);
        ASSERT_TRUE(sim::plugStick(c.slot, {c.sizeKiB, "CLASSB", 1, 0}));
        ASSERT_TRUE(sim::putFile(c.slot, "TAMVIK-OUT/work.txt", "essay"));
        ASSERT_TRUE(sim::putFile(c.slot, ".keep", "hidden"));
        const std::string node = sim::stickNode(c.slot);
        const std::string serial = blkid(node, "UUID");

        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(formatUSB(c.slot, 0, "CLASSB"), 1);
        const auto took = std::chrono::steady_clock::now() - start;
        printf("formatUSB %d KiB: %lld ms\n", c.sizeKiB,
               static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));

        EXPECT_FALSE(mountedAt(mountPointOf(c.slot)));
        EXPECT_FALSE(sim::stickHas(c.slot, "TAMVIK-OUT/work.txt"));
        EXPECT_FALSE(sim::stickHas(c.slot, "TAMVIK-OUT"));
        EXPECT_EQ(sim::stickLabel(c.slot), "CLASSB");
        if (std::string(c.expected) == "clear") {
            EXPECT_TRUE(sim::stickHas(c.slot, ".keep"));
            EXPECT_EQ(blkid(node, "UUID"), serial);
        } else {
            EXPECT_FALSE(sim::stickHas(c.slot, ".keep"));
            EXPECT_NE(blkid(node, "UUID"), serial);
            EXPECT_EQ(fatWidth(node), c.expected);
        }
    }
}

TEST_F(SticksKernelTest, WholeStickModeFormatsTheWholeDeviceWithoutLabel) {
    ASSERT_TRUE(sim::plugStick(9, {150000, "CLASSB", 0, 0}));
    ASSERT_TRUE(sim::putFile(9, "work.txt", "essay"));
    sticksPartition[9] = 0;
    EXPECT_EQ(formatUSB(9, 1, "CLASSB"), 1);
    EXPECT_EQ(blkid("/dev/tmvl9-part", "TYPE"), "vfat");
    EXPECT_EQ(blkid("/dev/tmvl9-part", "LABEL"), "");
    EXPECT_EQ(fatWidth("/dev/tmvl9-part"), "FAT16");
    EXPECT_FALSE(sim::stickHas(9, "work.txt"));

    // A stick known only by its partition node is formatted through it.
    ASSERT_TRUE(sim::plugStick(16, {150000, "CLASSB", 1, 0}));
    ASSERT_TRUE(sim::putFile(16, "work.txt", "essay"));
    EXPECT_EQ(formatUSB(16, 1, "CLASSB"), 1);
    EXPECT_EQ(sim::stickLabel(16), "");
    EXPECT_FALSE(sim::stickHas(16, "work.txt"));
}

// Labels are read from the students' sticks: whatever they hold, the formatter
// gets them as they are and the shell runs nothing of them.
TEST_F(SticksKernelTest, LabelsReachTheFormatterLiterally) {
    ASSERT_TRUE(sim::plugStick(10, {100000, "OLD", 1, 0}));
    const int reboots = sim::shimCalls("reboot");
    for (const char* label : {"$(reboot)", "`reboot`", "x'&reboot"}) {
        SCOPED_TRACE(label);
        EXPECT_EQ(formatUSB(10, 0, label), 1);
        EXPECT_EQ(sim::stickLabel(10), label);
    }
    EXPECT_EQ(sim::shimCalls("reboot"), reboots);
}

// When the console log ends with the formatter's size complaint, the format is
// run a second time, after a fresh measure.
TEST_F(SticksKernelTest, FormatterSizeComplaintGetsASecondRun) {
    ASSERT_TRUE(sim::plugStick(12, {100000, "RETRY", 1, 0}));
    // The test's own output is not the console log, so the complaint stays its
    // last line for every command.
    writeFile("/tmp/log.txt", "mkfs.vfat: Attempting to create a too large file system\n");
    const std::string mkfs = "to_system mkfs.vfat /dev/tmvl12-part1 -n 'RETRY' -F 16";
    const int before = eventsNamed(mkfs);
    EXPECT_EQ(formatUSB(12, 0, "RETRY"), 1);
    EXPECT_EQ(eventsNamed(mkfs) - before, 2);
    EXPECT_EQ(sim::stickLabel(12), "RETRY");
    (void)unlink("/tmp/log.txt");
}

// A worn-out stick that refuses writes keeps its old file system: that is a
// failed format, not a cleared stick.
TEST_F(SticksKernelTest, AStickThatRefusesWritesIsReportedNotFormatted) {
    ASSERT_TRUE(sim::plugStick(11, {150000, "CLASSB", 1, 0}));
    ASSERT_TRUE(sim::putFile(11, "work.txt", "essay"));
    sim::failWrites(11);
    EXPECT_EQ(formatUSB(11, 0, "CLASSB"), -1);
    EXPECT_EQ(formatUSB(11, 1, nullptr), -1);

    // The emptied sizes too: the delete cannot reach the stick.
    ASSERT_TRUE(sim::plugStick(13, {60000, "CLASSB", 1, 0}));
    ASSERT_TRUE(sim::putFile(13, "work.txt", "essay"));
    sim::failWrites(13);
    EXPECT_EQ(formatUSB(13, 0, "CLASSB"), -1);
    EXPECT_FALSE(mountedAt(mountPointOf(13)));
}

TEST_F(SticksKernelTest, SpaceOnAFatStick) {
    ASSERT_TRUE(sim::plugStick(14, {64 * 1024, "", 1, 16}));
    ASSERT_TRUE(sim::putFile(14, "one.txt", "x"));
    ASSERT_TRUE(sim::putFile(14, "empty.txt", ""));
    ASSERT_TRUE(sim::putFile(14, ".hidden/big", std::string(100000, 'h')));
    ASSERT_GE(isUsbMounted(14), 0);
    struct stat st {};
    ASSERT_EQ(stat("/tmp/tamvikel14", &st), 0);
    const int clusterBlocks = static_cast<int>(st.st_blksize / 512);

    fileCntG = 0;
    EXPECT_EQ(du("/tmp/tamvikel14/one.txt"), clusterBlocks);   // a whole cluster for one byte
    EXPECT_EQ(du("/tmp/tamvikel14/empty.txt"), 0);
    EXPECT_EQ(fileCntG, 2);
    fileCntG = 0;
    EXPECT_LT(getDocFiles("/tmp/tamvikel14"), 3 * clusterBlocks + 64);   // .hidden not counted
    EXPECT_EQ(fileCntG, 2);
    EXPECT_GT(df_main("/tmp/tamvikel14"), 60000u);
    EXPECT_EQ(umountUsb(14), 0);

    // A full stick has no room left.
    ASSERT_TRUE(sim::plugStick(15, {8 * 1024, "", 1, 0}));
    ASSERT_GE(isUsbMounted(15), 0);
    {
        // Large pieces first, then small ones for the last partial cluster.
        const int fd = open("/tmp/tamvikel15/fill", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        const std::string chunk(1 << 16, 'f');
        for (size_t piece : {chunk.size(), size_t{512}}) {
            while (write(fd, chunk.data(), piece) > 0) {
            }
        }
        (void)close(fd);
    }
    EXPECT_EQ(df_main("/tmp/tamvikel15"), 0u);
    EXPECT_EQ(umountUsb(15), 0);
}

}  // namespace
