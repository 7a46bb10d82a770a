// Tells a polling loop whether anything appeared in or left a folder since it last
// looked, so a 1 ms cycle can skip its existence tests while nothing moved.
#pragma once
#include "supervisor/base/file_handles.h"

class FolderWatch {
public:
    explicit FolderWatch(const char* folder);
    // True when an entry of the folder was created, removed or renamed since the
    // last call, on the first call, after forget(), and always when the kernel
    // cannot watch the folder: then the caller simply tests every cycle.
    bool changed();
    void forget() { stale_ = true; }   // something else may have moved: look again
    // Sleeps a polling loop's period. Idle, the watch is the sleep: the next
    // changed() needs no read of its own when the period passed quietly. An entry
    // that moves meanwhile ends the wait, and the period is then slept once more,
    // so a cycle (and every count of cycles) is never shorter than before.
    void sleep(useconds_t period);
    bool watching() const { return events_.fd >= 0; }
    int fd() const { return events_.fd; }

private:
    Fd events_;
    bool stale_ = true;
    bool quiet_ = false;   // the last sleep saw no event: nothing to read
};

// Sleeps until an entry of a watched folder moves (a null watch is left out) or
// timeoutMs passes; true when it was a move. Both given watches must be working.
bool waitForMoves(const FolderWatch* first, const FolderWatch* second, int timeoutMs);
