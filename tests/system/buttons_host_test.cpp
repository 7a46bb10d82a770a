// The running daemon on the sandbox's own kernel, driven by its buttons: the stick
// LED blink phases, the clear gesture, shutdown and the fatal value-file paths.
// Nothing is mounted here: sticks are pretended through the status words, which the
// operation process leaves alone while a result display is active.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

#include "tests/support/appliance.h"

namespace {

using namespace std::chrono_literals;

// The board's button lines.
constexpr int kShift = 3, kClear = 0;
constexpr auto kLong = 30s;

pid_t gDaemon = -1;

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

void setLed3(const char* value) {
    FILE* f = fopen("/sys/class/gpio/gpio14/value", "r+");
    ASSERT_NE(f, nullptr);
    fputs(value, f);
    fclose(f);
}

void pretendStudent(int slot) {
    ASSERT_TRUE(sim::touch("/tmp/showresult.cmd"));
    // A presence refresh that began before the marker appeared may still clear the
    // word once; after that the operation process leaves it alone.
    for (int attempt = 0; attempt < 5; ++attempt) {
        sim::setWord(slot, 2);
        if (!sim::waitFor([slot] { return sim::word(slot) != 2; }, 300ms)) return;
    }
    FAIL() << "the presence refresh keeps clearing word " << slot;
}

// How long the operator holds or lets go: the stimulus itself, not a wait.
void holdFor(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

bool led3Is(const char* value) {
    return sim::waitFor([value] { return sim::gpioValue(sim::kLed3) == value; }, kLong);
}

// Exit status of the button process once it has ended, -1 while it runs.
int daemonExitStatus() {
    int status = 0;
    if (waitpid(gDaemon, &status, WNOHANG) != gDaemon) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

bool daemonExitsWith(int expected) {
    int status = -1;
    const bool ended = sim::waitFor([&] { return (status = daemonExitStatus()) >= 0; }, kLong);
    return ended && status == expected;
}

class ButtonsHost : public testing::Test {
protected:
    static void SetUpTestSuite() { gDaemon = sim::startDaemon(); }
    static void TearDownTestSuite() { sim::stopDaemon(); }
};

TEST_F(ButtonsHost, StickLedsBlinkSlowWhileWorkingAndFastOnFailure) {
    ASSERT_TRUE(sim::waitFor([] { return !sim::boardBytes().empty(); }, kLong));
    pretendStudent(1);
    sim::setWord(1, 3);                  // slot 1: bit 0 of the first byte
    sim::setWord(9, 7);                  // slot 9: bit 1
    const size_t start = sim::boardBytes().size() + 1;   // skip a frame in flight
    ASSERT_TRUE(sim::waitFor([&] { return sim::boardBytes().size() >= start + 16; }, kLong));
    const auto frames = sim::boardBytes();
    std::string slow, fast;
    for (size_t i = start; i < start + 16; ++i) {
        slow += (frames[i].first & 0x01) ? '0' : '1';    // active low
        fast += (frames[i].first & 0x02) ? '0' : '1';
    }
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_NE(slow[i], slow[i + 4]) << slow;          // four frames lit, four dark
        EXPECT_EQ(slow[i], slow[i + 8]) << slow;
    }
    for (size_t i = 0; i + 1 < 16; ++i) EXPECT_NE(fast[i], fast[i + 1]) << fast;
    // The slow blink lights up in phase 5, an odd phase, where the fast one is dark.
    const size_t rise = slow.find("01") + 1;
    EXPECT_EQ(fast[rise], '0') << slow << " " << fast;

    // A failure code makes the finished job's pattern blink; once every stick is
    // done it is steady.
    ASSERT_TRUE(sim::touch("/tmp/showresult1.cmd"));
    EXPECT_TRUE(sim::waitFor([] { return sim::functionLeds() == "0000"; }, kLong));
    EXPECT_TRUE(sim::waitFor([] { return sim::functionLeds() == "0001"; }, kLong));
    sim::setWord(1, 4);
    sim::setWord(9, 4);
    const size_t settled = sim::boardBytes().size() + 2;
    ASSERT_TRUE(sim::waitFor([&] { return sim::boardBytes().size() >= settled + 4; }, kLong));
    EXPECT_EQ(sim::functionLeds(), "0001");
    EXPECT_EQ(sim::boardBytes().back(), std::make_pair(0xfc, 0xff));
    ASSERT_EQ(system("rm -f /tmp/showresult*.cmd"), 0);
}

TEST_F(ButtonsHost, FailedClearGesturesRequestNothing) {
    pretendStudent(4);
    // Released before the hold of about one second is over: LED3 is set dark.
    setLed3("1");
    sim::pressButton(kClear);
    holdFor(300ms);
    sim::releaseButton(kClear);
    EXPECT_TRUE(led3Is("0"));

    // Held on through the prompt: a press without a release first does not confirm.
    sim::pressButton(kClear);
    EXPECT_TRUE(led3Is("1"));
    EXPECT_TRUE(led3Is("0"));
    sim::releaseButton(kClear);

    // Released at the prompt but not pressed again within about three seconds.
    sim::pressButton(kClear);
    EXPECT_TRUE(led3Is("1"));
    sim::releaseButton(kClear);
    EXPECT_TRUE(led3Is("0"));

    // A request would leave its marker until a dismissal.
    for (const char* f : {"/tmp/showresult3.cmd", "/tmp/showresult7.cmd", "/tmp/bt3.cmd", "/tmp/bt7.cmd"})
        EXPECT_FALSE(exists(f)) << f;
}

TEST_F(ButtonsHost, ConfirmedClearGestureRequestsTheClear) {
    pretendStudent(4);
    sim::pressButton(kClear);
    ASSERT_TRUE(led3Is("1"));
    sim::releaseButton(kClear);
    holdFor(500ms);                      // the panel looks every 100 ms
    sim::pressButton(kClear);
    EXPECT_TRUE(sim::waitFor([] { return exists("/tmp/showresult3.cmd"); }, kLong));
    sim::releaseButton(kClear);
    EXPECT_TRUE(exists("/tmp/showresult.cmd"));
    EXPECT_FALSE(exists("/tmp/showresult7.cmd"));
    EXPECT_TRUE(sim::waitFor([] { return sim::consoleLog().find("\ndel\n") != std::string::npos; }, kLong));
    // The runner takes the job; without sticks it ends at once.
    EXPECT_TRUE(sim::waitFor([] { return !exists("/tmp/bt3.cmd"); }, kLong));
}

// A dismissal writes the ready pattern while the LED process may still be writing
// the result it read a moment before. Here the markers vanish with nobody writing
// the ready pattern: the LED process itself must not leave the old result lit.
TEST_F(ButtonsHost, NoResultPatternOutlivesItsMarkers) {
    ASSERT_TRUE(exists("/tmp/showresult3.cmd"));
    ASSERT_TRUE(sim::waitFor([] { return sim::functionLeds() == "0100"; }, kLong));   // clear: LED3
    ASSERT_EQ(unlink("/tmp/showresult3.cmd"), 0);
    ASSERT_EQ(unlink("/tmp/showresult.cmd"), 0);
    EXPECT_TRUE(sim::waitFor([] { return sim::functionLeds() == "0011"; }, kLong));
    ASSERT_TRUE(sim::touch("/tmp/showresult.cmd"));     // the display the next test dismisses
    ASSERT_TRUE(sim::touch("/tmp/showresult3.cmd"));
}

TEST_F(ButtonsHost, ShiftDismissesTheResultThenHeldLongShutsDown) {
    ASSERT_TRUE(exists("/tmp/showresult3.cmd"));
    sim::pressButton(kShift);
    EXPECT_TRUE(sim::waitFor([] { return !exists("/tmp/showresult.cmd") && !exists("/tmp/showresult3.cmd"); },
                             kLong));
    EXPECT_TRUE(sim::waitFor([] { return sim::functionLeds() == "0011"; }, kLong));   // reset: ready
    EXPECT_TRUE(sim::waitFor([] { return sim::shimCalls("shutdown") == 1; }, 120s));
    EXPECT_TRUE(daemonExitsWith(0));
    sim::releaseButton(kShift);
}

// Each run loses one more line, in the order the idle cycle reads them backwards,
// so the lines read before the missing one are still there.
TEST_F(ButtonsHost, MissingValueFilesEndTheButtonProcess) {
    for (int line : {0, 1, 6}) {
        sim::removeGpio(line);
        gDaemon = sim::startDaemon();
        const std::string message = "Cannot open value file gpio" + std::to_string(line) + ".";
        EXPECT_TRUE(sim::waitFor([&] { return sim::consoleLog().find(message) != std::string::npos; }, kLong))
            << message;
        EXPECT_TRUE(daemonExitsWith(1)) << message;
        EXPECT_EQ(sim::functionLeds(), "1111") << "error pattern after " << message;
        sim::stopDaemon();
    }
    sim::removeGpio(kShift);             // shift leaves the LEDs as they are: ready
    gDaemon = sim::startDaemon();
    EXPECT_TRUE(daemonExitsWith(1));
    EXPECT_NE(sim::consoleLog().find("Cannot open value file gpio3."), std::string::npos);
    EXPECT_EQ(sim::functionLeds(), "0011");
}

}  // namespace
