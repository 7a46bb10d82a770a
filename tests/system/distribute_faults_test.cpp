// Distribute end to end when the operator cancels and when the master goes away:
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
constexpr const char* kSlowCopy = "/tmp/tamvikel1/TAMVIK-IN/Documents/a/slow.bin";

class DistributeFaults : public jobtest::JobTest {};

TEST_F(DistributeFaults, CancelsInEachPlaceAndAMasterPulledMidCopy) {
    ASSERT_TRUE(jobtest::plugSlowStick(0));
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
    sim::setWord(1, -1);
    run = jobtest::request(1);
    ASSERT_TRUE(sim::waitFor([] { return sim::word(1) == 4; }, 300s));
    sim::touch("/tmp/bt4.cmd");
    ASSERT_TRUE(jobtest::finished(run, 3));
    EXPECT_EQ(sim::word(2), 2);
    EXPECT_TRUE(Tree(1).has("TAMVIK-IN/Documents/b/after.txt"));
    EXPECT_FALSE(Tree(2).has("TAMVIK-IN/Documents/"));

    // The master pulled while a copy runs stops the job at once.
    sim::setWord(1, -1);
    run = jobtest::request(1);
    ASSERT_TRUE(sim::waitFor([] { return sim::word(1) == 3; }, 300s));
    sim::pullStick(0);
    ASSERT_TRUE(jobtest::finished(run, 1));
    EXPECT_EQ(sim::word(0), 7);
    EXPECT_EQ(sim::word(1), 7);
    EXPECT_EQ(sim::word(2), 2);                  // never reached
}

}  // namespace
