// The appliance's front panel in a terminal: starts the daemon inside the
// simulated appliance, plugs the lesson's sticks, shows the LEDs and status words
// and turns keys into button presses and stick moves.
//   stickdup_panel DAEMON [SLOT:KIND ...]     KIND as `stick prepare` takes it
#include <ncurses.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hands.h"
#include "screen.h"
#include "view.h"

namespace {

using namespace panel;

constexpr int kFrameMs = 100;   // fast enough to show the board's blink rhythm
constexpr const char* kDefaultLesson[] = {"0:master", "1:empty", "2:labelled", "3:empty"};

double seconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The daemon in a process group of its own, so that it ends whole with the panel.
// Its console goes to /tmp/log.txt once it runs; what it says before stays off screen.
pid_t startDaemon(const char* path) {
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid > 0) (void)setpgid(pid, pid);   // both sides, so the group exists whoever runs first
    if (pid != 0) return pid;
    setpgid(0, 0);
    const int none = open("/dev/null", O_RDWR);
    const int early = open("/sim/daemon-start.log", O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(none, 0);
    dup2(early, 1);
    dup2(early, 2);
    if (chdir("/") != 0) _exit(126);
    execl(path, path, static_cast<char*>(nullptr));
    _exit(127);
}

// The appliance's list files, as its system image would hold them: the listed
// folder of the presets, and the files of it that travel (names beginning with
// "exercice": a list line selects its text less the last character).
void fillEmptyList(const char* path, const char* line) {
    FILE* f = fopen(path, "r+");
    if (!f) return;
    if (fgetc(f) == EOF) fputs(line, f);
    fclose(f);
}

void plug(Sticks& sticks, int slot, const char* kind) {
    sticks.queue(slot, {"prepare", std::to_string(slot), kind}, kind);
}

void queueLesson(Sticks& sticks, int argc, char** argv) {
    const auto queue = [&sticks](const char* spec) {
        const char* colon = strchr(spec, ':');
        if (colon) plug(sticks, atoi(spec), colon + 1);
    };
    if (argc <= 2) {
        for (const char* spec : kDefaultLesson) queue(spec);
        return;
    }
    for (int i = 2; i < argc; ++i) queue(argv[i]);
}

struct Panel {
    View view;
    Buttons buttons{view};
    Sticks sticks;
    Screen screen;
};

void stickKey(Panel& p, int key) {
    const int slot = p.screen.selected;
    const std::string s = std::to_string(slot);
    switch (key) {
        case 'm':
            plug(p.sticks, slot, "master");
            break;
        case 'u':
            plug(p.sticks, slot, "update");
            break;
        case 'n':
            plug(p.sticks, slot, "empty");
            break;
        case 'w':
            plug(p.sticks, slot, "work");
            break;
        case 'l':
            plug(p.sticks, slot, "labelled");
            break;
        case 't':
            plug(p.sticks, slot, "small");
            break;
        case 'f':
            plug(p.sticks, slot, "full");
            break;
        case 'p':
            p.sticks.queue(slot, {"pull", s}, "pulled");
            break;
        case 'b':
            p.sticks.queue(slot, {"replug", s}, "put back");
            break;
        case 'a':
            p.sticks.queue(slot, {"answer", s}, "answers written");
            break;
        case 'h':
            p.sticks.queue(slot, {"hang", s}, "hung");
            break;
        case 'r':
            p.sticks.queue(slot, {"resume", s}, "resumed");
            break;
        case 'v':
            p.screen.showTree = !p.screen.showTree;
            p.screen.treeSlot = slot;
            if (p.screen.showTree) p.sticks.queue(slot, {"tree", s}, "reading folders");
            break;
        default:
            break;
    }
}

// Returns false when the person quits.
bool handleKey(Panel& p, int key) {
    const bool shift = p.screen.shiftArmed;
    switch (key) {
        case 'q':
            return false;
        case KEY_LEFT:
            p.screen.selected = (p.screen.selected + kSlots - 1) % kSlots;
            return true;
        case KEY_RIGHT:
        case '\t':
            p.screen.selected = (p.screen.selected + 1) % kSlots;
            return true;
        case 'S':
            p.screen.shiftArmed = !shift;
            return true;
        case 'd':
            p.buttons.job(kDistribute, shift);
            break;
        case 'c':
            p.buttons.job(kCollect, shift);
            break;
        case 'e':
            p.buttons.clear(shift);
            break;
        case 's':
            p.buttons.tapShift();
            return true;
        case 'X':
            p.buttons.holdShiftLong();
            return true;
        default:
            stickKey(p, key);
            return true;
    }
    p.screen.shiftArmed = false;   // it went down with this button
    return true;
}

std::string daemonState(pid_t pid) {
    static std::string ended;
    if (!ended.empty()) return ended;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != pid) return "running";
    ended = WIFEXITED(status) ? "ENDED, status " + std::to_string(WEXITSTATUS(status))
                              : "ENDED by signal " + std::to_string(WTERMSIG(status));
    return ended;
}

}   // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: stickdup_panel DAEMON [SLOT:KIND ...]\n");
        return 2;
    }
    // It starts the daemon and writes button lines: never on the machine itself.
    if (access("/sim/mode", F_OK) != 0) {
        fprintf(stderr, "stickdup_panel runs only inside the simulated appliance: use sim/panel\n");
        return 2;
    }
    fillEmptyList("/replist", "Exercices\n");
    fillEmptyList("/filelist", "exercice*\n");
    Panel p;
    queueLesson(p.sticks, argc, argv);
    const pid_t daemon = startDaemon(argv[1]);
    initscr();
    raw();
    noecho();
    keypad(stdscr, TRUE);
    curs_set(0);
    timeout(kFrameMs);
    for (;;) {
        const double now = seconds();
        readAppliance(p.view, now);
        p.buttons.tick(now, p.screen.message);
        p.sticks.tick(p.screen.message);
        p.screen.daemon = daemonState(daemon);
        draw(p.view, p.sticks, p.screen, now);
        const int key = getch();
        if (key != ERR && !handleKey(p, key)) break;
    }
    p.buttons.releaseAll();
    endwin();
    if (daemon > 0) (void)kill(-daemon, SIGKILL);
    return 0;
}
