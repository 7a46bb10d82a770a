// Collect end to end when the master fills up, goes away, or the operator cancels:
// the real daemon in the simulated appliance with FAT sticks.
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
constexpr const char* kSlowCopy = "/tmp/tamvikma1/TAMVIK-IN/SESSION1/UE1/Documents/a/slow.bin";

class CollectFaults : public jobtest::JobTest {};

TEST_F(CollectFaults, RoomOnTheMasterAMasterPulledMidCopyAndACancelWhileMeasuring) {
    // The master's free space is measured before each student: it fills up.
    ASSERT_TRUE(sim::plugStick(0, jobtest::stick(8 * 1024)));
    ASSERT_TRUE(sim::plugStick(1));
    ASSERT_TRUE(sim::plugStick(2));
    ASSERT_TRUE(sim::putBigFile(1, "TAMVIK-OUT/a.bin", 5 * kMiB));
    ASSERT_TRUE(sim::putBigFile(2, "TAMVIK-OUT/b.bin", 4 * kMiB));
    ASSERT_TRUE(jobtest::run(2, 2));
    EXPECT_EQ(sim::word(1), 4);
    EXPECT_EQ(sim::word(2), 7);
    EXPECT_FALSE(Tree(0).has("TAMVIK-IN/SESSION1/UE2/"));
    EXPECT_NE(sim::consoleLog().find("if ((sticksN[j][1] * 520) > fsp * 1000)"), std::string::npos);

    // The master pulled during a copy stops the job.
    ASSERT_TRUE(sim::plugStick(0));
    ASSERT_TRUE(jobtest::plugSlowStick(1));
    auto run = jobtest::request(2);
    ASSERT_TRUE(jobtest::waitPath(kSlowCopy));
    sim::pullStick(0);
    ASSERT_TRUE(jobtest::finished(run, 1));
    EXPECT_EQ(sim::word(0), 7);
    EXPECT_EQ(sim::word(1), 7);
    EXPECT_EQ(sim::word(2), 2);

    // A cancel after the first stick was measured: the session is still made.
    ASSERT_TRUE(sim::plugStick(0));
    ASSERT_TRUE(sim::plugStick(1));                              // empty: measured as 7
    sim::setWord(1, -1);                                         // not the 7 of the last run
    run = jobtest::request(2);
    ASSERT_TRUE(sim::waitFor([] { return sim::word(1) == 7; }, 120s));
    sim::touch("/tmp/bt4.cmd");
    ASSERT_TRUE(jobtest::finished(run, 3));
    EXPECT_EQ(Tree(0).entries, (Entries{"TAMVIK-IN/", "TAMVIK-IN/SESSION1/", "TAMVIK-OUT/"}));
    EXPECT_EQ(sim::word(0), 4);
}

}  // namespace
