// Test support for the simulated appliance. Every test binary runs inside a fresh
// appliance (sim/appliance): its own /tmp, /dev, GPIO value files, shared memory and,
// for KERNEL tests, a user-mode kernel with real FAT sticks on loop + device-mapper.
// The functions here drive that appliance the way a teacher and the hardware would.
#pragma once
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace sim {

using namespace std::chrono_literals;

// ---- Sticks (KERNEL tests only) -------------------------------------------------
// Slot 0 is the master (/dev/tmvm1-part{N}), 1..16 the students (/dev/tmvl{slot}-part{N}).
// partition: 1..5 gives the numbered node, 0 the whole-device node "-part".
// fatBits: 0 lets mkfs.vfat choose, else 12/16/32.
struct StickSpec {
    int sizeKiB = 64 * 1024;
    std::string label;
    int partition = 1;
    int fatBits = 0;
    // mkfs.vfat takes ASCII labels only (at most 11, no leading blank, none of
    // *?.,;:/\|+=<>[]"); rawLabel writes up to 11 bytes as they stand instead.
    bool rawLabel = false;
};
bool plugStick(int slot, const StickSpec& spec = {});   // make a fresh FAT image and plug it
bool replugStick(int slot);                              // plug the existing image again
void pullStick(int slot);         // nodes vanish, I/O on the device fails from now on
void hangStick(int slot);         // I/O on the device blocks until resumeStick
void resumeStick(int slot);
void failWrites(int slot);        // reads work, every write fails (a worn-out stick)
void slowStick(int slot, int delayMs);   // every I/O takes delayMs longer (a slow stick)
std::string stickNode(int slot);  // the node the daemon would use, e.g. /dev/tmvl3-part1
std::string stickLabel(int slot); // label as blkid reads it now ("" when none)

// Content: the helpers mount the stick privately (never at the daemon's mount points),
// act, and unmount again, so a later format or daemon mount is not disturbed.
// Paths are relative to the stick's root; folders are created as needed.
bool putFile(int slot, const std::string& relPath, const std::string& content);
bool putBigFile(int slot, const std::string& relPath, long bytes);   // sparse-free filler
bool putDir(int slot, const std::string& relPath);
bool putSymlink(int slot, const std::string& relPath, const std::string& target);
bool stickHas(int slot, const std::string& relPath);
std::string stickRead(int slot, const std::string& relPath);
std::vector<std::string> stickTree(int slot);            // every entry, sorted, "dir/" for folders

// ---- Buttons, LEDs, the stick LED board ----------------------------------------
// Buttons read "1" when released; pressing writes "0". The board's lines: shift gpio3,
// distribute gpio6, collect gpio1, clear gpio0.
constexpr int kButtonDistribute = 6, kButtonCollect = 1, kButtonClear = 0, kButtonShift = 3;
constexpr int kLed1 = 68, kLed2 = 110, kLed3 = 14, kLed4 = 13, kMasterLed = 71;
void pressButton(int gpio);
void releaseButton(int gpio);
std::string gpioValue(int gpio);           // first character of the value file, "" if none
void removeGpio(int gpio);                 // make the value file vanish (fatal-path tests)
std::string functionLeds();                // "LED4 LED3 LED2 LED1" as four chars, e.g. "0011"
// Byte pairs the i2cset shim received, oldest first.
std::vector<std::pair<int, int>> boardBytes();
int shimCalls(const std::string& shim);    // how often "reboot" / "shutdown" ran

// ---- The shared status segment --------------------------------------------------
int32_t word(int index);                   // reads key 123654 (attaches on first use)
void setWord(int index, int32_t value);

// ---- The daemon -----------------------------------------------------------------
pid_t startDaemon();                       // build/stickdupd (or $STICKDUP_DAEMON), cwd "/", as at boot
bool daemonRunning();                      // some process of the daemon's family still runs
void stopDaemon();                         // kill the whole process family
std::string consoleLog();                  // /tmp/log.txt
bool touch(const std::string& path);       // create an empty file
std::string readFile(const std::string& path);

// ---- Waiting --------------------------------------------------------------------
// Polls cond every 20 ms until it holds or the timeout passes; never a fixed sleep.
bool waitFor(const std::function<bool()>& cond, std::chrono::milliseconds timeout);

}  // namespace sim
