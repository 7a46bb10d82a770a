// Distribute end to end: the real daemon in the simulated appliance with FAT sticks,
// the job requested through its command file as the button panel does.
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/appliance.h"
#include "tests/system/job_run.h"

namespace {

using namespace std::chrono_literals;
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
    // A master handing out two files and one big enough to outgrow a small stick.
    // A master whose first folder takes seconds to read, so a test can act mid-copy;
    // the second folder is entered (and both sticks checked) only after it.
    static void plugSlowMaster() {
        ASSERT_TRUE(sim::plugStick(0));
        ASSERT_TRUE(sim::putBigFile(0, "TAMVIK-OUT/a/slow.bin", 2 * kMiB));
        ASSERT_TRUE(sim::putFile(0, "TAMVIK-OUT/b/after.txt", "after"));
        sim::slowStick(0, 100);
    }
    static void plugMaster(bool withLog = false) {
        ASSERT_TRUE(sim::plugStick(0));
        ASSERT_TRUE(sim::putFile(0, "TAMVIK-OUT/cours.txt", "lesson"));
        ASSERT_TRUE(sim::putFile(0, "TAMVIK-OUT/ex/one.txt", "one"));
        ASSERT_TRUE(sim::putBigFile(0, "TAMVIK-OUT/ex/data.bin", 3 * kMiB));
        if (withLog) {
            ASSERT_TRUE(sim::putFile(0, "dup.cfg", ""));
        }
    }
};

TEST_F(Distribute, FolderModeServesEveryStickThatPassesItsChecks) {
    plugMaster(true);
    ASSERT_TRUE(sim::plugStick(1, jobtest::stick(64 * 1024, "CLASS A")));
    ASSERT_TRUE(sim::plugStick(2, jobtest::stick(2 * 1024)));        // smaller than what is handed out
    ASSERT_TRUE(sim::touch("/dev/tmvl5-part1"));        // a node no file system answers on
    ASSERT_TRUE(jobtest::run(1, 2));
    EXPECT_EQ(sim::word(0), 4);
    EXPECT_EQ(sim::word(1), 4);
    EXPECT_EQ(sim::word(2), 7);
    EXPECT_EQ(sim::word(5), 5);
    EXPECT_EQ(sim::word(3), 0);
    EXPECT_EQ(sim::stickRead(1, "TAMVIK-IN/Documents/ex/one.txt"), "one");
    EXPECT_TRUE(sim::stickHas(1, "TAMVIK-IN/Documents/ex/data.bin"));
    EXPECT_TRUE(sim::stickHas(1, "TAMVIK-OUT"));
    EXPECT_FALSE(sim::stickHas(2, "TAMVIK-IN/Documents"));
    // The log reached the served stick itself, not the bare mount point.
    EXPECT_NE(sim::stickRead(1, "log.txt").find("cp /tmp/log.txt /tmp/tamvikel1/log.txt"),
              std::string::npos);
    EXPECT_TRUE(sim::stickHas(0, "log.txt"));
    unlink("/dev/tmvl5-part1");

    // A master with nothing to hand out stops the job before any student is touched.
    ASSERT_TRUE(sim::plugStick(0));
    ASSERT_TRUE(sim::plugStick(3));
    ASSERT_TRUE(jobtest::run(1, 1));
    EXPECT_EQ(sim::word(0), 7);
    EXPECT_FALSE(sim::stickHas(3, "TAMVIK-IN"));
}

TEST_F(Distribute, SpecialFolderVariantFillsTheInFoldersOnly) {
    ASSERT_TRUE(sim::plugStick(0));
    ASSERT_TRUE(sim::putFile(0, "TELVO/Maths-out/sheet.txt", "x^2"));
    ASSERT_TRUE(sim::putFile(0, "TELVO/Phys-OUT/lab/g.txt", "9.81"));
    ASSERT_TRUE(sim::putDir(0, "TELVO/Old-in"));
    ASSERT_TRUE(sim::putFile(0, "TELVO/notes-out", "a file, not a subject"));
    ASSERT_TRUE(sim::plugStick(4));
    ASSERT_TRUE(jobtest::run(1, 2));
    EXPECT_EQ(sim::word(4), 4);
    EXPECT_EQ(sim::stickRead(4, "Maths-in/sheet.txt"), "x^2");
    EXPECT_EQ(sim::stickRead(4, "Phys-in/lab/g.txt"), "9.81");
    EXPECT_TRUE(sim::stickHas(4, "Maths-out"));
    EXPECT_TRUE(sim::stickHas(4, "Phys-OUT"));
    EXPECT_FALSE(sim::stickHas(4, "notes-in"));
    EXPECT_FALSE(sim::stickHas(4, "TAMVIK-IN"));
    EXPECT_FALSE(sim::stickHas(0, "TAMVIK-OUT"));
}

TEST_F(Distribute, WholeStickModeClearsKeepingTheLabelThenCopiesTheMaster) {
    plugMaster();
    ASSERT_TRUE(sim::plugStick(1, jobtest::stick(100 * 1024, "CL B", 0)));   // formatted
    ASSERT_TRUE(sim::plugStick(2));                             // emptied (size not formatted)
    ASSERT_TRUE(sim::putFile(1, "old/work.txt", "old"));
    ASSERT_TRUE(sim::putFile(2, "old.txt", "old"));
    ASSERT_TRUE(jobtest::run(5, 1));
    for (int slot : {1, 2}) {
        EXPECT_EQ(sim::word(slot), 4) << slot;
        EXPECT_EQ(sim::stickRead(slot, "TAMVIK-OUT/ex/one.txt"), "one") << slot;
    }
    EXPECT_FALSE(sim::stickHas(1, "old"));
    EXPECT_FALSE(sim::stickHas(2, "old.txt"));
    EXPECT_EQ(sim::stickLabel(1), "CL B");
    EXPECT_EQ(sim::word(0), 4);
}

TEST_F(Distribute, MasterPulledMidCopyStopsTheJob) {
    plugSlowMaster();
    ASSERT_TRUE(sim::plugStick(1));
    ASSERT_TRUE(sim::plugStick(2));
    auto run = jobtest::request(1);
    ASSERT_TRUE(jobtest::waitPath(kSlowCopy));
    sim::pullStick(0);
    ASSERT_TRUE(jobtest::finished(run, 1));
    EXPECT_EQ(sim::word(0), 7);
    EXPECT_EQ(sim::word(1), 7);
    EXPECT_EQ(sim::word(2), 2);                  // never reached
    EXPECT_FALSE(sim::stickHas(2, "TAMVIK-IN/Documents"));
}

TEST_F(Distribute, StudentPulledMidCopyFailsOnlyThatStick) {
    plugSlowMaster();
    ASSERT_TRUE(sim::plugStick(1));
    ASSERT_TRUE(sim::plugStick(2));
    auto run = jobtest::request(1);
    ASSERT_TRUE(jobtest::waitPath(kSlowCopy));
    sim::pullStick(1);
    ASSERT_TRUE(jobtest::finished(run, 2));
    EXPECT_EQ(sim::word(1), 7);
    EXPECT_EQ(sim::word(2), 4);
    EXPECT_EQ(sim::word(0), 4);
    EXPECT_EQ(sim::stickRead(2, "TAMVIK-IN/Documents/b/after.txt"), "after");
}

TEST_F(Distribute, CancelInTheFirstPassInsideACopyAndBetweenSticks) {
    plugSlowMaster();
    ASSERT_TRUE(sim::plugStick(1));
    ASSERT_TRUE(sim::plugStick(2));
    // First pass: no stick is copied to.
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
    EXPECT_FALSE(sim::stickHas(1, "TAMVIK-IN/Documents/b/after.txt"));
    EXPECT_EQ(sim::word(2), 2);
    EXPECT_EQ(sim::word(0), 4);

    // Between sticks: the first is served, the second is not.
    run = jobtest::request(1);
    ASSERT_TRUE(sim::waitFor([] { return sim::word(1) == 4; }, 300s));
    sim::touch("/tmp/bt4.cmd");
    ASSERT_TRUE(jobtest::finished(run, 3));
    EXPECT_EQ(sim::stickRead(1, "TAMVIK-IN/Documents/b/after.txt"), "after");
    EXPECT_EQ(sim::word(2), 2);
    EXPECT_FALSE(sim::stickHas(2, "TAMVIK-IN/Documents"));
}

}  // namespace
