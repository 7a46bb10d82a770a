// The appliance run by its buttons with real FAT sticks: the stick LEDs of the
// sticks present, the three jobs and their whole-stick variants started by the
// buttons, each result pattern until shift dismisses it, and a cancel by shift.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <thread>

#include "tests/support/appliance.h"

namespace {

using namespace std::chrono_literals;

// The board's button lines.
constexpr int kShift = 3, kDistribute = 6, kCollect = 1, kClear = 0;
constexpr auto kLong = 60s;
constexpr auto kJob = 600s;              // a job under the slow kernel, formats included
constexpr int kSmallKiB = 8 * 1024;

sim::StickSpec stickOf(int sizeKiB, const std::string& label = "") {
    sim::StickSpec spec;
    spec.sizeKiB = sizeKiB;
    spec.label = label;
    return spec;
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }
std::string jobFile(int job) { return "/tmp/bt" + std::to_string(job) + ".cmd"; }
std::string marker(int job) { return "/tmp/showresult" + std::to_string(job) + ".cmd"; }

bool boardShows(bool masterLit, int first, int second) {
    return sim::waitFor([&] {
        const auto bytes = sim::boardBytes();
        return !bytes.empty() && bytes.back() == std::make_pair(first, second) &&
               sim::gpioValue(sim::kMasterLed) == (masterLit ? "1" : "0");
    }, kLong);
}

// The pattern holds for eight frames in a row, so it is not a blink. The job's own
// tail may still write the ready pattern once after its file is gone, so the run
// of eight frames may start late.
bool showsSteadily(const std::string& leds) {
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

bool presenceIs(std::initializer_list<int> slots) {
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
void runJob(std::initializer_list<int> buttons, int job) {
    for (int b : buttons) sim::pressButton(b);
    // The job file comes last: until it exists the request is not complete.
    EXPECT_TRUE(sim::waitFor([job] { return exists(marker(job)) && exists(jobFile(job)); }, kLong))
        << "job " << job;
    for (int b : buttons) sim::releaseButton(b);
    EXPECT_TRUE(sim::waitFor([job] { return !exists(jobFile(job)); }, kJob)) << "job " << job;
}

// Hold about a second, let go at the prompt, press again.
void runClear(bool shift) {
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

void dismiss() {
    sim::pressButton(kShift);
    EXPECT_TRUE(sim::waitFor([] { return !exists("/tmp/showresult.cmd"); }, kLong));
    sim::releaseButton(kShift);
    EXPECT_TRUE(sim::waitFor([] { return sim::functionLeds() == "0011"; }, kLong));
    for (int job : {1, 2, 3, 5, 6, 7}) EXPECT_FALSE(exists(marker(job))) << "marker of job " << job;
}

bool masterHasCollected(const std::string& suffix) {
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

TEST_F(Buttons, StickLedsShowTheSticksPresent) {
    EXPECT_TRUE(boardShows(false, 0xff, 0xff)) << "no stick";
    struct Case { int slot, first, second; };
    for (const Case& c : {Case{1, 0xfe, 0xff}, Case{9, 0xfd, 0xff}, Case{16, 0xff, 0x7f},
                          Case{5, 0xff, 0xfe}, Case{0, 0xff, 0xff}}) {
        ASSERT_TRUE(sim::plugStick(c.slot, stickOf(kSmallKiB)));
        EXPECT_TRUE(boardShows(c.slot == 0, c.first, c.second)) << "slot " << c.slot;
        sim::pullStick(c.slot);
        EXPECT_TRUE(boardShows(false, 0xff, 0xff)) << "after slot " << c.slot;
    }
}

TEST_F(Buttons, DistributeCollectAndClearByButtons) {
    ASSERT_TRUE(sim::plugStick(0, stickOf(32 * 1024, "MASTER")));
    ASSERT_TRUE(sim::plugStick(1));
    ASSERT_TRUE(sim::plugStick(2));
    ASSERT_TRUE(sim::putFile(0, "TAMVIK-OUT/lesson.txt", "today's lesson\n"));
    ASSERT_TRUE(presenceIs({0, 1, 2}));

    runJob({kDistribute}, 1);
    EXPECT_TRUE(showsSteadily("0001"));
    EXPECT_TRUE(boardShows(true, 0xfa, 0xff));           // students 1 and 2 done
    EXPECT_EQ(sim::stickRead(1, "TAMVIK-IN/Documents/lesson.txt"), "today's lesson\n");
    EXPECT_EQ(sim::stickRead(2, "TAMVIK-IN/Documents/lesson.txt"), "today's lesson\n");
    dismiss();

    ASSERT_TRUE(sim::putFile(1, "TAMVIK-OUT/work1.txt", "one\n"));
    ASSERT_TRUE(sim::putFile(2, "TAMVIK-OUT/work2.txt", "two\n"));
    runJob({kCollect}, 2);
    EXPECT_TRUE(showsSteadily("0010"));
    EXPECT_TRUE(masterHasCollected("/UE1/Documents/work1.txt"));
    EXPECT_TRUE(masterHasCollected("/UE2/Documents/work2.txt"));
    dismiss();

    runClear(false);
    EXPECT_TRUE(showsSteadily("0100"));
    EXPECT_FALSE(sim::stickHas(1, "TAMVIK-OUT/work1.txt"));
    EXPECT_FALSE(sim::stickHas(2, "TAMVIK-IN/Documents/lesson.txt"));
    dismiss();
    EXPECT_EQ(sim::shimCalls("shutdown"), 0);          // short shift presses only
}

TEST_F(Buttons, WholeStickVariantsWithShiftHeld) {
    ASSERT_TRUE(sim::putFile(0, "whole.txt", "everything\n"));
    ASSERT_TRUE(sim::putFile(1, "mine.txt", "old\n"));
    ASSERT_TRUE(presenceIs({0, 1, 2}));

    runJob({kShift, kDistribute}, 5);
    EXPECT_TRUE(showsSteadily("1001"));
    EXPECT_EQ(sim::stickRead(1, "whole.txt"), "everything\n");
    EXPECT_FALSE(sim::stickHas(1, "mine.txt"));         // the stick was cleared first
    dismiss();

    ASSERT_TRUE(sim::putFile(2, "essay.txt", "mine\n"));
    runJob({kShift, kCollect}, 6);
    EXPECT_TRUE(showsSteadily("1010"));
    EXPECT_TRUE(masterHasCollected("/UE2/essay.txt"));
    dismiss();

    runClear(true);
    EXPECT_TRUE(showsSteadily("1100"));
    EXPECT_FALSE(sim::stickHas(2, "essay.txt"));
    dismiss();
}

TEST_F(Buttons, ShiftDuringAJobCancelsIt) {
    ASSERT_TRUE(sim::putBigFile(0, "TAMVIK-OUT/film.bin", 24L << 20));
    ASSERT_TRUE(presenceIs({0, 1, 2}));
    sim::pressButton(kDistribute);
    ASSERT_TRUE(sim::waitFor([] { return exists(jobFile(1)); }, kLong));
    sim::releaseButton(kDistribute);
    // While the job runs its LED blinks.
    EXPECT_TRUE(sim::waitFor([] { return sim::gpioValue(sim::kLed1) == "1"; }, kLong));
    EXPECT_TRUE(sim::waitFor([] { return sim::gpioValue(sim::kLed1) == "0"; }, kLong));
    ASSERT_TRUE(sim::waitFor([] { return sim::word(1) == 3 || sim::word(2) == 3; }, kJob));

    sim::pressButton(kShift);
    EXPECT_TRUE(sim::waitFor([] { return sim::gpioValue(sim::kLed4) == "1"; }, kLong));
    sim::releaseButton(kShift);
    EXPECT_TRUE(sim::waitFor([] { return !exists(jobFile(1)); }, kJob));
    // The interrupted stick is marked failed, not done, and the result blinks.
    EXPECT_TRUE(sim::word(1) == 7 || sim::word(2) == 7) << sim::word(1) << " " << sim::word(2);
    EXPECT_TRUE(sim::waitFor([] { return sim::functionLeds() == "0000"; }, kLong));
    EXPECT_TRUE(sim::waitFor([] { return sim::functionLeds() == "0001"; }, kLong));
    dismiss();
}

}  // namespace
