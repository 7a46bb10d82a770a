// The stick LEDs of the sticks present, and a running job cancelled by shift, on
// real FAT sticks in the appliance.
#include "tests/system/panel_support.h"

namespace {

using namespace paneltest;
constexpr int kSmallKiB = 8 * 1024;

TEST_F(Buttons, StickLedsShowTheSticksPresent) {
    EXPECT_TRUE(boardShows(false, 0xff, 0xff)) << "no stick";
    struct Case { int slot, first, second; };
    for (const Case& c : {Case{1, 0xfe, 0xff}, Case{9, 0xfd, 0xff}, Case{16, 0xff, 0x7f},
                          Case{5, 0xff, 0xfe}, Case{0, 0xff, 0xff}}) {
        ASSERT_TRUE(sim::plugStick(c.slot, stickOf(kSmallKiB)));
        EXPECT_TRUE(boardShows(c.slot == 0, c.first, c.second)) << "slot " << c.slot;
        sim::pullStick(c.slot);
        EXPECT_TRUE(boardShows(false, 0xff, 0xff)) << "after slot " << c.slot;
    }
}

TEST_F(Buttons, ShiftDuringAJobCancelsIt) {
    for (int slot : {0, 1, 2}) ASSERT_TRUE(sim::plugStick(slot, stickOf(32 * 1024)));
    ASSERT_TRUE(sim::putBigFile(0, "TAMVIK-OUT/film.bin", 16L << 20));
    ASSERT_TRUE(presenceIs({0, 1, 2}));
    sim::pressButton(kDistribute);
    ASSERT_TRUE(sim::waitFor([] { return exists(jobFile(1)); }, kLong));
    sim::releaseButton(kDistribute);
    // While the job runs its LED blinks.
    EXPECT_TRUE(sim::waitFor([] { return sim::gpioValue(sim::kLed1) == "1"; }, kLong));
    EXPECT_TRUE(sim::waitFor([] { return sim::gpioValue(sim::kLed1) == "0"; }, kLong));
    ASSERT_TRUE(sim::waitFor([] { return sim::word(1) == 3 || sim::word(2) == 3; }, kJob));

    sim::pressButton(kShift);
    EXPECT_TRUE(sim::waitFor([] { return sim::gpioValue(sim::kLed4) == "1"; }, kLong));
    sim::releaseButton(kShift);
    EXPECT_TRUE(sim::waitFor([] { return !exists(jobFile(1)); }, kJob));
    // The interrupted stick is marked failed, not done, and the result blinks.
    EXPECT_TRUE(sim::word(1) == 7 || sim::word(2) == 7) << sim::word(1) << " " << sim::word(2);
    EXPECT_TRUE(sim::waitFor([] { return sim::functionLeds() == "0000"; }, kLong));
    EXPECT_TRUE(sim::waitFor([] { return sim::functionLeds() == "0001"; }, kLong));
    dismiss();
}

}  // namespace
