// The stick LED board: which LED shows which slot, the bytes and gpio71 command of a
// frame, the blink phases, and the function-LED result patterns of finished jobs.
#include "indicators/led_board.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "indicators/function_leds.h"
#include "supervisor/globals.h"
#include "tests/support/appliance.h"

namespace {

// Codes by LED position for one slot holding `code` and every other slot empty.
BoardFrame frameForSlot(int slot, int code, int phase = 1) {
    for (int s = 0; s < kSlots; ++s) stickLedTmp[s] = s == slot ? code : 0;
    tmpToReal();
    return computeBoardFrame(stickLed, phase);
}

TEST(LedBoard, SlotsReachTheirLedBitsActiveLow) {
    BoardFrame none = frameForSlot(-1, 0);
    EXPECT_FALSE(none.masterLit);
    EXPECT_EQ(expanderCommand(none), "i2cset -y -f 0 0x27 0xff 0xff");
    EXPECT_EQ(masterLedCommand(none.masterLit), "echo 0 > /sys/class/gpio/gpio71/value");
    EXPECT_EQ(expanderCommand(frameForSlot(1, 2)), "i2cset -y -f 0 0x27 0xfe 0xff");
    EXPECT_EQ(frameForSlot(9, 4).firstByte, 0xfdu);
    EXPECT_EQ(expanderCommand(frameForSlot(16, 2)), "i2cset -y -f 0 0x27 0xff 0x7f");
    EXPECT_EQ(frameForSlot(5, 2).secondByte, 0xfeu);
    BoardFrame master = frameForSlot(0, 2);
    EXPECT_EQ(masterLedCommand(master.masterLit), "echo 1 > /sys/class/gpio/gpio71/value");
    EXPECT_EQ(expanderCommand(master), "i2cset -y -f 0 0x27 0xff 0xff");
}

TEST(LedBoard, BlinkPhasesAndFailures) {
    std::string slow, fast;
    int phase = 0;
    for (int frame = 0; frame < 8; ++frame) {
        phase = nextBlinkPhase(phase);   // the first frame uses phase 1
        slow += codeLit(3, phase) ? '1' : '0';
        fast += codeLit(7, phase) ? '1' : '0';
    }
    EXPECT_EQ(phase, 0);
    EXPECT_EQ(slow, "00001111");         // phases 1..7, 0
    EXPECT_EQ(fast, "01010101");

    EXPECT_FALSE(frameForSlot(0, 5).noFailure);    // the master counts too
    EXPECT_FALSE(frameForSlot(16, 6).noFailure);
    EXPECT_FALSE(frameForSlot(3, 7).noFailure);
    for (int odd : {-1, 1, 8}) {
        BoardFrame f = frameForSlot(4, odd);
        EXPECT_TRUE(f.noFailure) << odd;
        EXPECT_EQ(f.firstByte, 0xffu) << odd;
    }
}

// A whole frame against the appliance: gpio71, the expander shim and the result
// pattern, which waits until the job file is gone.
TEST(LedBoard, FrameDrivesBoardAndShowsResultOnlyAfterTheJob) {
    for (int s = 0; s < kSlots; ++s) stickLedTmp[s] = 0;
    stickLedTmp[0] = 4;
    stickLedTmp[2] = 4;
    stickLedTmp[10] = 7;                 // fast blink, and a failure
    tmpToReal();
    blkFlg = 0;
    sim::touch("/tmp/showresult.cmd");
    sim::touch("/tmp/showresult2.cmd");
    sim::touch("/tmp/bt2.cmd");
    for (auto cmdLed : {cmdLed1, cmdLed2, cmdLed3, cmdLed4}) cmdLed("1");

    optiswitchled();                     // phase 1: slot 10 dark
    EXPECT_EQ(blkFlg, 1);
    EXPECT_EQ(sim::gpioValue(sim::kMasterLed), "1");
    ASSERT_FALSE(sim::boardBytes().empty());
    EXPECT_EQ(sim::boardBytes().back(), std::make_pair(0xfb, 0xff));
    EXPECT_EQ(sim::functionLeds(), "1111");   // the job still runs: its LEDs

    ASSERT_EQ(unlink("/tmp/bt2.cmd"), 0);
    optiswitchled();                     // phase 2: slot 10 lit, LED2 blinks dark
    EXPECT_EQ(sim::boardBytes().back(), std::make_pair(0xf3, 0xff));
    EXPECT_EQ(sim::functionLeds(), "0000");
    optiswitchled();                     // phase 3: LED2 lit
    EXPECT_EQ(sim::functionLeds(), "0010");
}

}  // namespace
