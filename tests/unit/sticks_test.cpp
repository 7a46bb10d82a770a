// The judgements about sticks that need no real one: the mount listing, partition
// choice and presence, the formatter's FAT width and label word, blkid's output,
// and space accounting on the appliance's own /tmp.
#include <gtest/gtest.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "indicators/status_codes.h"
#include "sticks/detection.h"
#include "sticks/format.h"
#include "sticks/mount.h"
#include "sticks/space.h"
#include "supervisor/globals.h"
#include "supervisor/process_frame.h"
#include "tests/support/appliance.h"
#include "tests/unit/unit_support.h"

namespace {

int blocks(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return static_cast<int>(st.st_blocks);
}

}  // namespace

TEST(Sticks, MountPointShowsOnlyAsAWholePath) {
    const std::string el1 = "/tmp/tamvikel1";
    const struct { std::string piece, point; bool shows; } rows[] = {
        {"/dev/tmvl1-part1 on /tmp/tamvikel1 type vfat (rw)", el1, true},
        {"/dev/mapper/x on /tmp/tamvikel1", el1, true},
        {"/dev/loop0 on /tmp/tamvikel1\ttype vfat", el1, true},
        {"/dev/tmvl12-part1 on /tmp/tamvikel12 type vfat (rw)", el1, false},
        {"/tmp/tamvikel1x on /tmp/tamvikel12 type vfat", el1, false},
        {"/dev/sda on /mnt/tmp/tamvikel1 type vfat", el1, false},
        {"", el1, false},
        {"/tmp/tamvikel1/x.img on /tmp/tamvikel1 type vfat", el1, true},
        {std::string(200, 'd') + " on /tmp/tamvikma1 type vfat", "/tmp/tamvikma1", true}};
    for (const auto& row : rows) EXPECT_EQ(pieceShowsMountPoint(row.piece, row.point), row.shows) << row.piece;
}

TEST(Sticks, PartitionChoiceAndPresence) {
    for (const char* node : {"/dev/tmvl5-part1", "/dev/tmvl5-part2", "/dev/tmvl6-part", "/dev/tmvl7-part3",
                             "/dev/tmvl7-part", "/dev/tmvl9-part6", "/dev/tmvm0-part1", "/dev/tmvl15-part2"})
        ASSERT_TRUE(sim::touch(node));
    for (auto [slot, part] : {std::pair{5, 1}, {6, 0}, {7, 3}, {8, -1}, {9, -1}, {0, -1}, {1, -1}, {15, 2}})
        EXPECT_EQ(selectPart(slot), part) << slot;
    ASSERT_TRUE(sim::touch("/dev/tmvm1-part4"));
    EXPECT_EQ(selectPart(0), 4) << "the master's nodes carry 1";

    // A failed attachment leaves the process safe, with the shared words untouched.
    mem_ID = -1;
    attachSegment();
    changeLedStatus(4, 5);
    mem_ID = shmget(kShmKey, kShmSize, kShmFlags);
    attachSegment();
    EXPECT_EQ(sim::word(4), 0);

    // The refresh clears what the last job left; a worker's code reaches the shared word.
    changeLedStatus(5, 4);
    changeLedStatus(3, 7);
    checkLedStatus();
    EXPECT_EQ(std::make_pair(sim::word(5), sim::word(3)), std::make_pair(2, 0));
    EXPECT_EQ(std::make_pair(sticksPartition[5], sticksPartition[3]), std::make_pair(1, -1));
    if (fork() == 0) {
        changeLedStatus(5, 4);
        _exit(0);
    }
    wait(nullptr);
    EXPECT_EQ(sim::word(5), 4);
    EXPECT_EQ(sim::word(kNbKey), 0) << "nothing beyond the slot's word";
}

TEST(Sticks, FatWidthBySizeAndOnRetry) {
    const struct { uint32_t kib; int first, retry; } rows[] = {
        {0, -1, 32},          {89999, -1, 16},      {90000, 16, 16},      {190000, 16, 16},
        {190001, -1, 16},     {217999, -1, 16},     {218000, 16, 16},     {268434, 16, 16},
        {268435, 32, 32},     {0xFFFFFFFFu, 32, 32}};
    for (const auto& row : rows) {
        EXPECT_EQ(fatSizeForStick(row.kib), row.first) << row.kib;
        EXPECT_EQ(fatSizeForRetry(row.kib), row.retry) << row.kib;
    }
    for (int slot : {0, 17, -1}) EXPECT_EQ(formatUSB(slot, 0, "X"), -1) << "not a student slot";
}

// The formatter's words as the shell splits them: the label is one of them, intact.
TEST(Sticks, LabelIsOneFormatterWord) {
    ASSERT_EQ(chdir("/tmp"), 0);
    for (const std::string label : {"CLASS B", "$(touch pwned)", "it's `touch pwned`", "x'&touch pwned"}) {
        const std::string command = mkfsCommand(3, 0, label.c_str(), 1, 16);
        FILE* pipe = popen(("set -- " + command.substr(10) + "; printf '[%s]' \"$@\"").c_str(), "r");
        std::string words;
        for (int c; (c = fgetc(pipe)) != EOF;) words += static_cast<char>(c);
        pclose(pipe);
        EXPECT_EQ(words, "[/dev/tmvl3-part1][-n][" + label + "][-F][16]");
    }
    EXPECT_NE(access("/tmp/pwned", F_OK), 0);
}

TEST(Sticks, BlkidOutputIsReadKeyByKey) {
    const std::string line = "/dev/tmvl3-part1: SEC_TYPE=\"msdos\" LABEL_FATBOOT=\"A B\" LABEL=\"A B\" "
                             "UUID=\"D960-529D\" TYPE=\"vfat\"";
    for (auto [text, key, value] : {std::tuple{line, "UUID", "D960-529D"}, {line, "LABEL", "A B"},
                                     {line, "PARTUUID", ""},
                                     {"/dev/x: PTUUID=\"1234abcd\" PTTYPE=\"dos\"", "UUID", ""},
                                     {"/dev/x: LABEL=\"x UUID=\\\"AB\" UUID=\"1111-2222\"", "UUID", "1111-2222"}})
        EXPECT_EQ(blkidValue(text, key), value) << text;

    const struct { const char* line; size_t size; const char* before; const char* label; } labels[] = {
        {"/dev/x: LABEL=\"STUDENT 12\" UUID=\"1\"", 20, "", "STUDENT 12"},
        {"/dev/x: LABEL_FATBOOT=\"A\" LABEL=\"B\"", 20, "", "B"},
        {"/dev/x: LABEL=\"NOQUOTE", 20, "", ""},
        {"/dev/x: LABEL=", 20, "", ""},
        {"LABEL=\"ABCDEFGHIJKLMNOPQRSTUVWXYZ\"", 20, "", "ABCDEFGHIJKLMNOPQRS"},
        {"LABEL=\"ABCDEF\"", 5, "xy", "xyAB"},
        {"LABEL=\"ABCDEF\"", 3, "xy", "xy"},
        {"LABEL=\"$(reboot)`x`\"", 20, "", "$(reboot)`x`"}};
    for (const auto& row : labels) {
        char buffer[32];
        memset(buffer, '#', sizeof buffer);
        strcpy(buffer, row.before);
        appendBlkidLabel(row.line, buffer, row.size);
        EXPECT_EQ(buffer[row.size], '#') << "written past the buffer: " << row.line;
        buffer[row.size] = '\0';
        EXPECT_STREQ(buffer, row.label) << row.line;
    }
}

TEST(Sticks, SpaceCountsAndFreeSpace) {
    for (auto [count, unit, kib] : {std::tuple{1u, 512u, 1u}, {1u, 511u, 0u}, {3u, 512u, 2u},
                                    {4194304u, 1048576u, 0u}, {4194305u, 1048576u, 1024u},
                                    {0xFFFFFFFFu, 1024u, 0xFFFFFFFFu}})
        EXPECT_EQ(kscale(count, unit), kib) << count << " x " << unit;
    EXPECT_GT(df_main("/tmp"), 0u);
    EXPECT_EQ(df_main("/tmp/missing/x"), 0u) << "unknown free space is no room";

    // Hidden entries and what links point at are not counted; the links themselves are.
    const std::string t = "/tmp/tree";
    ASSERT_EQ(system("mkdir -p /tmp/tree/sub /tmp/tree/.hd && echo x > /tmp/tree/one && : > /tmp/tree/empty"
                     " && head -c 100000 /dev/zero > /tmp/tree/sub/big && echo h > /tmp/tree/.hidden"
                     " && echo i > /tmp/tree/.hd/in && ln -s sub /tmp/tree/link && ln -s loop /tmp/tree/loop"), 0);
    fileCntG = 0;
    const int expected = blocks(t) + blocks(t + "/sub") + blocks(t + "/one") + blocks(t + "/sub/big") +
                         blocks(t + "/link") + blocks(t + "/loop");
    EXPECT_EQ(getDocFiles(t), expected);
    EXPECT_EQ(fileCntG, 5);
    fileCntG = 0;
    EXPECT_EQ(du(t + "/.hidden") + du(t + "/missing"), blocks(t + "/.hidden"));
    EXPECT_EQ(fileCntG, 1);

    // The file list: a line selects names starting with all but its last character.
    ASSERT_EQ(system("mkdir -p /tmp/m/abcdir && head -c 5000 /dev/zero > /tmp/m/ABC.wav"
                     " && head -c 9000 /dev/zero > /tmp/m/abc.txt && head -c 13000 /dev/zero > /tmp/m/ab.wav"
                     " && head -c 17000 /dev/zero > /tmp/m/abcdir/in && head -c 300000 /dev/zero > /tmp/beside"), 0);
    const unsigned wav = blocks("/tmp/m/ABC.wav"), abc = wav + blocks("/tmp/m/abc.txt") +
                         blocks("/tmp/m/abcdir") + blocks("/tmp/m/abcdir/in");
    const struct { const char* list; int audioOnly; unsigned blocks; } lists[] = {
        {"abcd\n", 1, wav}, {"abcd\n", 0, abc}, {"ABC.wavx\r\nABC.\n", 1, 2 * wav},
        {"x\n", 0, abc + blocks("/tmp/m/ab.wav")}, {"\n", 0, 0}, {nullptr, 0, 0}};
    for (const auto& row : lists) {
        (void)unlink("/filelist");
        ASSERT_TRUE(!row.list || unit::writeFile("/filelist", row.list));
        EXPECT_EQ(duwav("/tmp/m", row.audioOnly), row.blocks) << (row.list ? row.list : "no list");
    }
}
