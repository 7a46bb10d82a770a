// The panel's hands: the four buttons pressed and held as a person does it, and
// the sticks plugged, pulled, hung and looked at through the `stick` tool.
#pragma once
#include <sys/types.h>

#include <deque>
#include <functional>
#include <string>

#include "view.h"

namespace panel {

// Button lines of the board.
constexpr int kShift = 3, kDistribute = 6, kCollect = 1, kClear = 0;

// One step of a gesture: set a line (or none, -1), then wait at least minS and until
// `done` holds or maxS has passed.
struct Step {
    int line;
    bool press;
    double minS, maxS;
    std::function<bool()> done;
    std::string say;
};

class Buttons {
public:
    explicit Buttons(const View& view) : view_(view) {}
    // Gestures queue up: a shift typed right after d cancels the job d started.
    void job(int line, bool withShift);   // distribute, collect
    void clear(bool withShift);           // hold, let go, press again
    void tapShift();                      // dismiss or cancel
    void holdShiftLong();                 // shutdown
    void tick(double now, std::string& say);
    void releaseAll();

private:
    void add(int line, bool press, double minS, double maxS, std::function<bool()> done = nullptr,
             std::string say = "");
    const View& view_;
    std::deque<Step> steps_;
    bool started_ = false;
    double since_ = 0;
};

// Stick commands run one after the other in a child process each, so the screen
// goes on while a plug takes its seconds.
class Sticks {
public:
    void queue(int slot, std::vector<std::string> args, std::string what);
    void tick(std::string& say);
    bool idle() const { return child_ < 0 && todo_.empty(); }
    std::string note[kSlots];   // what the panel last did to a slot
    static constexpr const char* kTreeFile = "/sim/panel-tree.txt";
    static constexpr const char* kLogFile = "/sim/panel-sticks.log";

private:
    struct Op {
        int slot;
        std::vector<std::string> args;
        std::string what;
    };
    std::deque<Op> todo_;
    pid_t child_ = -1;
    Op running_;
};

}   // namespace panel
