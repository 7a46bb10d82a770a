// The LED process (processId 2): every 150 ms it copies the stick status words,
// shows each slot's code on its stick LED (gpio71 for the master, the I2C port
// expander for the students) and, once a job has finished, its result pattern on
// the function LEDs.
#include "indicators/led_board.h"

#include <signal.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "indicators/function_leds.h"
#include "supervisor/base/file_helpers.h"
#include "supervisor/base/globals.h"
#include "supervisor/base/shell_runner.h"

namespace {

constexpr useconds_t kFrameMicros = 150000;
constexpr unsigned kReattachSeconds = 1;
constexpr int kLastPhase = 7;
constexpr int kFirstBytePositions = 8;   // positions 1..8 on the first byte, 9..16 on the second

constexpr const char* kMasterLedOn = "echo 1 > /sys/class/gpio/gpio71/value";
constexpr const char* kMasterLedOff = "echo 0 > /sys/class/gpio/gpio71/value";
constexpr const char* kExpanderFormat = "i2cset -y -f 0 0x27 0x%02x 0x%02x";

// A result pattern per job, in the order the LEDs are written. The LEDs in `lit`
// carry the result ("1" when steady, the blink value B otherwise); the others are
// written "0".
struct PatternRow {
    int job;
    int steadyOrder[4];
    int blinkOrder[4];
    int lit[2];   // 0 marks an unused entry
};
// Jobs in the order their markers are looked at: 1, 5, 2, 6, 3, 7.
constexpr PatternRow kPatterns[] = {
    {1, {1, 2, 3, 4}, {2, 3, 4, 1}, {1, 0}}, {5, {2, 3, 1, 4}, {2, 3, 1, 4}, {1, 4}},
    {2, {1, 3, 4, 2}, {1, 3, 4, 2}, {2, 0}}, {6, {1, 3, 2, 4}, {1, 3, 2, 4}, {2, 4}},
    {3, {1, 2, 4, 3}, {1, 2, 4, 3}, {3, 0}}, {7, {1, 2, 3, 4}, {1, 2, 3, 4}, {3, 4}},
};

bool tryAttach() {
    void* address = shmat(mem_ID, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) return false;
    ptr_mem_partagee = static_cast<int32_t*>(address);
    return true;
}

// Without the status words there is nothing true to show: a dark board would claim
// "no stick" and a steady result pattern "all went well". So until the segment is
// there the LED process leaves the LEDs to the other processes and quietly tries
// again once a second.
void attachSegmentUntilItWorks() {
    if (tryAttach()) return;
    perror("shmat");
    while (!tryAttach()) sleep(kReattachSeconds);
}

// One aligned 32-bit load; another process writes the word at any time.
int readStatusWord(int index) { return static_cast<volatile int32_t*>(ptr_mem_partagee)[index]; }

int cmdLed(int led, const char* value) {
    switch (led) {
        case 1:
            return cmdLed1(value);
        case 2:
            return cmdLed2(value);
        case 3:
            return cmdLed3(value);
        default:
            return cmdLed4(value);
    }
}

// Named once: every frame looks at the files of all six jobs.
struct JobFiles {
    int job;
    const char* jobFile;
    const char* marker;
};
constexpr JobFiles kJobFiles[] = {
    {1, "/tmp/bt1.cmd", "/tmp/showresult1.cmd"}, {5, "/tmp/bt5.cmd", "/tmp/showresult5.cmd"},
    {2, "/tmp/bt2.cmd", "/tmp/showresult2.cmd"}, {6, "/tmp/bt6.cmd", "/tmp/showresult6.cmd"},
    {3, "/tmp/bt3.cmd", "/tmp/showresult3.cmd"}, {7, "/tmp/bt7.cmd", "/tmp/showresult7.cmd"},
};

bool resultOnDisplay(int job) {
    for (const JobFiles& files : kJobFiles) {
        if (files.job != job) continue;
        // While the job file exists the job still runs and the LEDs belong to it.
        return fileexist(files.jobFile) != 0 && fileexist(files.marker) == 0;
    }
    return false;
}

// The board keeps what it was last sent, so a frame sends the master LED and the
// expander only what changed, or what the board did not take (the command
// failed): that part is tried again the next frame. Idle, with steady LEDs and a
// board that answers, no shell command runs. Everything is sent again every
// kResendFrames frames (30 s) all the same, for a board that lost its state
// without a command failing (a reset of the expander).
constexpr int kResendFrames = 200;
struct BoardPart {
    const char* name;
    unsigned value = 0;
    bool taken = false;     // the last command for it succeeded
    bool failing = false;   // it failed and has not answered since
};
struct SentState {
    int framesSinceResend = 0;
    BoardPart master{"the master LED"}, expander{"the LED expander"};
};
SentState gSent;

// Whether the part's command runs this frame: its value changed or was not taken,
// or everything is sent again.
bool mustSend(const BoardPart& part, unsigned value, bool resend) {
    return resend || !part.taken || part.value != value;
}

// Straight to the shell, not through to_system: the refresh would bury the
// console and event logs. A part that stops answering is said once, with its
// command's own reason, and once more when it answers again: retried in every
// frame, a dead expander would otherwise add a line to the console log every
// frame all day.
void sendPart(BoardPart& part, unsigned value, const std::string& command) {
    part.taken = system((part.failing ? command + " 2>/dev/null" : command).c_str()) == 0;
    part.value = value;
    if (part.taken == !part.failing) return;
    part.failing = !part.taken;
    printf(part.failing ? "%s does not answer; tried again every frame\n" : "%s answers again\n",
           part.name);
}

void sendBoardChanges(const BoardFrame& frame) {
    SentState& sent = gSent;
    const bool resend = ++sent.framesSinceResend >= kResendFrames;
    if (resend) sent.framesSinceResend = 0;
    // The commands are made only when sent: a steady frame allocates nothing.
    const unsigned master = frame.masterLit ? 1 : 0;
    if (mustSend(sent.master, master, resend))
        sendPart(sent.master, master, masterLedCommand(frame.masterLit));
    const unsigned expander = frame.firstByte << 8 | frame.secondByte;
    if (mustSend(sent.expander, expander, resend))
        sendPart(sent.expander, expander, expanderCommand(frame));
}

// Whether the last frame wrote a result pattern. A dismissal writes the ready
// pattern while this process may be writing the result it read a moment before;
// the frame after it restores the ready pattern, so no stale result stays lit.
bool gResultShown = false;

}   // namespace

int slotAtPosition(int position) {
    if (position <= 0) return 0;
    return position % 2 == 1 ? (position + 1) / 2 : 8 + position / 2;
}

int nextBlinkPhase(int phase) { return phase >= kLastPhase ? 0 : phase + 1; }

bool codeIsFailure(int code) { return code == 5 || code == 6 || code == 7; }

bool codeLit(int code, int phase) {
    switch (code) {
        case 2:
        case 4:
            return true;
        case 3:
            return phase == 0 || phase >= 5;   // four frames dark, four lit
        case 7:
            return phase % 2 == 0;   // changes every frame
        default:
            return false;   // 0, 1, 5, 6 and unknown codes
    }
}

BoardFrame computeBoardFrame(const int ledCodes[kSlots], int phase) {
    BoardFrame frame;
    unsigned first = 0;
    unsigned second = 0;
    for (int p = 0; p < kSlots; ++p) {
        if (codeIsFailure(ledCodes[p])) frame.noFailure = false;
        if (!codeLit(ledCodes[p], phase)) continue;
        if (p == 0)
            frame.masterLit = true;
        else if (p <= kFirstBytePositions)
            first |= 1u << (p - 1);
        else
            second |= 1u << (p - 1 - kFirstBytePositions);
    }
    frame.firstByte = ~first & 0xffu;   // the expander's outputs are active low
    frame.secondByte = ~second & 0xffu;
    return frame;
}

std::string masterLedCommand(bool lit) { return lit ? kMasterLedOn : kMasterLedOff; }

std::string expanderCommand(const BoardFrame& frame) {
    char command[64];
    snprintf(command, sizeof command, kExpanderFormat, frame.firstByte, frame.secondByte);
    return command;
}

std::vector<LedWrite> resultPattern(int job, bool noFailure, int phase) {
    std::vector<LedWrite> writes;
    const char* blinkValue = phase % 2 == 1 ? "1" : "0";
    for (const PatternRow& row : kPatterns) {
        if (row.job != job) continue;
        const int* order = noFailure ? row.steadyOrder : row.blinkOrder;
        for (int i = 0; i < 4; ++i) {
            const int led = order[i];
            const bool carries = led == row.lit[0] || led == row.lit[1];
            writes.push_back({led, !carries ? "0" : noFailure ? "1" : blinkValue});
        }
    }
    return writes;
}

void tmpToReal() {
    for (int p = 0; p < kSlots; ++p) stickLed[p] = stickLedTmp[slotAtPosition(p)];
}

void optiswitchled() {
    blkFlg = nextBlinkPhase(blkFlg);
    const BoardFrame frame = computeBoardFrame(stickLed, blkFlg);
    sendBoardChanges(frame);
    bool shown = false;
    for (const PatternRow& row : kPatterns) {
        if (!resultOnDisplay(row.job)) continue;
        for (const LedWrite& write : resultPattern(row.job, frame.noFailure, blkFlg))
            (void)cmdLed(write.led, write.value);
        shown = true;
    }
    // Only a dismissal removes "/tmp/showresult.cmd"; a new job keeps it and owns the LEDs.
    if (gResultShown && !shown && fileexist("/tmp/showresult.cmd") != 0) showReadyPattern();
    gResultShown = shown;
}

void mainhubctrl() {
    logEvt("mainhub", 0, 0);   // the button process's event log, as at start-up
    keepCommandStatuses();     // its only children are its own board commands, waited for
    attachSegmentUntilItWorks();
    blkFlg = 0;
    for (;;) {
        for (int slot = 0; slot < kSlots; ++slot) stickLedTmp[slot] = readStatusWord(slot);
        tmpToReal();
        optiswitchled();
        usleep(kFrameMicros);
    }
}
