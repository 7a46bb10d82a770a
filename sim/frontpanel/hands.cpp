// Buttons and sticks worked from the panel. Runs in the panel, inside the appliance.
#include "hands.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace panel {
namespace {

// Button lines are active low: "0" pressed, "1" released.
void setLine(int line, bool press) {
    const std::string file = "/sys/class/gpio/gpio" + std::to_string(line) + "/value";
    FILE* f = fopen(file.c_str(), "w");
    if (!f) return;
    fputs(press ? "0" : "1", f);
    fclose(f);
}

constexpr double kTap = 0.3;          // a short press, well below the 1 s of a shutdown hold
constexpr double kFirmPress = 1.5;    // a job button held until the daemon takes the request
constexpr double kClearHold = 1.0;    // the daemon reads the clear button five times, 200 ms apart
constexpr double kPromptWait = 2.5;   // its confirmation window is 3 s once LED3 is lit
constexpr double kLetGo = 0.5;        // it looks every 100 ms for the release before the press

}   // namespace

void Buttons::add(int line, bool press, double minS, double maxS, std::function<bool()> done,
                  std::string say) {
    steps_.push_back(Step{line, press, minS, maxS, std::move(done), std::move(say)});
}

void Buttons::job(int line, bool withShift) {
    const int plain = line == kDistribute ? 1 : 2;
    const std::string name = line == kDistribute ? "distribute" : "collect";
    if (withShift) add(kShift, true, 0.2, 0.2, nullptr, "holding shift");
    // Let go once the daemon took the request; with the master alone a distribute
    // press starts an update and no job file ever comes.
    add(
        line, true, 0.1, kFirmPress,
        [this, plain] { return view_.jobFile[plain] || view_.jobFile[plain + 4]; },
        "pressing " + name + (withShift ? " with shift held" : ""));
    add(line, false, 0, 0);
    if (withShift) add(kShift, false, 0, 0);
}

void Buttons::clear(bool withShift) {
    if (withShift) add(kShift, true, 0.2, 0.2, nullptr, "holding shift");
    add(
        kClear, true, kClearHold, kPromptWait, [this] { return view_.function[2].lit; },
        "clear: holding until the LED3 prompt");
    add(kClear, false, kLetGo, kLetGo, nullptr, "clear: letting go");
    if (withShift) add(kShift, false, 0, 0);
    add(
        kClear, true, 0.1, kFirmPress, [this] { return view_.jobFile[3] || view_.jobFile[7]; },
        "clear: pressing again");
    add(kClear, false, 0, 0);
}

void Buttons::tapShift() {
    add(kShift, true, kTap, kTap, nullptr, "shift pressed");
    add(kShift, false, 0, 0);
}

void Buttons::holdShiftLong() {
    add(
        kShift, true, 0, 120, [this] { return view_.shutdownRan; }, "holding shift: shutdown");
    add(kShift, false, 0, 0, nullptr, "shift released");
}

void Buttons::tick(double now, std::string& say) {
    while (!steps_.empty()) {
        Step& step = steps_.front();
        if (!started_) {
            if (step.line >= 0) setLine(step.line, step.press);
            if (!step.say.empty()) say = step.say;
            started_ = true;
            since_ = now;
        }
        const double held = now - since_;
        const bool done = held >= step.minS && (!step.done || step.done());
        if (!done && held < step.maxS) return;
        steps_.pop_front();
        started_ = false;
    }
}

void Buttons::releaseAll() {
    steps_.clear();
    for (int line : {kShift, kDistribute, kCollect, kClear}) setLine(line, false);
}

void Sticks::queue(int slot, std::vector<std::string> args, std::string what) {
    todo_.push_back(Op{slot, std::move(args), std::move(what)});
}

void Sticks::tick(std::string& say) {
    if (child_ >= 0) {
        int status = 0;
        if (waitpid(child_, &status, WNOHANG) != child_) return;
        child_ = -1;
        const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        say = "slot " + std::to_string(running_.slot) + ": " + running_.what +
              (ok ? ": done" : std::string(": FAILED, see ") + kLogFile);
        if (ok && running_.args[0] != "tree") note[running_.slot] = running_.what;
    }
    if (todo_.empty()) return;
    running_ = todo_.front();
    todo_.pop_front();
    say = "slot " + std::to_string(running_.slot) + ": " + running_.what + "...";
    fflush(nullptr);
    child_ = fork();
    if (child_ == 0) {
        // The tree goes to a file of its own; everything else is for the log.
        const bool tree = running_.args[0] == "tree";
        const int out = open(tree ? kTreeFile : kLogFile,
                             O_WRONLY | O_CREAT | (tree ? O_TRUNC : O_APPEND), 0644);
        const int log = open(kLogFile, O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int none = open("/dev/null", O_RDONLY);
        dup2(none, 0);
        dup2(out, 1);
        dup2(log, 2);
        std::vector<char*> argv{const_cast<char*>("stick")};
        for (std::string& a : running_.args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execvp("stick", argv.data());
        _exit(127);
    }
    if (child_ < 0) say = "cannot start the stick tool";
}

}   // namespace panel
