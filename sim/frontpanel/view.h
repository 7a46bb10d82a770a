// What the front panel reads from the simulated appliance: the LEDs as the board
// shows them (GPIO value files, the bytes the expander chip took),
// the stick status words, the daemon's command files and its console log.
#pragma once
#include <array>
#include <string>
#include <vector>

namespace panel {

constexpr int kSlots = 17;
constexpr int kFunctionLeds = 4;   // LED1 distribute .. LED4 shift
// Seconds within which two changes make a stick LED blink: a slow blink holds each
// state for four board frames, and a loaded appliance draws a frame a second.
constexpr double kBlinkWindow = 10;

// One lamp and when it last changed, so a steady lamp can be told from a blinking one.
struct Lamp {
    bool lit = false;
    double changed[2] = {-100, -100};   // the last two changes, newest first
    void set(bool on, double now);
    bool blinking(double now) const { return now - changed[1] < kBlinkWindow; }
};

struct View {
    std::array<Lamp, kFunctionLeds> function;   // LED1 .. LED4
    std::array<Lamp, kSlots> stick;             // by slot, decoded from the board
    std::array<int, kSlots> word{};             // status words, by slot
    bool wordsKnown = false;
    std::array<bool, 8> jobFile{};   // /tmp/btN.cmd, N = 1..7
    std::array<bool, 8> marker{};    // /tmp/showresultN.cmd; [0] the display marker
    // Job N's file was seen under its marker: the marker then stands for a result,
    // not for a request whose job file the button process has yet to write.
    std::array<bool, 8> ran{};
    bool shutdownRan = false, rebootAsked = false;
    std::string updateLog;
};

// Refreshes everything but the console log; now in seconds.
void readAppliance(View& view, double now);

// Which stick slot LED position p (0..16) of the board shows, and back.
int slotOfPosition(int position);
int positionOfSlot(int slot);

// Lit stick LEDs from the kernel's record of a write to the expander
// ("smbus_write: i2c-0 a=027 f=0000 c=fe BYTE_DATA l=1 [ff]"): bit clear = lit.
// False when the line is not a write to the expander.
bool decodeBoardLine(const std::string& line, std::array<bool, kSlots>& lit);

// The last `lines` lines of a text file (empty when it cannot be read).
std::vector<std::string> tailOf(const std::string& path, int lines);

// Words for the function LEDs: what the daemon is doing, as a teacher reads it.
std::string patternInWords(const View& view);

// A stick failed in the job on display: a code 5, 6 or 7 in any slot, the board's
// own rule for a blinking result.
bool anyFailure(const View& view);

// The meaning of a stick status code.
const char* codeInWords(int code);

}   // namespace panel
