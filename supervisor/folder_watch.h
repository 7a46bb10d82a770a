// Tells a polling loop whether anything appeared in or left a folder since it last
// looked, so a 1 ms cycle can skip its existence tests while nothing moved.
#pragma once
#include "supervisor/file_handles.h"

class FolderWatch {
public:
    explicit FolderWatch(const char* folder);
    // True when an entry of the folder was created, removed or renamed since the
    // last call, on the first call, after forget(), and always when the kernel
    // cannot watch the folder: then the caller simply tests every cycle.
    bool changed();
    void forget() { stale_ = true; }   // something else may have moved: look again

private:
    Fd events_;
    bool stale_ = true;
};
