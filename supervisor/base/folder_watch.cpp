// Folder watches for the idle loops, by inotify: read without blocking, or waited on
// as the loop's sleep.
#include "supervisor/base/folder_watch.h"

#include <poll.h>
#include <sys/inotify.h>

#include <cerrno>

namespace {

constexpr uint32_t kEntryMoves = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

int watchFolder(const char* folder) {
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return -1;
    if (inotify_add_watch(fd, folder, kEntryMoves) < 0) {
        (void)close(fd);
        return -1;
    }
    return fd;
}

// True when one of the events says the kernel dropped the watch.
bool watchEnded(const char* buffer, size_t count) {
    for (size_t at = 0; at + sizeof(inotify_event) <= count;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->mask & (IN_IGNORED | IN_UNMOUNT)) return true;
        at += sizeof(inotify_event) + event->len;
    }
    return false;
}

}   // namespace

FolderWatch::FolderWatch(const char* folder) : events_(watchFolder(folder)) {}

bool FolderWatch::changed() {
    if (events_.fd < 0) return true;
    bool moved = std::exchange(stale_, false);
    if (std::exchange(quiet_, false)) return moved;
    // Which entry moved does not matter, only that one did (a lost event,
    // IN_Q_OVERFLOW, is an event too). Drain the queue.
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t count = read(events_.fd, buffer, sizeof buffer);
        if (count > 0 && watchEnded(buffer, static_cast<size_t>(count))) {
            // The folder went or its file system was unmounted (a /dev mounted
            // anew): the watch hears nothing from now on, so every cycle looks.
            events_.reset(-1);
            return true;
        }
        if (count > 0) {
            moved = true;
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        // EAGAIN: drained. Any other failure: the watch cannot be trusted again.
        if (count < 0 && errno != EAGAIN) {
            events_.reset(-1);
            return true;
        }
        return moved;
    }
}

void FolderWatch::sleep(useconds_t period) {
    quiet_ = false;
    if (events_.fd < 0) {
        usleep(period);
        return;
    }
    pollfd watch{events_.fd, POLLIN, 0};
    const timespec timeout{static_cast<time_t>(period / 1000000),
                           static_cast<long>(period % 1000000) * 1000};
    const int ready = ppoll(&watch, 1, &timeout, nullptr);
    if (ready == 0) {
        quiet_ = true;
        return;
    }
    usleep(period);   // woken early (or interrupted): the full period
}

bool waitForMoves(const FolderWatch* first, const FolderWatch* second, int timeoutMs) {
    pollfd watches[2];
    nfds_t count = 0;
    for (const FolderWatch* watch : {first, second})
        if (watch != nullptr) watches[count++] = {watch->fd(), POLLIN, 0};
    return poll(watches, count, timeoutMs) > 0;   // EINTR: the caller looks anyway
}
