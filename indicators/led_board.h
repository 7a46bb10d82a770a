// The LED process: stick LEDs (gpio71 and the I2C expander) and result patterns.
#pragma once
#include <string>
#include <vector>

#include "supervisor/base/globals.h"

[[noreturn]] void mainhubctrl();
void tmpToReal();
void optiswitchled();

// ---- One frame, computed without touching the board ----------------------------

// What one frame sends to the board. The bytes are as the expander receives them:
// active low, so a lit LED is a 0 bit.
struct BoardFrame {
    bool masterLit = false;       // gpio71
    unsigned firstByte = 0xff;    // bit 0..7: slots 1, 9, 2, 10, 3, 11, 4, 12
    unsigned secondByte = 0xff;   // bit 0..7: slots 5, 13, 6, 14, 7, 15, 8, 16
    bool noFailure = true;        // no position holds 5, 6 or 7
};

// The slot whose code LED position 0..16 shows.
int slotAtPosition(int position);
// The blink phase of the next frame: 0..7, then 0 again.
int nextBlinkPhase(int phase);
// Whether a stick LED showing this code is lit in this phase.
bool codeLit(int code, int phase);
// 5 (lost), 6 (folders missing) and 7 (failed) make a result pattern blink.
bool codeIsFailure(int code);
// The frame for the codes by LED position (as in stickLed) in the given phase.
BoardFrame computeBoardFrame(const int ledCodes[kSlots], int phase);
// The two shell commands of a frame.
std::string masterLedCommand(bool lit);
std::string expanderCommand(const BoardFrame& frame);

// One function-LED write of a result pattern: LED 1..4 and "0" or "1".
struct LedWrite {
    int led;
    const char* value;
};
// Result pattern of job 1, 2, 3, 5, 6 or 7 in the order it is written; empty for
// any other number. Steady when no stick failed, else blinking with the phase.
std::vector<LedWrite> resultPattern(int job, bool noFailure, int phase);
