// One look at /dev and the mount table for the checks a copy repeats.
#include "sticks/stick_changes.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>

#include "supervisor/base/folder_watch.h"

namespace {

struct Watches {
    bool forked = true;   // true: none of our own yet
    Fd table{-1};
    std::unique_ptr<FolderWatch> nodes;
    unsigned long changes = 0;
};
Watches gWatches;

// Opens both for this process. A fork hook, not a pid test: under a slow kernel
// even getpid costs as much as the look itself.
void openWatches(Watches& w) {
    static const bool hooked =
        pthread_atfork(nullptr, nullptr, [] { gWatches.forked = true; }) == 0;
    w.forked = !hooked;   // without the hook, open them at every look
    w.nodes = std::make_unique<FolderWatch>("/dev");
    (void)w.nodes->changed();   // the first answer is always "changed"
    w.table.reset(open(kKernelMountTable, O_RDONLY | O_CLOEXEC));
}

}   // namespace

unsigned long lookForStickChanges() {
    Watches& w = gWatches;
    if (w.forked) {
        openWatches(w);
        return ++w.changes;
    }
    if (w.table.fd < 0 || !w.nodes->watching()) return ++w.changes;
    pollfd both[2] = {{w.nodes->fd(), POLLIN, 0}, {w.table.fd, POLLPRI, 0}};
    if (poll(both, 2, 0) == 0) return w.changes;
    // Something moved (or the poll failed): drain the watch so the next look is quiet.
    if (both[0].revents != 0) (void)w.nodes->changed();
    return ++w.changes;
}
