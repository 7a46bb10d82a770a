// The watchdog frame of the workers a job forks for one stick: the copy workers,
// the clear workers and the whole-stick format worker. The job (parent) and its one
// worker (child, processId 3) talk through two words of the shared status segment:
//
//   word 17 (kNbKey)      countdown: the child renews it (60 for each block of data
//                         copied, 120 when a format starts), the parent takes 1 off
//                         it every second; at 0 the child is considered hung.
//   word 18 (kResultWord) the child's result; kNoResult (-4) while none is written.
//
// How to use it (only one worker may exist at a time: the words are single words):
//
//   if (!ensureSegment()) return -1;          // parent: attachment for the words
//   pid_t pid = forkWorker(kCountdownStart);  // 17 = countdown, 18 = -4, flush, fork
//   if (pid < 0) return -1;                   // fork failed, nothing started
//   if (pid == 0) {                           // child
//       processId = 3;
//       ... the work; call renewHeartbeat() for every block of data moved ...
//       endWorker(result);                    // 18 = result, then 17 = 0, _exit(0)
//   }
//   WaitEnd end = watchWorker(pid, WatchRule{});   // 1 s polling loop
//   if (end != WaitEnd::ResultWritten) killWorker(pid);
//   return loadWord(kResultWord);
//
// The rules of the different jobs differ only in when the wait stops; WatchRule
// selects them (the clear job also watches /proc/<pid>, the format worker stops
// only at exactly 0).
#pragma once
#include <sys/types.h>

#include <cstdint>

#include "supervisor/base/globals.h"

constexpr int32_t kCountdownStart = 60;        // a fresh worker, and each block copied
constexpr int32_t kNoResult = -4;              // word 18 while the worker has no result
constexpr unsigned kWatchPeriodUs = 1000000;   // the parent looks once a second

// One aligned 32-bit load or store of a segment word. Without an attachment
// (ptr_mem_partagee null) a load gives 0 and a store does nothing.
int32_t loadWord(int index);
void storeWord(int index, int32_t value);

// Child: data moved just now (word 17 = 60). Called for every block copied.
void renewHeartbeat();

// Makes sure this process has the segment attached (key 123654), attaching it when
// ptr_mem_partagee is still null; prints "shmget"/"shmat" with the system error
// and returns false when that fails.
bool ensureSegment();

// Child of the copy workers: get and attach the segment anew by its key and store
// the address in ptr_mem_partagee. Prints "shmget"/"shmat" and returns false on
// failure; the child then ends without a result (endWithoutResult).
bool reattachSegment();

// Parent: store countdown into word 17 and kNoResult into word 18, flush standard
// output (so buffered console lines are not written twice), then fork. The
// worker leads a process group of its own.
// Returns the child's pid in the parent, 0 in the child, -1 when the fork failed.
pid_t forkWorker(int32_t countdown);

// Child: result into word 18 first, only then 0 into word 17 (a parent that finds
// the countdown at 0 returns whatever word 18 holds), flush, _exit(0).
[[noreturn]] void endWorker(int32_t result);
// Child: flush and _exit(0) without touching the words (the parent returns -4).
[[noreturn]] void endWithoutResult();

struct WatchRule {
    // true: stop when word 17 is exactly 0 (format and clear workers);
    // false: stop when it is 0 or less (copy workers).
    bool stopAtExactlyZero = false;
    // true: also stop when /proc/<pid> is no longer a directory (clear workers).
    // Tested under "/" so the daemon's working directory does not matter.
    bool watchLiveness = false;
};

enum class WaitEnd {
    ResultWritten,   // word 18 is no longer kNoResult
    CountdownOut,    // word 17 ran out without a result
    WorkerGone,      // /proc/<pid> vanished (only with watchLiveness)
};

// Parent loop: take 1 off word 17 (a plain read and write: a heartbeat stored in
// between is lost and the next block renews it), judge by the rule, else sleep
// 1 s. The first decrement comes at once, so a worker is given up 59 to 60 s after
// its last heartbeat.
WaitEnd watchWorker(pid_t pid, const WatchRule& rule);

// Signal 9 to the worker's process group: the worker and every command it runs.
void killWorker(pid_t pid);

// true while /proc/<pid> is a directory (the worker's process still exists; a
// child of the daemon never stays as a zombie, children are not waited for).
bool workerAlive(pid_t pid);
