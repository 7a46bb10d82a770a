// Helpers of the button system tests: the board's button lines, a job requested
// and waited for through the buttons, a clear gesture, a dismissal, and the
// patterns the LEDs hold.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <thread>

#include "tests/support/appliance.h"

namespace paneltest {

using namespace std::chrono_literals;

// The board's button lines.
constexpr int kShift = 3, kDistribute = 6, kCollect = 1, kClear = 0;
constexpr auto kLong = 60s;
constexpr auto kJob = 600s;              // a job under the slow kernel, formats included

inline sim::StickSpec stickOf(int sizeKiB, const std::string& label = "") {
    sim::StickSpec stick;
    stick.sizeKiB = sizeKiB;
    stick.label = label;
    return stick;
}

inline bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }
inline std::string jobFile(int job) { return "/tmp/bt" + std::to_string(job) + ".cmd"; }
inline std::string marker(int job) { return "/tmp/showresult" + std::to_string(job) + ".cmd"; }

inline bool boardShows(bool masterLit, int first, int second) {
    return sim::waitFor([&] {
        const auto bytes = sim::boardBytes();
        return !bytes.empty() && bytes.back() == std::make_pair(first, second) &&
               sim::gpioValue(sim::kMasterLed) == (masterLit ? "1" : "0");
    }, kLong);
}

// The pattern holds for eight frames in a row, so it is not a blink. The job's own
// tail may still write the ready pattern once after its file is gone, so the run
// of eight frames may start late.
inline bool showsSteadily(const std::string& leds) {
    size_t runStart = 0;
    bool inRun = false;
    return sim::waitFor([&] {
        const size_t frames = sim::boardBytes().size();
        if (sim::functionLeds() != leds) {
            inRun = false;
            return false;
        }
        if (!inRun) runStart = frames;
        inRun = true;
        return frames >= runStart + 8;
    }, kLong);
}

inline bool presenceIs(std::initializer_list<int> slots) {
    return sim::waitFor([&] {
        for (int slot = 0; slot < 17; ++slot) {
            const bool wanted = std::find(slots.begin(), slots.end(), slot) != slots.end();
            if ((sim::word(slot) == 2) != wanted) return false;
        }
        return true;
    }, kLong);
}

// Presses the buttons in the given order until the job's marker appears, releases
// them within the panel's 2 s pause (shift still held after it would cancel), and
// waits for the job to end.
inline void runJob(std::initializer_list<int> buttons, int job) {
    for (int b : buttons) sim::pressButton(b);
    // The job file comes last: until it exists the request is not complete.
    EXPECT_TRUE(sim::waitFor([job] { return exists(marker(job)) && exists(jobFile(job)); }, kLong))
        << "job " << job;
    for (int b : buttons) sim::releaseButton(b);
    EXPECT_TRUE(sim::waitFor([job] { return !exists(jobFile(job)); }, kJob)) << "job " << job;
}

// Hold about a second, let go at the prompt, press again.
inline void runClear(bool shift) {
    const int job = shift ? 7 : 3;
    if (shift) sim::pressButton(kShift);
    sim::pressButton(kClear);
    EXPECT_TRUE(sim::waitFor([] { return sim::gpioValue(sim::kLed3) == "1"; }, kLong));
    sim::releaseButton(kClear);
    sim::releaseButton(kShift);
    std::this_thread::sleep_for(500ms);  // the operator lets go; the panel looks every 100 ms
    sim::pressButton(kClear);
    EXPECT_TRUE(sim::waitFor([job] { return exists(marker(job)); }, kLong));   // after the job file
    sim::releaseButton(kClear);
    EXPECT_TRUE(sim::waitFor([job] { return !exists(jobFile(job)); }, kJob));
}

inline void dismiss() {
    sim::pressButton(kShift);
    EXPECT_TRUE(sim::waitFor([] { return !exists("/tmp/showresult.cmd"); }, kLong));
    sim::releaseButton(kShift);
    EXPECT_TRUE(sim::waitFor([] { return sim::functionLeds() == "0011"; }, kLong));
    for (int job : {1, 2, 3, 5, 6, 7}) EXPECT_FALSE(exists(marker(job))) << "marker of job " << job;
}

inline bool masterHasCollected(const std::string& suffix) {
    for (const std::string& entry : sim::stickTree(0))
        if (entry.rfind("TAMVIK-IN/SESSION", 0) == 0 && entry.size() >= suffix.size() &&
            entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    return false;
}

class Buttons : public testing::Test {
protected:
    static void SetUpTestSuite() { sim::startDaemon(); }
    static void TearDownTestSuite() { sim::stopDaemon(); }
    void TearDown() override {
        if (!HasFailure()) return;
        const std::string log = sim::consoleLog();
        printf("console log, last part:\n%s\n", log.substr(log.size() > 6000 ? log.size() - 6000 : 0).c_str());
    }
};

}  // namespace paneltest
