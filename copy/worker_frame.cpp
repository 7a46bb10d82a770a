// The frame of the copy workers. The parent waits under the watchdog; the child
// runs one body, writes its result and ends.
#include "copy/worker_frame.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "copy/read_back.h"
#include "copy/watchdog.h"
#include "indicators/status_codes.h"
#include "sticks/detection.h"
#include "sticks/mount.h"
#include "supervisor/base/file_handles.h"
#include "supervisor/base/globals.h"

namespace {

constexpr int kWorkerProcessId = 3;
constexpr int kStatusDone = 4;
constexpr int kStatusLost = 5;
constexpr int kMasterSlot = 0;
constexpr int kCancelled = -5;
constexpr int kSyncPollMs = 100;

[[noreturn]] void runChild(const std::function<WorkerOutcome()>& body) {
    if (!reattachSegment()) endWithoutResult();   // the parent returns -4 in time
    processId = kWorkerProcessId;
    WorkerOutcome outcome = body();
    // Printed before the result is stored: once word 18 is written the parent
    // may return at any moment, and the line must reach the console first.
    if (outcome.endMessage)
        printf("ptr_mem_partagee[kNbKey] = 0 %d %d\n", loadWord(kNbKey), outcome.result);
    endWorker(outcome.result);
}

// syncfs in a child while the worker renews the heartbeat for as long as the stick
// goes on writing: what the appliance's memory holds for a slow stick can take
// minutes to write out, and one heartbeat for all of it would have the watchdog end a
// worker whose stick works. A stick that stops writing renews nothing, and the
// watchdog ends the worker, with this child in its process group, as for any hang.
// 0 or the error syncfs gave.
int syncWatched(int fd, int slot) {
    renewHeartbeat();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return syncfs(fd) == 0 ? 0 : errno;
    Fd reader{fds[0]}, writer{fds[1]};
    const pid_t pid = fork();
    if (pid < 0) return syncfs(fd) == 0 ? 0 : errno;
    if (pid == 0) {
        const char answer = static_cast<char>(syncfs(fd) == 0 ? 0 : errno);
        (void)!write(writer.fd, &answer, 1);
        _exit(0);
    }
    writer.reset(-1);   // the child's end only: a child that dies unanswered reads as failure
    const std::string counter = writeCounter(slot);
    long written = sectorsWritten(counter);
    pollfd answered{reader.fd, POLLIN, 0};
    for (;;) {
        const int polled = poll(&answered, 1, kSyncPollMs);
        if (polled > 0 || (polled < 0 && errno != EINTR)) break;
        const long now = sectorsWritten(counter);
        if (now != written) renewHeartbeat();
        written = now;
    }
    char answer = EIO;
    return read(reader.fd, &answer, 1) == 1 ? answer : EIO;
}

}   // namespace

int runCopyWorker(const std::function<WorkerOutcome()>& body) {
    // Attached before the fork: a worker started without a watchdog would run on
    // while the job forks the next one.
    if (!ensureSegment()) return -1;
    pid_t pid = forkWorker(kCountdownStart);
    if (pid < 0) return -1;
    if (pid == 0) runChild(body);
    // A worker that wrote its result is about to _exit on its own; only one that
    // ran out of heartbeats is killed, so no pid that may be reused is signalled.
    if (watchWorker(pid, WatchRule{}) != WaitEnd::ResultWritten) killWorker(pid);
    return loadWord(kResultWord);
}

WorkerOutcome endMasterLost(int student, bool studentFirst, int result) {
    changeLedStatus(kMasterSlot, kStatusLost);
    (void)umountUsb(studentFirst ? student : kMasterSlot);
    (void)umountUsb(studentFirst ? kMasterSlot : student);
    return {result, false};
}

WorkerOutcome endStudentFailed(int student, bool studentLost, int result) {
    if (studentLost) changeLedStatus(student, kStatusLost);
    (void)umountUsb(student);
    return {result, false};
}

WorkerOutcome endDone(int student, int result) {
    changeLedStatus(student, kStatusDone);   // the job overwrites it after a cancel
    (void)umountUsb(student);
    return {result, true};
}

StickSync::StickSync(int stick, const std::string& folder)
    : slot(stick), root(folder), fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

StickSync::~StickSync() {
    if (fd >= 0) (void)close(fd);
}

bool StickSync::flushed() {
    if (fd < 0) return true;   // nothing was reachable there, so nothing waits
    const int error = syncWatched(fd, slot);
    if (error != 0) {
        printf("syncfs %s: %s\n", root.c_str(), strerror(error));
        return false;
    }
    printf("read back: stick %d (%s)\n", slot, root.c_str());
    const std::string wrong = firstMisread(root);
    if (wrong.empty()) return true;
    printf("read back: stick %d: %s differs from what was copied\n", slot, wrong.c_str());
    misread = true;
    return false;
}

void StickSync::release() {
    if (fd >= 0) (void)close(fd);
    fd = -1;
}

int carryCancel(int previous, int latest) { return previous == kCancelled ? previous : latest; }

std::string studentRoot(int slot) { return "/tmp/tamvikel" + std::to_string(slot); }
