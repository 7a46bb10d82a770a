// The three jobs and their whole-stick variants started by the buttons with real
// FAT sticks, each result pattern until shift dismisses it.
#include "tests/system/panel_support.h"

namespace {

using namespace paneltest;
constexpr int kStickKiB = 16 * 1024;

TEST_F(Buttons, DistributeCollectAndClearByButtons) {
    ASSERT_TRUE(sim::plugStick(0, stickOf(kStickKiB, "MASTER")));
    ASSERT_TRUE(sim::plugStick(1, stickOf(kStickKiB)));
    ASSERT_TRUE(sim::plugStick(2, stickOf(kStickKiB)));
    ASSERT_TRUE(sim::putFile(0, "TAMVIK-OUT/lesson.txt", "today's lesson\n"));
    ASSERT_TRUE(presenceIs({0, 1, 2}));

    runJob({kDistribute}, 1);
    EXPECT_TRUE(showsSteadily("0001"));
    EXPECT_TRUE(boardShows(true, 0xfa, 0xff));           // students 1 and 2 done
    EXPECT_EQ(sim::stickRead(1, "TAMVIK-IN/Documents/lesson.txt"), "today's lesson\n");
    EXPECT_EQ(sim::stickRead(2, "TAMVIK-IN/Documents/lesson.txt"), "today's lesson\n");
    dismiss();

    ASSERT_TRUE(sim::putFile(1, "TAMVIK-OUT/work1.txt", "one\n"));
    ASSERT_TRUE(sim::putFile(2, "TAMVIK-OUT/work2.txt", "two\n"));
    runJob({kCollect}, 2);
    EXPECT_TRUE(showsSteadily("0010"));
    EXPECT_TRUE(masterHasCollected("/UE1/Documents/work1.txt"));
    EXPECT_TRUE(masterHasCollected("/UE2/Documents/work2.txt"));
    dismiss();

    runClear(false);
    EXPECT_TRUE(showsSteadily("0100"));
    EXPECT_FALSE(sim::stickHas(1, "TAMVIK-OUT/work1.txt"));
    EXPECT_FALSE(sim::stickHas(2, "TAMVIK-IN/Documents/lesson.txt"));
    dismiss();
    EXPECT_EQ(sim::shimCalls("shutdown"), 0);          // short shift presses only
}

TEST_F(Buttons, WholeStickVariantsWithShiftHeld) {
    ASSERT_TRUE(sim::putFile(0, "whole.txt", "everything\n"));
    ASSERT_TRUE(sim::putFile(1, "mine.txt", "old\n"));
    ASSERT_TRUE(presenceIs({0, 1, 2}));

    runJob({kShift, kDistribute}, 5);
    EXPECT_TRUE(showsSteadily("1001"));
    EXPECT_EQ(sim::stickRead(1, "whole.txt"), "everything\n");
    EXPECT_FALSE(sim::stickHas(1, "mine.txt"));         // the stick was cleared first
    dismiss();

    ASSERT_TRUE(sim::putFile(2, "essay.txt", "mine\n"));
    runJob({kShift, kCollect}, 6);
    EXPECT_TRUE(showsSteadily("1010"));
    EXPECT_TRUE(masterHasCollected("/UE2/essay.txt"));
    dismiss();

    runClear(true);
    EXPECT_TRUE(showsSteadily("1100"));
    EXPECT_FALSE(sim::stickHas(2, "essay.txt"));
    dismiss();
}

}  // namespace
