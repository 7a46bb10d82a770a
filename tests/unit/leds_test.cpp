// The stick LEDs' frame (the blink phases are checked on the running daemon) and the
// function LEDs' value files.
#include <gtest/gtest.h>

#include "indicators/function_leds.h"
#include "indicators/led_board.h"
#include "tests/support/appliance.h"
#include "tests/unit/unit_support.h"

// Phase 1 of a frame with one slot holding a code and every other slot empty: the
// slot's own expander bit, active low, and a failure code seen in any phase.
TEST(Leds, EachSlotLightsItsOwnExpanderBitActiveLow) {
    const struct { int slot, code; unsigned first, second; bool master, failure; } rows[] = {
        {-1, 0, 0xff, 0xff, false, false}, {0, 2, 0xff, 0xff, true, false},   {1, 2, 0xfe, 0xff, false, false},
        {9, 4, 0xfd, 0xff, false, false},  {12, 2, 0x7f, 0xff, false, false}, {5, 2, 0xff, 0xfe, false, false},
        {16, 2, 0xff, 0x7f, false, false}, {3, 7, 0xff, 0xff, false, true},   {0, 5, 0xff, 0xff, false, true},
        {16, 6, 0xff, 0xff, false, true},  {4, 8, 0xff, 0xff, false, false},  {4, 1, 0xff, 0xff, false, false}};
    for (const auto& row : rows) {
        for (int s = 0; s < kSlots; ++s) stickLedTmp[s] = s == row.slot ? row.code : 0;
        tmpToReal();
        const BoardFrame frame = computeBoardFrame(stickLed, 1);
        EXPECT_EQ(std::make_tuple(frame.firstByte, frame.secondByte, frame.masterLit, frame.noFailure),
                  std::make_tuple(row.first, row.second, row.master, !row.failure)) << row.slot << ":" << row.code;
    }
}

// A lit line reads "1\n" from sysfs; a missing value file ends the calling process.
TEST(Leds, FunctionLedToggleAndMissingValueFile) {
    ASSERT_TRUE(unit::writeFile("/sys/class/gpio/gpio13/value", "1\n"));
    blinkLed4();
    EXPECT_EQ(sim::gpioValue(sim::kLed4), "0");
    sim::removeGpio(sim::kLed3);
    EXPECT_EXIT(cmdLed3("1"), testing::ExitedWithCode(1), "");
    EXPECT_EXIT(blinkLed3(), testing::ExitedWithCode(1), "");
}
