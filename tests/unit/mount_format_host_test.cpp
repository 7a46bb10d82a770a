// The judgements behind mounting and formatting that need no stick: the mount
// listing match, the FAT width per stick size, the formatter's command line and
// the reading of blkid's output.
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "sticks/format.h"
#include "sticks/mount.h"
#include "supervisor/globals.h"
#include "tests/support/appliance.h"

namespace {

TEST(MountListingTest, MountPointMatchesOnlyAsAWholePath) {
    const std::string el1 = mountPointOf(1);
    EXPECT_EQ(el1, "/tmp/tamvikel1");
    EXPECT_EQ(mountPointOf(0), "/tmp/tamvikma1");
    EXPECT_EQ(mountPointOf(16), "/tmp/tamvikel16");

    EXPECT_TRUE(pieceShowsMountPoint("/dev/tmvl1-part1 on /tmp/tamvikel1 type vfat (rw)", el1));
    EXPECT_TRUE(pieceShowsMountPoint("/dev/mapper/x on /tmp/tamvikel1", el1));   // line end
    EXPECT_TRUE(pieceShowsMountPoint("/dev/loop0 on /tmp/tamvikel1\ttype vfat", el1));
    // Stick 12's line is not stick 1's, wherever the text recurs.
    EXPECT_FALSE(pieceShowsMountPoint("/dev/tmvl12-part1 on /tmp/tamvikel12 type vfat (rw)", el1));
    EXPECT_FALSE(pieceShowsMountPoint("/tmp/tamvikel1x on /tmp/tamvikel12 type vfat", el1));
    EXPECT_FALSE(pieceShowsMountPoint("/dev/sda on /mnt/tmp/tamvikel1 type vfat", el1));
    EXPECT_FALSE(pieceShowsMountPoint("", el1));
    // A device name may be anything; the mount point found later in the line counts.
    EXPECT_TRUE(pieceShowsMountPoint("/tmp/tamvikel1/x.img on /tmp/tamvikel1 type vfat", el1));
    const std::string longDevice(200, 'd');
    EXPECT_TRUE(pieceShowsMountPoint(longDevice + " on /tmp/tamvikma1 type vfat",
                                     mountPointOf(0)));
}

TEST(FormatRulesTest, FatWidthFollowsTheSizeTable) {
    EXPECT_EQ(fatSizeForStick(0), -1);          // measured as nothing
    EXPECT_EQ(fatSizeForStick(60000), -1);
    EXPECT_EQ(fatSizeForStick(89999), -1);
    EXPECT_EQ(fatSizeForStick(90000), 16);
    EXPECT_EQ(fatSizeForStick(150000), 16);
    EXPECT_EQ(fatSizeForStick(190000), 16);
    EXPECT_EQ(fatSizeForStick(190001), -1);
    EXPECT_EQ(fatSizeForStick(200000), -1);
    EXPECT_EQ(fatSizeForStick(217999), -1);
    EXPECT_EQ(fatSizeForStick(218000), 16);
    EXPECT_EQ(fatSizeForStick(250000), 16);
    EXPECT_EQ(fatSizeForStick(268434), 16);
    EXPECT_EQ(fatSizeForStick(268435), 32);
    EXPECT_EQ(fatSizeForStick(7800000), 32);
    EXPECT_EQ(fatSizeForStick(0xFFFFFFFFu), 32);

    // The second try after the formatter's size complaint clears nothing.
    EXPECT_EQ(fatSizeForRetry(0), 32);
    EXPECT_EQ(fatSizeForRetry(60000), 16);
    EXPECT_EQ(fatSizeForRetry(200000), 16);
    EXPECT_EQ(fatSizeForRetry(268434), 16);
    EXPECT_EQ(fatSizeForRetry(268435), 32);
}

TEST(FormatRulesTest, FormatterCommandKeepsTheLabelOneLiteralWord) {
    EXPECT_EQ(mkfsCommand(3, 0, "CLASSB", 1, 16), "mkfs.vfat /dev/tmvl3-part1 -n 'CLASSB' -F 16");
    EXPECT_EQ(mkfsCommand(3, 0, "CLASSB", 0, 32), "mkfs.vfat /dev/tmvl3-part -I -n 'CLASSB' -F 32");
    EXPECT_EQ(mkfsCommand(12, 0, "", 2, 16), "mkfs.vfat /dev/tmvl12-part2 -F 16");
    EXPECT_EQ(mkfsCommand(12, 0, nullptr, 0, 32), "mkfs.vfat /dev/tmvl12-part -I -F 32");
    // Whole-stick mode: the whole device where the stick has a node for it, never
    // a label.
    EXPECT_EQ(mkfsCommand(5, 1, "CLASSB", 0, 32), "mkfs.vfat /dev/tmvl5-part -I -F 32");
    EXPECT_EQ(mkfsCommand(5, 1, "CLASSB", 1, 16), "mkfs.vfat /dev/tmvl5-part1 -I -F 16");
    // Labels a FAT stick may carry that a shell would act on.
    EXPECT_EQ(mkfsCommand(3, 0, "$(reboot)", 1, 16),
              "mkfs.vfat /dev/tmvl3-part1 -n '$(reboot)' -F 16");
    EXPECT_EQ(mkfsCommand(3, 0, "it's `x`", 1, 16),
              "mkfs.vfat /dev/tmvl3-part1 -n 'it'\\''s `x`' -F 16");
}

TEST(FormatRulesTest, BlkidValueReadsOneKeyOfTheLine) {
    const std::string line =
        "/dev/tmvl3-part1: SEC_TYPE=\"msdos\" LABEL_FATBOOT=\"A B\" LABEL=\"A B\" "
        "UUID=\"D960-529D\" BLOCK_SIZE=\"512\" TYPE=\"vfat\"";
    EXPECT_EQ(blkidValue(line, "UUID"), "D960-529D");
    EXPECT_EQ(blkidValue(line, "LABEL"), "A B");
    EXPECT_EQ(blkidValue(line, "TYPE"), "vfat");
    EXPECT_EQ(blkidValue(line, "PARTUUID"), "");
    // A partition table has PTUUID, which is no volume serial.
    EXPECT_EQ(blkidValue("/dev/tmvl3-part: PTUUID=\"1234abcd\" PTTYPE=\"dos\"", "UUID"), "");
    // A label that mimics a key stays inside its value.
    EXPECT_EQ(blkidValue("/dev/x: LABEL=\"x UUID=\\\"AB\" UUID=\"1111-2222\"", "UUID"),
              "1111-2222");
    EXPECT_EQ(blkidValue("", "UUID"), "");
}

TEST(FormatRulesTest, OnlyStudentSlotsAreFormatted) {
    EXPECT_EQ(formatUSB(0, 0, "MASTER"), -1);
    EXPECT_EQ(formatUSB(17, 0, "X"), -1);
    EXPECT_EQ(formatUSB(-1, 1, nullptr), -1);
}

// The bulk delete of the emptied sizes: every visible entry goes whatever its
// name, hidden ones stay, and the worker gets 240 s for it.
TEST(FormatRulesTest, RemoveDirectory3EmptiesAllButHiddenEntries) {
    const int id = shmget(kShmKey, kShmSize, kShmFlags);
    ASSERT_GE(id, 0);
    ptr_mem_partagee = static_cast<int32_t*>(shmat(id, nullptr, 0));
    ASSERT_NE(ptr_mem_partagee, reinterpret_cast<int32_t*>(-1));
    sim::setWord(kNbKey, 60);

    const std::string root = "/tmp/sticks_clear/";
    ASSERT_EQ(system(("rm -rf " + root + " && mkdir -p " + root + "sub/deeper").c_str()), 0);
    for (const char* name : {"$(reboot) a.txt", "-rf", "it's", "sub/deeper/x", ".keep"})
        std::ofstream(root + name) << "content";
    ASSERT_EQ(mkdir((root + ".hiddendir").c_str(), 0755), 0);
    const int reboots = sim::shimCalls("reboot");

    remove_directory3(root);
    EXPECT_EQ(sim::word(kNbKey), 240);
    for (const char* gone : {"$(reboot) a.txt", "-rf", "it's", "sub"})
        EXPECT_NE(access((root + gone).c_str(), F_OK), 0) << gone;
    EXPECT_EQ(access((root + ".keep").c_str(), F_OK), 0);
    EXPECT_EQ(access((root + ".hiddendir").c_str(), F_OK), 0);
    EXPECT_EQ(sim::shimCalls("reboot"), reboots);

    (void)shmdt(ptr_mem_partagee);
    ptr_mem_partagee = nullptr;
}

}  // namespace
