// The watchdog frame shared by the job (parent) and its one forked worker (child).
// Runs in the operation process and in the workers it forks.
#include "copy/watchdog.h"

#include <signal.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Gets the segment by its key and attaches it; the one place that reports
// "shmget"/"shmat". Returns the address or nullptr.
int32_t* attachByKey() {
    int id = shmget(kShmKey, kShmSize, kShmFlags);
    if (id < 0) {
        printf("shmget: %s\n", strerror(errno));
        return nullptr;
    }
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        printf("shmat: %s\n", strerror(errno));
        return nullptr;
    }
    mem_ID = id;
    return static_cast<int32_t*>(address);
}

}   // namespace

// Whole aligned words, and in program order for the other processes: on the
// board's ARM cores plain stores may become visible out of order, and the parent
// would then see the countdown at 0 before the result was written.
int32_t loadWord(int index) {
    if (!ptr_mem_partagee) return 0;
    return __atomic_load_n(&ptr_mem_partagee[index], __ATOMIC_SEQ_CST);
}

void storeWord(int index, int32_t value) {
    if (!ptr_mem_partagee) return;
    __atomic_store_n(&ptr_mem_partagee[index], value, __ATOMIC_SEQ_CST);
}

void renewHeartbeat() { storeWord(kNbKey, kCountdownStart); }

bool ensureSegment() {
    if (ptr_mem_partagee) return true;
    ptr_mem_partagee = attachByKey();
    return ptr_mem_partagee != nullptr;
}

bool reattachSegment() {
    int32_t* address = attachByKey();
    if (!address) return false;
    ptr_mem_partagee = address;
    return true;
}

pid_t forkWorker(int32_t countdown) {
    storeWord(kNbKey, countdown);
    storeWord(kResultWord, kNoResult);
    // Buffered console lines would otherwise be written once by each process.
    (void)fflush(stdout);
    (void)fflush(stderr);
    const pid_t pid = fork();
    // A group of its own, set on both sides so no kill can come between: the
    // commands the worker runs (a mkfs.vfat, an rm) end with it.
    if (pid >= 0) (void)setpgid(pid == 0 ? 0 : pid, pid == 0 ? 0 : pid);
    return pid;
}

void endWorker(int32_t result) {
    (void)fflush(stdout);
    storeWord(kResultWord, result);   // result first: the parent returns word 18 once 17 is 0
    storeWord(kNbKey, 0);
    _exit(0);
}

void endWithoutResult() {
    (void)fflush(stdout);
    _exit(0);
}

bool workerAlive(pid_t pid) {
    std::string path = "/proc/" + std::to_string(pid);
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

WaitEnd watchWorker(pid_t pid, const WatchRule& rule) {
    for (;;) {
        // The child may renew the word between our read and our write; that
        // heartbeat is lost and the next block renews it, so no lock.
        int32_t left = loadWord(kNbKey) - 1;
        storeWord(kNbKey, left);
        if (loadWord(kResultWord) != kNoResult) return WaitEnd::ResultWritten;
        bool out = rule.stopAtExactlyZero ? left == 0 : left <= 0;
        if (out) return WaitEnd::CountdownOut;
        if (rule.watchLiveness && !workerAlive(pid)) return WaitEnd::WorkerGone;
        usleep(kWatchPeriodUs);
    }
}

void killWorker(pid_t pid) {
    if (pid <= 0) return;
    // The whole group: a command blocked on a hung stick would otherwise format or
    // delete later, after the stick was shown failed and perhaps plugged elsewhere.
    if (kill(-pid, SIGKILL) != 0) (void)kill(pid, SIGKILL);
}
