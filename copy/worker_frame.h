// The frame of the copy workers (folder, whole-stick and special-folder): one
// forked worker per stick under the watchdog, and the three ways a folder worker
// ends. Runs in the operation process (parent) and the worker (child).
#pragma once
#include <functional>
#include <string>

// What the worker's body hands to the frame: the result for word 18, and whether
// the end message "ptr_mem_partagee[kNbKey] = 0 %d %d" is printed.
struct WorkerOutcome {
    int result;
    bool endMessage;
};

// Forks the worker (processId 3) that runs body, waits for it under the watchdog
// and returns its result: the body's result, -4 when the worker was killed, -1
// when the fork failed or the segment cannot be attached (then nothing is started).
int runCopyWorker(const std::function<WorkerOutcome()>& body);

// The master stick was lost: status 5 on slot 0, both sticks unmounted (the
// distribute workers unmount the student first, the collect workers the master).
WorkerOutcome endMasterLost(int student, bool studentFirst, int result);
// The student stick was lost (status 5 on it) or a file failed three times
// (-3, no status): the student is unmounted.
WorkerOutcome endStudentFailed(int student, bool studentLost, int result);
// Every copy ended with 0 or -5: status 4 on the student, unmounted, end message.
WorkerOutcome endDone(int student, int result);

// The copies leave their data in the appliance's memory, to be written to the
// stick later: a stick that takes no writes would be reported done, and one pulled
// after "done" would lose its data. Opened when the worker starts (from then on
// every write error of that file system is seen), flushed before it ends as done.
struct StickSync {
    StickSync(int slot, const std::string& root);
    ~StickSync();
    StickSync(const StickSync&) = delete;
    StickSync& operator=(const StickSync&) = delete;
    // true when everything written to the stick since the start is on it, and every
    // file this worker copied there reads back as it was copied.
    bool flushed();
    // Lets go of the stick's root. An open folder keeps the volume alive after a
    // lazy unmount: its last writes and its clean flag would come later, unseen.
    void release();

    int slot;
    std::string root;
    int fd;
    bool misread = false;   // flushed() failed because a file read back wrong
};

// A cancelled copy stays cancelled: once a copy of the worker returned -5, the
// worker's result is -5 even if a later copy (which returns -5 at once while the
// request stands) found nothing to do.
int carryCancel(int previous, int latest);

// Student slot roots and the master root, as mounted.
std::string studentRoot(int slot);   // "/tmp/tamvikel%d"
constexpr const char* kMasterMount = "/tmp/tamvikma1";
constexpr const char* kNoRepList = "no rep list";
