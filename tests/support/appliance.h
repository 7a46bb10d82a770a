// Test support for the simulated appliance (sim/appliance), fresh for each test binary (KERNEL: an
// emulated computer with FAT sticks). A failing step is a test failure where it happens.
#pragma once
#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace sim {

using namespace std::chrono_literals;

// ---- Sticks (KERNEL tests only): slot 0 is the master, 1..16 the students -------
// The stick tool (sim/stick) with literal arguments, e.g. {"plug", "1", "--size", "8192"}.
bool stick(std::vector<std::string> args);

// ---- Buttons (read "1" when released), LEDs, the stick LED board -----------------
constexpr int kLed1 = 68, kLed2 = 110, kLed3 = 14, kLed4 = 13;
void pressButton(int gpio);
void releaseButton(int gpio);
std::string gpioValue(int gpio);   // first character of the value file, "" if none
std::string functionLeds();        // "LED4 LED3 LED2 LED1", e.g. "0011"
std::vector<std::pair<int, int>>
boardBytes();                             // what the expander chip took (KERNEL), oldest first
int boardAttempts();                      // how often i2cset ran (KERNEL), answered or not
void expanderAnswers(bool answers);       // false: the expander cannot be reached until true
int shimCalls(const std::string& shim);   // how often "reboot" / "shutdown" ran

// ---- The shared status segment, the daemon, files --------------------------------
int32_t word(int index);
void setWord(int index, int32_t value);
// The daemon as at boot (cwd "/", its own process group); STICKDUP_DAEMON and
// STICKDUP_EMULATOR name another build and the program that runs it (an ARM one).
pid_t startDaemon();
void stopDaemon();                              // kill the whole process family, wait for it
struct stat lstatOf(const std::string& path);   // all zero when nothing is there
inline bool exists(const std::string& path) { return lstatOf(path).st_nlink > 0; }   // a link too
std::string readFile(const std::string& path);
inline std::string consoleLog() { return readFile("/tmp/log.txt"); }
bool writeFile(const std::string& path, const std::string& text);
inline bool touch(const std::string& path) { return writeFile(path, ""); }
std::string shellOutput(const std::string& command);
// A `mount` first on PATH that lists these slots (plain folders on /tmp) as mounted:
// unit tests run in host appliances, where nothing can be mounted.
bool listAsMounted(std::initializer_list<int> slots);
// Polls cond every 20 ms until it holds or the timeout passes; never a fixed sleep.
bool waitFor(const std::function<bool()>& cond, std::chrono::milliseconds timeout);
// A row that hangs (in the kernel, on a stick) fails once its time is up, after saying what every
// process waits on; the object's end calls it off.
struct Watchdog {
    explicit Watchdog(std::chrono::seconds limit);
    ~Watchdog();
};

}   // namespace sim
