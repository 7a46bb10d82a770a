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
constexpr long kMiB = 1 << 20;
constexpr const char* kSlowCopy = "/tmp/tamvikel1/TAMVIK-IN/Documents/a/slow.bin";

class Distribute : public ::testing::Test {
protected:
    static void SetUpTestSuite() { sim::startDaemon(); }
    static void TearDownTestSuite() { sim::stopDaemon(); }
    void TearDown() override {
        EXPECT_TRUE(jobtest::noStickMounted()) << sim::readFile("/proc/mounts");
        if (HasFailure() || getenv("STICKDUP_JOBS_LOG")) printf("%s\n", jobtest::logTail().c_str());
        jobtest::pullAll();
    }
    // A master whose first folder takes seconds to read, so a test can act mid-copy;
    // the second folder is entered (and both sticks checked again) only after it.
    // 2 MiB is more than a 2 MiB stick can take.
    static void plugSlowMaster(bool withLog) {
        ASSERT_TRUE(sim::plugStick(0));
        ASSERT_TRUE(sim::putBigFile(0, "TAMVIK-OUT/a/slow.bin", 2 * kMiB));
        ASSERT_TRUE(sim::putFile(0, "TAMVIK-OUT/b/after.txt", "after"));
        if (withLog) {
            ASSERT_TRUE(sim::putFile(0, "dup.cfg", ""));
        }
        sim::slowStick(0, 100);
    }
};

TEST_F(Distribute, FolderModeChecksEveryStickAndOutlivesAStudentPulledMidCopy) {
    plugSlowMaster(true);
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

TEST_F(Distribute, CancelsInEachPlaceAndAMasterPulledMidCopy) {
    plugSlowMaster(false);
    ASSERT_TRUE(sim::plugStick(1));
    ASSERT_TRUE(sim::plugStick(2));
    // In the first pass: no stick is copied to.
    sim::setWord(0, -1);
    auto run = jobtest::request(1);
    ASSERT_TRUE(sim::waitFor([] { return sim::word(0) == 3; }, 120s));
    sim::touch("/tmp/bt4.cmd");
    ASSERT_TRUE(jobtest::finished(run, 3));       // resetDuplicator removes the job file too
    EXPECT_EQ(sim::word(0), 4);
    EXPECT_FALSE(sim::stickHas(1, "TAMVIK-IN/Documents"));
    EXPECT_NE(access("/tmp/bt4.cmd", F_OK), 0);

    // Inside the copy: the copy engine stops, the stick is marked failed.
    run = jobtest::request(1);
    ASSERT_TRUE(jobtest::waitPath(kSlowCopy));
    sim::touch("/tmp/bt4.cmd");
    ASSERT_TRUE(jobtest::finished(run, 2));
    EXPECT_EQ(sim::word(1), 7);
    EXPECT_EQ(sim::word(2), 2);
    EXPECT_EQ(sim::word(0), 4);
    EXPECT_FALSE(sim::stickHas(1, "TAMVIK-IN/Documents/b/after.txt"));

    // Between sticks: the first is served, the second is not.
    run = jobtest::request(1);
    ASSERT_TRUE(sim::waitFor([] { return sim::word(1) == 4; }, 300s));
    sim::touch("/tmp/bt4.cmd");
    ASSERT_TRUE(jobtest::finished(run, 3));
    EXPECT_EQ(sim::word(2), 2);
    EXPECT_TRUE(Tree(1).has("TAMVIK-IN/Documents/b/after.txt"));
    EXPECT_FALSE(Tree(2).has("TAMVIK-IN/Documents/"));

    // The master pulled while a copy runs stops the job at once.
    run = jobtest::request(1);
    ASSERT_TRUE(sim::waitFor([] { return sim::word(1) == 3; }, 300s));
    sim::pullStick(0);
    ASSERT_TRUE(jobtest::finished(run, 1));
    EXPECT_EQ(sim::word(0), 7);
    EXPECT_EQ(sim::word(1), 7);
    EXPECT_EQ(sim::word(2), 2);                  // never reached
}

}  // namespace
