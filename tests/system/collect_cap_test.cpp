// Collect's cap in folder mode: one student's work above ten times the average is
// refused. Only a class of more than ten sticks can show it, so this run is slow.
#include <gtest/gtest.h>

#include "tests/support/appliance.h"
#include "tests/system/job_run.h"

TEST(CollectSlow, OneStudentOverTenTimesTheAverageIsRefused) {
    sim::startDaemon();
    ASSERT_TRUE(sim::plugStick(0));
    for (int slot = 1; slot <= 15; ++slot) ASSERT_TRUE(sim::plugStick(slot, jobtest::stick(1024)));
    ASSERT_TRUE(sim::plugStick(16));
    // 15 empty sticks count 1 MiB each: ten times the average is about 28 MiB.
    ASSERT_TRUE(sim::putBigFile(16, "TAMVIK-OUT/huge.bin", 30 << 20));
    ASSERT_TRUE(jobtest::run(2, 2)) << jobtest::logTail();
    EXPECT_EQ(sim::word(16), 7);
    EXPECT_FALSE(jobtest::Tree(0).has("TAMVIK-IN/SESSION1/UE16/"));
    EXPECT_NE(sim::consoleLog().find("!fn && ((sticksN[j][1] * 512) > sizeAvMax)"),
              std::string::npos);
    EXPECT_TRUE(jobtest::noStickMounted());
    sim::stopDaemon();
}
