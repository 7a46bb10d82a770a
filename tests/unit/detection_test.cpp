// Partition choice from the device nodes, presence refresh into the status words,
// label parsing, and a real label read by blkid from a FAT image used as a node.
#include "sticks/detection.h"

#include <gtest/gtest.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "indicators/status_codes.h"
#include "supervisor/globals.h"
#include "supervisor/process_frame.h"
#include "tests/support/appliance.h"

namespace {

void node(const std::string& path) { ASSERT_TRUE(sim::touch(path)) << path; }

std::string label(const char* line, size_t size = 20, const char* before = "") {
    char buffer[64];
    memset(buffer, '#', sizeof buffer);
    strcpy(buffer, before);
    appendBlkidLabel(line, buffer, size);
    EXPECT_EQ(buffer[size], '#') << "written past the caller's buffer";
    return buffer;
}

TEST(Detection, PartitionChoicePrefersLowNumbersAndNeverSlotZeroNames) {
    node("/dev/tmvl5-part1");
    node("/dev/tmvl5-part2");
    node("/dev/tmvl6-part");
    node("/dev/tmvl7-part3");
    node("/dev/tmvl7-part");
    node("/dev/tmvl9-part6");                        // partitions above 5 are never used
    node("/dev/tmvm0-part1");                        // the master's nodes carry 1, not 0
    EXPECT_EQ(selectPart(5), 1);
    EXPECT_EQ(selectPart(6), 0);
    EXPECT_EQ(selectPart(7), 3);
    EXPECT_EQ(selectPart(8), -1);
    EXPECT_EQ(selectPart(9), -1);
    EXPECT_EQ(selectPart(0), -1);
    node("/dev/tmvm1-part");
    EXPECT_EQ(selectPart(0), 0);
    node("/dev/tmvm1-part4");
    EXPECT_EQ(selectPart(0), 4);
    node("/dev/tmvl15-part2");                       // two-digit slots are not slot 1
    EXPECT_EQ(selectPart(1), -1);
    EXPECT_EQ(selectPart(15), 2);
}

TEST(Detection, PresenceRefreshAndStatusWords) {
    mem_ID = shmget(kShmKey, kShmSize, kShmFlags);
    ASSERT_GE(mem_ID, 0);
    attachSegment();
    node("/dev/tmvl2-part1");
    changeLedStatus(2, 4);                           // a result left by the last job
    changeLedStatus(3, 7);
    EXPECT_EQ(sim::word(3), 7);
    checkLedStatus();
    EXPECT_EQ(sim::word(2), 2);
    EXPECT_EQ(sticks[2], 2);
    EXPECT_EQ(sticksPartition[2], 1);
    EXPECT_EQ(sim::word(3), 0);
    EXPECT_EQ(sticksPartition[3], -1);
    for (int slot = 0; slot < kSlots; ++slot)
        EXPECT_TRUE(sim::word(slot) == 0 || sim::word(slot) == 2) << slot;

    // A worker's write reaches the shared word, not the parent's own table.
    changeLedStatus(2, 3);
    const pid_t worker = fork();
    if (worker == 0) {
        changeLedStatus(2, 4);
        _exit(0);
    }
    int status = 0;
    waitpid(worker, &status, 0);
    EXPECT_EQ(sim::word(2), 4);
    EXPECT_EQ(sticks[2], 3);
    changeLedStatus(2, 3);
    changeLedStatus(2, 3);
    EXPECT_EQ(sim::word(2), 3);
    EXPECT_EQ(sim::word(kNbKey), 0);                 // nothing beyond the slot's word
}

TEST(Detection, FailedAttachLeavesTheProcessSafe) {
    const int savedId = mem_ID;
    int32_t* const savedPtr = ptr_mem_partagee;
    const int32_t before = sim::word(4);
    mem_ID = -1;
    attachSegment();                                 // reports "shmat" and goes on
    ASSERT_NE(ptr_mem_partagee, nullptr);
    changeLedStatus(4, 5);
    EXPECT_EQ(sticks[4], 5);
    EXPECT_EQ(sim::word(4), before);                 // the shared words are untouched
    mem_ID = savedId;
    ptr_mem_partagee = savedPtr;
}

TEST(Detection, LabelParsing) {
    EXPECT_EQ(label("/dev/x: LABEL=\"STUDENT 12\" UUID=\"1\""), "STUDENT 12");
    EXPECT_EQ(label("/dev/x: LABEL_FATBOOT=\"A\" LABEL=\"B\""), "B");
    EXPECT_EQ(label("/dev/x: PARTLABEL=\"P\" LABEL=\"L\""), "P");  // also as a key's tail
    EXPECT_EQ(label("/dev/x: LABEL=\"\" UUID=\"1\""), "");
    EXPECT_EQ(label("/dev/x: LABEL=\"NOQUOTE"), "");
    EXPECT_EQ(label("/dev/x: UUID=\"1\""), "");
    EXPECT_EQ(label("/dev/x: LABEL="), "");          // ends at the key: nothing read past it
    EXPECT_EQ(label("/dev/x: LABEL=\"A\"", 20, "pre-"), "pre-A");
    EXPECT_EQ(label("LABEL=\"ABCDEFGHIJKLMNOPQRSTUVWXYZ\""), "ABCDEFGHIJKLMNOPQRS");  // 19 fit
    EXPECT_EQ(label("LABEL=\"ABCDEF\"", 5, "xy"), "xyAB");
    EXPECT_EQ(label("LABEL=\"ABCDEF\"", 3, "xy"), "xy");   // full already
    EXPECT_EQ(label("LABEL=\"$(reboot)`x`\""), "$(reboot)`x`");  // raw text, for quoting
}

TEST(Detection, LabelReadByBlkid) {
    ASSERT_EQ(system("mkfs.vfat -C -n 'MY STICK' /dev/tmvl11-part2 1024 >/dev/null 2>&1"), 0);
    char buffer[20] = "";
    getPartitionLabel(11, 2, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "MY STICK");
    ASSERT_EQ(system("mkfs.vfat -C -n 'WHOLE' /dev/tmvl12-part 1024 >/dev/null 2>&1"), 0);
    char whole[64] = "";
    getPartitionLabel(12, 0, whole, sizeof whole);
    EXPECT_STREQ(whole, "WHOLE");
    char none[20] = "";
    getPartitionLabel(13, 1, none, sizeof none);     // no such node: stays empty
    EXPECT_STREQ(none, "");
}

TEST(Detection, SlowPresenceWaitsTenSecondsOnce) {
    sticksPartition[10] = 1;
    node("/dev/tmvl10-part1");
    EXPECT_EQ(isUsbDetected(10), 0);
    sticksPartition[14] = 2;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(isUsbDetected(14), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    // A stick that settles during the wait is found by the second look.
    const pid_t device = fork();
    if (device == 0) {
        sim::waitFor([] { return false; }, std::chrono::seconds(2));
        (void)sim::touch("/dev/tmvl14-part2");
        _exit(0);
    }
    EXPECT_EQ(isUsbDetected(14), 0);
    waitpid(device, nullptr, 0);
    sticksPartition[0] = 0;
    node("/dev/tmvm1-part");
    EXPECT_EQ(isUsbDetected(0), 0);
}

}  // namespace
