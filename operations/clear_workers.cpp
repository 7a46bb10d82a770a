// The clear workers, forked by the clear job for one student stick each, and the
// recursive delete they use. Runs in the operation process (the waiting side) and in
// the worker (processId 3). The workers' events use the fixed process number 1, so
// they land in the operation process's event log.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "copy/watchdog.h"
#include "indicators/status_codes.h"
#include "operations/clear.h"
#include "operations/folder_layout.h"
#include "operations/job_common.h"
#include "sticks/detection.h"
#include "sticks/format.h"
#include "sticks/mount.h"
#include "sticks/volume_label.h"
#include "supervisor/base/file_helpers.h"
#include "supervisor/base/globals.h"
#include "supervisor/base/shell_runner.h"
#include "supervisor/base/text_utils.h"
#include "supervisor/base/file_handles.h"

// File-local pieces live inside namespace jobs, so the shared job constants win
// over any of the same name elsewhere.
namespace jobs {
namespace {

constexpr int kOperationLog = 1;        // the workers write into the operation log
constexpr int kWorkerCountdown = 120;   // a format may take a while before it answers
constexpr int kFormatFailed = -1;

// The worker's first steps: read the label while still logging as the operation
// process, then take the worker's role and mark the stick.
std::string startWorker(int slot) {
    std::string label = rawPartitionLabel(slot, sticksPartition[slot]);   // kept byte for byte
    processId = 3;
    storeWord(kNbKey, kWorkerCountdown);
    changeLedStatus(slot, kInProgress);
    return label;
}

[[noreturn]] void failWorker(int slot, int status, const char* event) {
    if (event) logEvt(event, kOperationLog, slot);
    changeLedStatus(slot, status);
    endWorker(-1);
}

[[noreturn]] void formatBody(int slot, int fn) {
    std::string label = startWorker(slot);
    if (formatUSB(slot, fn, label.c_str()) == kFormatFailed) {
        failWorker(slot, kFailed, "format failed");
    }
    logEvt("format succes", kOperationLog, slot);
    if (fn == 0) {
        if (isUsbMounted(slot) == -1) failWorker(slot, kLost, "mount failed");
        logEvt("format mount succes", kOperationLog, slot);
        if (checkTamvikDirs(slot) != 0) {
            (void)umountUsb(slot);   // nothing unmounts a student after its worker
            failWorker(slot, kFailed, "create dir failed");
        }
        changeLedStatus(slot, kDone);
        (void)umountUsb(slot);
    } else {
        changeLedStatus(slot, kDone);   // formatted whole: not mounted again
    }
    endWorker(0);
}

// Only names the special-folder list can hold: a stick's own folder ending in
// "-out". Anything else (an empty line would name the stick's root) is left alone.
bool isSpecialEntry(const std::string& entry) {
    return EndsWithOut(entry.c_str()) == 1 && entry.find('/') == std::string::npos;
}

// Emptied and made again (an absent folder is made); false when anything in it stayed
// or it could not be made. The file system answers "no such folder" also when the block
// holding its entry cannot be read: a folder made then would stand beside the old one,
// whose work would show again once the worn cell reads. Only the stick's error count tells.
bool emptyFolder(int slot, const std::string& path) {
    const ErrorWatch watch(ioErrorCounter(slot));
    (void)remove_directory(path);
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) return false;   // the delete stopped short
    if (watch.errorsSince()) {
        printf("cannot look up %s\n", path.c_str());
        return false;
    }
    return ensureFolder(slot, path) == 0;
}

[[noreturn]] void specialBody(int slot, int fn) {
    (void)startWorker(slot);   // the label is not needed here
    if (fn != 0) {
        changeLedStatus(slot, kDone);
        endWorker(0);
    }
    if (isUsbMounted(slot) == -1) failWorker(slot, kLost, nullptr);
    std::string root = studentRoot(slot);
    bool emptied = true;
    forEachListEntryOrLog(kTelvoList, [&](const std::string& entry) {
        if (!isSpecialEntry(entry)) return true;
        emptied = emptyFolder(slot, root + "/" + pairStem(entry) + "in") && emptied;
        emptied = emptyFolder(slot, root + "/" + entry) && emptied;
        return true;
    });
    // A stick that refuses writes takes the deletes in memory only: done only once
    // they are on it.
    if (!emptied || !flushedToStick(root)) {
        printf("clear: stick %d: its special folders were not emptied\n", slot);
        (void)umountUsb(slot);
        failWorker(slot, kFailed, "special folders not emptied");
    }
    changeLedStatus(slot, kDone);
    (void)umountUsb(slot);
    endWorker(0);
}

// The common frame of the two clear workers: fork, wait under the watchdog and the
// liveness test, and report the stick's status when the worker has ended.
int runClearWorker(int slot, int fn, void (*body)(int, int)) {
    if (!ensureSegment()) return -1;
    pid_t pid = forkWorker(kCountdownStart);
    if (pid < 0) return -1;
    if (pid == 0) body(slot, fn);   // never returns
    WatchRule rule;
    rule.stopAtExactlyZero = true;
    rule.watchLiveness = true;
    // A worker that ended without a result was given up, killed or crashed: the
    // commands it left in its group go too, its stick ends failed if it was still
    // being worked on, and unmounted, as it may have stopped between its mount
    // and its unmount.
    if (watchWorker(pid, rule) != WaitEnd::ResultWritten) {
        killWorker(pid);
        releaseGivenUp(slot);
    }
    if (workerAlive(pid)) return loadWord(kResultWord);
    int status = loadWord(slot);
    printf("childpath %d - %d\n", status, loadWord(kResultWord));
    return status;
}

// Opens a folder without following a symbolic link in its place.
Dir openFolderNoFollow(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return Dir(nullptr);
    DIR* dir = fdopendir(fd);
    if (!dir) (void)close(fd);
    return Dir(dir);
}

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// A link is removed as a link, never followed: a stick must not be able to make the
// appliance delete anything outside the folder being emptied.
int removeEntry(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return -1;
    if (S_ISDIR(st.st_mode)) return remove_directory(path);
    return unlink(path.c_str());
}

}   // namespace
}   // namespace jobs

using namespace jobs;

int process_del_tamvik(int slot, int fn) { return runClearWorker(slot, fn, formatBody); }

int process_telvo_del_tamvik(int slot, int fn) { return runClearWorker(slot, fn, specialBody); }

// Deletes a folder and everything in it. The walk stops at the first entry that
// cannot be removed; that entry, the ones after it and the folder itself stay.
int remove_directory(const std::string& path) {
    storeWord(kNbKey, kCountdownStart);   // a long delete keeps the worker alive
    Dir dir = openFolderNoFollow(path);
    if (!dir) return -1;
    int result = 0;
    while (result == 0) {
        const dirent* entry = readdir(dir.get());
        if (!entry) break;
        storeWord(kNbKey, kCountdownStart);
        if (isDotOrDotDot(entry->d_name)) continue;
        result = removeEntry(path + "/" + entry->d_name);
    }
    dir.reset();
    if (result == 0) result = rmdir(path.c_str());
    return result;
}
