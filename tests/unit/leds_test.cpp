// The LEDs: which expander bit shows which slot, the blink phases, a whole frame
// against the appliance's board, and the function LEDs' value files.
#include <gtest/gtest.h>
#include <unistd.h>

#include "indicators/function_leds.h"
#include "indicators/led_board.h"
#include "supervisor/globals.h"
#include "tests/support/appliance.h"
#include "tests/unit/unit_support.h"

namespace {

// The frame for one slot holding code and every other slot empty.
BoardFrame frameForSlot(int slot, int code, int phase = 1) {
    for (int s = 0; s < kSlots; ++s) stickLedTmp[s] = s == slot ? code : 0;
    tmpToReal();
    return computeBoardFrame(stickLed, phase);
}

}  // namespace

TEST(Leds, EachSlotLightsItsOwnExpanderBitActiveLow) {
    const struct { int slot, code; unsigned first, second; bool master; } rows[] = {
        {-1, 0, 0xff, 0xff, false}, {0, 2, 0xff, 0xff, true},  {1, 2, 0xfe, 0xff, false}, {9, 4, 0xfd, 0xff, false},
        {2, 2, 0xfb, 0xff, false},  {12, 2, 0x7f, 0xff, false}, {5, 2, 0xff, 0xfe, false}, {13, 4, 0xff, 0xfd, false},
        {16, 2, 0xff, 0x7f, false}, {3, 7, 0xff, 0xff, false}};   // a fast blink is dark in phase 1
    for (const auto& row : rows) {
        const BoardFrame frame = frameForSlot(row.slot, row.code);
        EXPECT_EQ(frame.firstByte, row.first) << row.slot << ":" << row.code;
        EXPECT_EQ(frame.secondByte, row.second) << row.slot << ":" << row.code;
        EXPECT_EQ(frame.masterLit, row.master) << row.slot << ":" << row.code;
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
    EXPECT_EQ(slow, "00001111");
    EXPECT_EQ(fast, "01010101");
}

// The board gets the frame; the result pattern waits until the job file is gone.
TEST(Leds, FrameReachesTheBoardAndTheResultFollowsTheJob) {
    for (int s = 0; s < kSlots; ++s) stickLedTmp[s] = s == 0 || s == 2 ? 4 : s == 10 ? 7 : 0;
    tmpToReal();
    blkFlg = 0;
    for (const char* file : {"/tmp/showresult.cmd", "/tmp/showresult2.cmd", "/tmp/bt2.cmd"}) sim::touch(file);
    for (auto cmdLed : {cmdLed1, cmdLed2, cmdLed3, cmdLed4}) cmdLed("1");
    optiswitchled();                      // phase 1: slot 10 dark
    EXPECT_EQ(sim::gpioValue(sim::kMasterLed), "1");
    ASSERT_FALSE(sim::boardBytes().empty());
    EXPECT_EQ(sim::boardBytes().back(), std::make_pair(0xfb, 0xff));
    EXPECT_EQ(sim::functionLeds(), "1111") << "the job still runs: its LEDs";
    ASSERT_EQ(unlink("/tmp/bt2.cmd"), 0);
    optiswitchled();                      // phase 2: slot 10 lit, LED2 blinks dark
    EXPECT_EQ(sim::boardBytes().back(), std::make_pair(0xf3, 0xff));
    EXPECT_EQ(sim::functionLeds(), "0000");
    optiswitchled();
    EXPECT_EQ(sim::functionLeds(), "0010");
}

// A lit line reads "1\n" from sysfs; a missing value file ends the calling process
// with its message on standard output (pointed at standard error for the check).
TEST(Leds, FunctionLedToggleAndMissingValueFile) {
    ASSERT_TRUE(unit::writeFile("/sys/class/gpio/gpio13/value", "1\n"));
    blinkLed4();
    EXPECT_EQ(sim::gpioValue(sim::kLed4), "0");
    blinkLed4();
    EXPECT_EQ(sim::gpioValue(sim::kLed4), "1");
    sim::removeGpio(sim::kLed3);
    EXPECT_EXIT((dup2(2, 1), cmdLed3("1")), testing::ExitedWithCode(1), "value led 3 error\\.");
    EXPECT_EXIT((dup2(2, 1), blinkLed3()), testing::ExitedWithCode(1), "Cannot open value file gpio14\\.");
    cmdLed2("1");
    EXPECT_EQ(sim::gpioValue(sim::kLed2), "1") << "the other lines still work";
}
