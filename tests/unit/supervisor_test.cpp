// The supervisor's helpers: the folder watch, the log's verdict.
#include <gtest/gtest.h>
#include <unistd.h>

#include "supervisor/base/file_helpers.h"
#include "supervisor/base/folder_watch.h"
#include "supervisor/base/shell_runner.h"
#include "tests/support/appliance.h"

// A watch the kernel dropped (its folder gone, its file system unmounted) hears nothing again:
// from then on every cycle must look for itself.
TEST(Supervisor, DroppedWatchLooksEveryCycle) {
    ASSERT_EQ(mkdir("/tmp/watched", 0755), 0);
    FolderWatch watch("/tmp/watched");
    ASSERT_TRUE(watch.changed());   // the first call always looks
    EXPECT_FALSE(watch.changed());
    ASSERT_EQ(rmdir("/tmp/watched"), 0);
    EXPECT_TRUE(watch.changed());
    EXPECT_TRUE(watch.changed()) << "a dead watch was taken for a quiet folder";
}

// A run is the command's first ten characters, any case; a short line: the bare command only.
TEST(Supervisor, VerdictFromTheLastTwoPieces) {
    const std::string size = "mkfs.vfat: Attempting to create a too large file system";
    const struct {
        std::string last, previous, cmd;
        int result;
    } rows[] = {
        {"mount: bad superblock\n", "", "mount /dev/x", -1},
        {"MOUNT /DEV/x 17\n", "", "mount /dev/y", 0},
        {"reboot 1700000000\n", "", "reboot", -1},
        {"reboot", "", "reboot", 0},
        {"rm: cannot remove '/tmp/bt4.cmd': No such file or directory\n", "", "rm /tmp/bt4.cmd", 0},
        {size + "\n", "", "mkfs.vfat x", -2},
        {"x\n", " " + size, "x", -1},
        {"next\n", "MKFS.VFAT: attempting to create a too large FILE SYSTEM (x)\n", "mkfs.vfat x",
         -2}};
    const char* text = nullptr;   // the event text is the log's business
    for (const auto& row : rows)
        EXPECT_EQ(judgeLogPieces(row.last, row.previous, row.cmd, &text), row.result) << row.last;
    (void)unlink("/tmp/log.txt");
    EXPECT_EQ(checkLogLastLine("anything at all"), -1);
}
