// The daemon as at boot without sticks, the tests in order on one appliance.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>

#include "tests/support/appliance.h"

namespace {

using namespace std::chrono_literals;
constexpr int kShift = 3, kClear = 0;
constexpr auto npos = std::string::npos;
pid_t gDaemon = -1;
using sim::exists;

bool until(const std::function<bool()>& cond) { return sim::waitFor(cond, 60s); }
bool ledsAre(const std::string& leds) {
    return until([&] { return sim::functionLeds() == leds; });
}
bool exitsWith(int code) {
    int status = -1;
    return until([&] { return waitpid(gDaemon, &status, WNOHANG) == gDaemon; }) &&
           WIFEXITED(status) && WEXITSTATUS(status) == code;
}

// The daemon's two children named as it is, and no zombie anywhere. Under a result display (on
// for the tests below) the words keep the job's codes: it is on once a word planted for an empty
// slot survives a second, a refresh under way ended.
TEST(Daemon, ThreeProcessesAndAResultDisplay) {
    gDaemon = sim::startDaemon();
    ASSERT_TRUE(ledsAre("0011"));
    const std::string pid = std::to_string(gDaemon);
    const std::string census =
        "pgrep -c -P " + pid + " -x \"$(cat /proc/" + pid + "/comm)\"; ps -e -o stat= | grep -c ^Z";
    EXPECT_TRUE(until([&] { return sim::shellOutput(census) == "2\n0\n"; }));
    ASSERT_TRUE(sim::touch("/tmp/showresult.cmd"));
    ASSERT_TRUE(until([] {
        sim::setWord(6, 9);
        return !sim::waitFor([] { return sim::word(6) != 9; }, 1s);
    }));
    sim::setWord(6, 0);
}

// Slot 1 working (slow blink, first byte's bit 0), slot 9 failed (fast blink, bit 1); slot 3 (bit
// 4) and slot 5 (the second byte's bit 0) hold a present stick.
TEST(Daemon, StickLedsBlinkByPhaseAndAFailureMakesTheResultBlink) {
    for (auto [slot, code] : {std::pair{1, 3}, {9, 7}, {5, 2}, {3, 2}}) sim::setWord(slot, code);
    const size_t start = sim::boardBytes().size() + 1;   // skip a frame in flight
    ASSERT_TRUE(until([&] { return sim::boardBytes().size() >= start + 16; }));
    // A digit a frame: 1 when slot 1 is lit, plus 2 when slot 9 is (active low); phases 0..7 light
    // the slow blink in 0 and 5..7, the fast one in the even ones.
    std::string seen, phases = "30202131";
    for (const auto& frame : sim::boardBytes()) seen += static_cast<char>('0' + (~frame.first & 3));
    EXPECT_NE((phases + phases + phases).find(seen.substr(start, 16)), npos) << seen.substr(start);

    ASSERT_TRUE(sim::touch("/tmp/showresult1.cmd"));
    // Steady LEDs are sent once; a change the unreachable expander missed is tried every frame.
    const auto sentWithin = [](auto wait) {
        const size_t sent = sim::boardBytes().size();
        std::this_thread::sleep_for(wait);
        return sim::boardBytes().size() - sent;
    };
    for (int slot : {1, 9}) sim::setWord(slot, 4);
    ASSERT_TRUE(until([] { return sim::boardBytes().back() == std::make_pair(0xec, 0xfe); }));
    EXPECT_LE(sentWithin(1500ms), 1u) << "sent every frame";
    const size_t logged = sim::consoleLog().size();
    sim::expanderAnswers(false);
    const int failing = sim::boardAttempts();
    sim::setWord(5, 0);   // slot 5 dark
    // Runs within seconds, where a board refreshed only every 30 s would show one at most.
    EXPECT_TRUE(sim::waitFor([&] { return sim::boardAttempts() >= failing + 10; }, 10s))
        << "not tried again";
    const std::string said = sim::consoleLog().substr(logged);
    EXPECT_LE(std::count(said.begin(), said.end(), '\n'), 2) << "a line every frame:\n" << said;
    sim::expanderAnswers(true);
    std::this_thread::sleep_for(300ms);   // the frame that gets through
    EXPECT_LE(sentWithin(1500ms), 1u) << "sent on after the board answered";
    EXPECT_EQ(sim::boardBytes().back(), std::make_pair(0xec, 0xff));
    sim::setWord(5, 2);
    EXPECT_TRUE(until([] { return sim::boardBytes().back() == std::make_pair(0xec, 0xfe); }));
    EXPECT_EQ(sim::functionLeds(), "0001");
    ASSERT_EQ(unlink("/tmp/showresult1.cmd"), 0);   // the display stays: two students present
}

// The hand on clear: P press, R release, h hold 400 ms, L light LED3 (to see the gesture end), 1 /
// 0 wait for LED3 lit / dark. A request's marker stays; the wait outlasts the panel's 2 s pause.
TEST(Daemon, OnlyAConfirmedClearGestureAsksForTheClear) {
    const struct {
        const char* hand;
        bool asks;
    } rows[] = {{"LPhR0", false},   // released before the hold is over
                {"P10R", false},    // held on through the prompt: a press without a release first
                {"P1R0", false},    // released at the prompt, never pressed again
                {"P1RhP", true}};
    for (const auto& row : rows) {
        for (const char* c = row.hand; *c; ++c) {
            if (*c == 'P' || *c == 'R') (*c == 'P' ? sim::pressButton : sim::releaseButton)(kClear);
            if (*c == 'h') std::this_thread::sleep_for(400ms);
            if (*c == 'L') sim::releaseButton(sim::kLed3);   // a 1 written in place: LED3 lit
            EXPECT_TRUE((*c != '0' && *c != '1') ||
                        until([c] { return sim::gpioValue(sim::kLed3)[0] == *c; }))
                << row.hand << " at " << *c;
        }
        const auto asked = [] {
            return exists("/tmp/showresult3.cmd") || exists("/tmp/showresult7.cmd");
        };
        EXPECT_EQ(sim::waitFor(asked, row.asks ? 60s : 2500ms), row.asks) << row.hand;
    }
    sim::releaseButton(kClear);   // the clear without shift, ended at once for want of sticks
    EXPECT_TRUE(until([] { return exists("/tmp/showresult3.cmd") && !exists("/tmp/bt3.cmd"); }));
    EXPECT_FALSE(exists("/tmp/showresult7.cmd") || exists("/tmp/bt7.cmd"));
    EXPECT_NE(sim::consoleLog().find("\ndel\n"), npos);
}

// The clear's result (LED3) and its markers removed without a dismissal: the LED process must not
// leave it lit, and the words are freed for a stick. Shift held then shuts the appliance down.
TEST(Daemon, NoResultOutlivesItsMarkersAndHeldShiftShutsDown) {
    ASSERT_TRUE(ledsAre("0100") && sim::touch("/dev/tmvl6-part1"));
    ASSERT_EQ(unlink("/tmp/showresult3.cmd") + unlink("/tmp/showresult.cmd"), 0);
    EXPECT_TRUE(until([] { return sim::functionLeds() == "0011" && sim::word(6) == 2; }));
    sim::pressButton(kShift);
    EXPECT_TRUE(sim::waitFor([] { return sim::shimCalls("shutdown") == 1; }, 120s));
    EXPECT_TRUE(exitsWith(0));
    sim::releaseButton(kShift);
}

}   // namespace
