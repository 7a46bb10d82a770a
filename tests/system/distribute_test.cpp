// Distribute end to end: the real daemon in the simulated appliance with FAT sticks,
// the job requested through its command file as the button panel does. Every job
// run costs tens of seconds under the user-mode kernel, so each run checks many
// sticks at once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/appliance.h"
#include "tests/system/job_run.h"

namespace {

using namespace std::chrono_literals;
using Entries = std::vector<std::string>;
using jobtest::Tree;
constexpr const char* kSlowCopy = "/tmp/tamvikel1/TAMVIK-IN/Documents/a/slow.bin";

class Distribute : public jobtest::JobTest {};

TEST_F(Distribute, FolderModeChecksEveryStickAndOutlivesAStudentPulledMidCopy) {
    ASSERT_TRUE(jobtest::plugSlowStick(0));
    ASSERT_TRUE(sim::putFile(0, "dup.cfg", ""));
    ASSERT_TRUE(sim::plugStick(1));                              // pulled mid-copy
    ASSERT_TRUE(sim::plugStick(2, jobtest::stick(2 * 1024)));    // too small
    ASSERT_TRUE(sim::plugStick(3, jobtest::stick(64 * 1024, "CLASS A")));
    ASSERT_TRUE(sim::touch("/dev/tmvl5-part1"));                 // no file system answers
    auto run = jobtest::request(1);
    ASSERT_TRUE(jobtest::waitPath(kSlowCopy));
    sim::pullStick(1);
    ASSERT_TRUE(jobtest::finished(run, 2));
    unlink("/dev/tmvl5-part1");
    EXPECT_EQ(sim::word(0), 4);
    EXPECT_EQ(sim::word(1), 7);
    EXPECT_EQ(sim::word(2), 7);
    EXPECT_EQ(sim::word(3), 4);
    EXPECT_EQ(sim::word(4), 0);
    EXPECT_EQ(sim::word(5), 5);
    EXPECT_EQ(Tree(2).entries, (Entries{"TAMVIK-IN/", "TAMVIK-OUT/"}));
    EXPECT_EQ(Tree(3).entries,
              (Entries{"TAMVIK-IN/", "TAMVIK-IN/Documents/", "TAMVIK-IN/Documents/a/",
                       "TAMVIK-IN/Documents/a/slow.bin", "TAMVIK-IN/Documents/b/",
                       "TAMVIK-IN/Documents/b/after.txt", "TAMVIK-OUT/", "log.txt"}));
    // The log reached the served stick itself, not the bare mount point.
    EXPECT_NE(sim::stickRead(3, "log.txt").find("cp /tmp/log.txt /tmp/tamvikel3/log.txt"),
              std::string::npos);
    EXPECT_TRUE(Tree(0).has("log.txt"));
}

TEST_F(Distribute, NothingToHandOutThenTheSpecialFolderVariant) {
    ASSERT_TRUE(sim::plugStick(0));
    ASSERT_TRUE(sim::putDir(0, "TELVO/Old-in"));                 // no subject: plain mode
    ASSERT_TRUE(sim::plugStick(4));
    ASSERT_TRUE(jobtest::run(1, 1));
    EXPECT_EQ(sim::word(0), 7);
    EXPECT_EQ(Tree(4).entries, Entries{});                        // never touched

    ASSERT_TRUE(sim::putFile(0, "TELVO/Maths-out/sheet.txt", "x^2"));
    ASSERT_TRUE(sim::putFile(0, "TELVO/Phys-OUT/lab/g.txt", "9.81"));
    ASSERT_TRUE(sim::putFile(0, "TELVO/notes-out", "a file, not a subject"));
    ASSERT_TRUE(jobtest::run(1, 2));
    EXPECT_EQ(sim::word(4), 4);
    EXPECT_EQ(Tree(4).entries,
              (Entries{"Maths-in/", "Maths-in/sheet.txt", "Maths-out/", "Phys-OUT/", "Phys-in/",
                       "Phys-in/lab/", "Phys-in/lab/g.txt"}));
}

TEST_F(Distribute, WholeStickModeClearsKeepingTheLabelThenCopiesTheMaster) {
    ASSERT_TRUE(sim::plugStick(0));
    ASSERT_TRUE(sim::putFile(0, "TAMVIK-OUT/ex/one.txt", "one"));
    ASSERT_TRUE(sim::plugStick(1, jobtest::stick(100 * 1024, "CL B", 0)));   // formatted
    ASSERT_TRUE(sim::plugStick(2));                              // emptied (size not formatted)
    ASSERT_TRUE(sim::putFile(1, "old/work.txt", "old"));
    ASSERT_TRUE(sim::putFile(2, "old.txt", "old"));
    ASSERT_TRUE(jobtest::run(5, 1));
    for (int slot : {1, 2}) {
        EXPECT_EQ(sim::word(slot), 4) << slot;
        EXPECT_EQ(Tree(slot).entries, (Entries{"TAMVIK-OUT/", "TAMVIK-OUT/ex/", "TAMVIK-OUT/ex/one.txt"}));
    }
    EXPECT_EQ(sim::stickLabel(1), "CL B");
    EXPECT_EQ(sim::word(0), 4);
}

}  // namespace
