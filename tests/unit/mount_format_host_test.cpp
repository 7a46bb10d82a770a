// The judgements behind mounting and formatting that need no stick: the mount
// listing match, the FAT width per stick size, the formatter's command line and
// the reading of blkid's output.
#include <gtest/gtest.h>

#include <string>

#include "sticks/format.h"
#include "sticks/mount.h"
#include "supervisor/globals.h"

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

}  // namespace
