// The LEDs: which expander bit shows which slot, the blink phases, failures in a
// frame, and the function LEDs' value files.
#include <gtest/gtest.h>

#include "indicators/function_leds.h"
#include "indicators/led_board.h"
#include "supervisor/globals.h"
#include "tests/support/appliance.h"
#include "tests/unit/unit_support.h"

namespace {

// The frame (phase 1) for one slot holding code and every other slot empty.
BoardFrame frameForSlot(int slot, int code) {
    for (int s = 0; s < kSlots; ++s) stickLedTmp[s] = s == slot ? code : 0;
    tmpToReal();
    return computeBoardFrame(stickLed, 1);
}

}  // namespace

TEST(Leds, EachSlotLightsItsOwnExpanderBitActiveLow) {
    const struct { int slot, code; unsigned first, second; bool master; } rows[] = {
        {-1, 0, 0xff, 0xff, false}, {0, 2, 0xff, 0xff, true},   {1, 2, 0xfe, 0xff, false}, {9, 4, 0xfd, 0xff, false},
        {2, 2, 0xfb, 0xff, false},  {12, 2, 0x7f, 0xff, false}, {5, 2, 0xff, 0xfe, false}, {13, 4, 0xff, 0xfd, false},
        {16, 2, 0xff, 0x7f, false}, {3, 7, 0xff, 0xff, false}};   // a fast blink is dark in phase 1
    for (const auto& row : rows) {
        const BoardFrame frame = frameForSlot(row.slot, row.code);
        EXPECT_EQ(std::make_tuple(frame.firstByte, frame.secondByte, frame.masterLit),
                  std::make_tuple(row.first, row.second, row.master)) << row.slot << ":" << row.code;
    }
    for (auto [slot, code, failure] : {std::tuple{0, 5, true}, {16, 6, true}, {3, 7, true}, {4, 8, false},
                                       {4, -1, false}, {4, 1, false}})
        EXPECT_EQ(frameForSlot(slot, code).noFailure, !failure) << slot << ":" << code;
    std::string slow, fast;
    for (int frame = 0, phase = 0; frame < 8; ++frame) {
        phase = nextBlinkPhase(phase);   // the first frame has phase 1, the eighth 0
        slow += codeLit(3, phase) ? '1' : '0';
        fast += codeLit(7, phase) ? '1' : '0';
    }
    EXPECT_EQ(slow + " " + fast, "00001111 01010101");
}

// A lit line reads "1\n" from sysfs; a missing value file ends the calling process
// with its message on standard output (pointed at standard error for the check).
TEST(Leds, FunctionLedToggleAndMissingValueFile) {
    ASSERT_TRUE(unit::writeFile("/sys/class/gpio/gpio13/value", "1\n"));
    blinkLed4();
    EXPECT_EQ(sim::gpioValue(sim::kLed4), "0");
    sim::removeGpio(sim::kLed3);
    EXPECT_EXIT((dup2(2, 1), cmdLed3("1")), testing::ExitedWithCode(1), "value led 3 error\\.");
    EXPECT_EXIT((dup2(2, 1), blinkLed3()), testing::ExitedWithCode(1), "Cannot open value file gpio14\\.");
}
