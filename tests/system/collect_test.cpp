// Collect end to end: the real daemon in the simulated appliance with FAT sticks,
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
constexpr const char* kSlowCopy = "/tmp/tamvikma1/TAMVIK-IN/SESSION1/UE1/Documents/a/slow.bin";

class Collect : public jobtest::JobTest {};

TEST_F(Collect, FolderModeLabelsAPulledStudentAndTheFirstFreeSession) {
    ASSERT_TRUE(sim::plugStick(0));
    ASSERT_TRUE(sim::putFile(0, "dup.cfg", ""));
    ASSERT_TRUE(jobtest::plugSlowStick(1));                                          // pulled mid-copy
    ASSERT_TRUE(sim::plugStick(2, jobtest::stick(64 * 1024, "$(reboot) '")));
    ASSERT_TRUE(sim::putFile(2, "TAMVIK-OUT/w.txt", "w2"));
    ASSERT_TRUE(sim::plugStick(3));                              // nothing to hand in
    ASSERT_TRUE(sim::plugStick(12));
    ASSERT_TRUE(sim::putFile(12, "TAMVIK-OUT/sub/w.txt", "w12"));
    auto run = jobtest::request(2);
    ASSERT_TRUE(jobtest::waitPath(kSlowCopy));
    sim::pullStick(1);
    ASSERT_TRUE(jobtest::finished(run, 2));
    for (int slot : {0, 2, 12}) EXPECT_EQ(sim::word(slot), 4) << slot;
    EXPECT_EQ(sim::word(1), 7);
    EXPECT_EQ(sim::word(3), 7);
    Tree master(0);
    EXPECT_TRUE(master.has("TAMVIK-IN/SESSION1/UE2 $(reboot) '/Documents/w.txt"));
    EXPECT_TRUE(master.has("TAMVIK-IN/SESSION1/UE12/Documents/sub/w.txt"));
    EXPECT_FALSE(master.has("TAMVIK-IN/SESSION1/UE3/"));
    EXPECT_TRUE(master.has("log.txt"));
    EXPECT_EQ(sim::shimCalls("reboot"), 0);                      // the label ran nothing
    EXPECT_TRUE(Tree(12).has("log.txt"));

    // The next run takes the first free number, also below a later session.
    ASSERT_TRUE(sim::putDir(0, "TAMVIK-IN/SESSION4"));
    for (int slot : {3, 12}) sim::pullStick(slot);
    ASSERT_TRUE(jobtest::run(2, 2));
    master = Tree(0);
    EXPECT_TRUE(master.has("TAMVIK-IN/SESSION2/UE2 $(reboot) '/Documents/w.txt"));
    EXPECT_FALSE(master.has("TAMVIK-IN/SESSION3/"));
}

TEST_F(Collect, SpecialFolderVariantUsesOneSessionForAllSubjects) {
    ASSERT_TRUE(sim::plugStick(0));
    ASSERT_TRUE(sim::putDir(0, "TELVO/Maths-out"));
    ASSERT_TRUE(sim::putDir(0, "TELVO/Phys-out"));
    ASSERT_TRUE(sim::putDir(0, "TELVO/Maths-in/SESSION1"));
    ASSERT_TRUE(sim::plugStick(4));
    ASSERT_TRUE(sim::putFile(4, "Maths-out/hw/1.txt", "hw"));
    ASSERT_TRUE(jobtest::run(2, 2));
    EXPECT_EQ(sim::word(4), 4);
    Tree master(0);
    EXPECT_TRUE(master.has("TELVO/Maths-in/SESSION2/UE4/hw/1.txt"));
    EXPECT_TRUE(master.has("TELVO/Phys-in/SESSION2/UE4/"));
    EXPECT_TRUE(master.has("TAMVIK-IN/SESSION2/UE4/"));
    EXPECT_FALSE(master.has("TAMVIK-OUT/"));
    EXPECT_TRUE(Tree(4).has("Phys-out/"));                        // made for the student's work
}

TEST_F(Collect, WholeStickModeCopiesTheWholeStudentAndNoStudentMeansANormalEnd) {
    ASSERT_TRUE(sim::plugStick(0));
    ASSERT_TRUE(sim::plugStick(5, jobtest::stick(64 * 1024, "ALL")));
    ASSERT_TRUE(sim::putFile(5, "d/b.txt", "b"));
    ASSERT_TRUE(jobtest::run(6, 1));
    EXPECT_EQ(sim::word(5), 4);
    EXPECT_EQ(sim::stickRead(0, "TAMVIK-IN/SESSION1/UE5 ALL/d/b.txt"), "b");

    // Without students: no session, and the master is marked and released as usual.
    sim::pullStick(5);
    ASSERT_TRUE(jobtest::run(2, 2));
    EXPECT_EQ(sim::word(0), 4);
    EXPECT_FALSE(Tree(0).has("TAMVIK-IN/SESSION2/"));
}

}  // namespace
