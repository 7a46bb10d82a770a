// Distribute: the master's material to every student stick. Runs in the operation
// process; each copy, and in whole-stick mode each format, runs in a forked worker.
//
// First pass: every student stick is checked (present, mountable, standard folders,
// room) and marked 2 (passed), 0, 5, 6 or 7. Second pass: the sticks marked 2 are
// served one after the other. Only this process's own status table (sticks) decides
// which sticks take part: a worker's status writes reach the LEDs, not that table.
#include "operations/distribute.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>

#include "copy/telvo_workers.h"
#include "copy/watchdog.h"
#include "copy/workers.h"
#include "indicators/function_leds.h"
#include "indicators/status_codes.h"
#include "operations/folder_layout.h"
#include "operations/job_common.h"
#include "sticks/detection.h"
#include "sticks/format.h"
#include "sticks/mount.h"
#include "sticks/space.h"
#include "sticks/volume_label.h"
#include "supervisor/base/file_helpers.h"
#include "supervisor/base/globals.h"
#include "supervisor/base/shell_runner.h"

// File-local pieces live inside namespace jobs, so the shared job constants win
// over any of the same name elsewhere.
namespace jobs {
namespace {

constexpr int kFormatCountdown = 120;   // a format may take a while before it answers

struct Plan {
    int fn = 0;             // 0 folder mode, 1 whole-stick mode
    bool special = false;   // special-folder variant (folder mode only)
    uint64_t need = 0;      // 512-byte blocks handed out
};

bool plainFolderMode(const Plan& plan) { return plan.fn == 0 && !plan.special; }

std::string masterPath(const std::string& entry) { return std::string(kMasterRoot) + "/" + entry; }

void printListCount(const std::string& entry, uint64_t need) {
    printf("fgets replist %s - %" PRIu64 "\n\n", entry.c_str(), need);
}

// Master present, detected and mounted; it is then marked "in progress".
bool masterReady() {
    if (sticks[kMaster] != kPresent || isUsbDetected(kMaster) == -1) {
        changeLedStatus(kMaster, kNoStick);
        return false;
    }
    if (isUsbMounted(kMaster) == -1) {
        changeLedStatus(kMaster, kLost);
        return false;
    }
    changeLedStatus(kMaster, kInProgress);
    return true;
}

void measureSpecial(Plan& plan) {
    forEachListEntryOrLog(kTelvoList, [&](const std::string& entry) {
        plan.need += static_cast<uint32_t>(getDocFiles(std::string(kTelvoDir) + "/" + entry));
        printListCount(entry, plan.need);
        return true;
    });
}

// Plain folder mode: the /replist folders (counted whether they exist or not), the
// root's listed audio files when none of them exists, and TAMVIK-OUT.
bool measurePlain(Plan& plan) {
    if (checkTamvikDirs(kMaster) != 0) {
        changeLedStatus(kMaster, kFoldersMissing);
        (void)umountUsb(kMaster);
        return false;
    }
    bool noneFound = true;
    forEachListEntryOrLog(kRepList, [&](const std::string& entry) {
        std::string path = masterPath(entry);
        if (direxist(path) == 0) noneFound = false;
        plan.need += duwav(path, 0);
        printListCount(entry, plan.need);
        return true;
    });
    if (noneFound) plan.need += duwav(std::string(kMasterRoot) + "/", 1);
    plan.need += static_cast<uint32_t>(getDocFiles(masterPath("TAMVIK-OUT")));
    return true;
}

// Measures what is handed out; false when the job must stop (master already handled).
bool measureNeed(Plan& plan) {
    if (plan.fn != 0) {
        plan.need = static_cast<uint32_t>(getDocFiles(kMasterRoot));
    } else {
        bool unservable = false;
        plan.special = specialFolderCheck(unservable);
        if (unservable) {
            refuseMaster();
            return false;
        }
        if (plan.special) {
            measureSpecial(plan);
        } else if (!measurePlain(plan)) {
            return false;
        }
    }
    if (fileCntG == 0) {   // none of the counts met a file: nothing to hand out
        changeLedStatus(kMaster, kFailed);
        (void)umountUsb(kMaster);
        return false;
    }
    return true;
}

void checkStudent(const Plan& plan, int slot) {
    if (sticks[slot] != kPresent || isUsbDetected(slot) == -1) {
        changeLedStatus(slot, kNoStick);
        return;
    }
    // Whole-stick mode clears every present stick first, whatever the checks say.
    // A stick that was not cleared would end up with its old content beside the
    // master's, reported done: it fails and receives nothing.
    if (plan.fn != 0 && process_del1n_tamvik(slot) != 0) {
        printf("master2students: stick %d not cleared, not served\n", slot);
        changeLedStatus(slot, kFailed);
        return;
    }
    if (isUsbMounted(slot) < 0) {
        changeLedStatus(slot, kLost);
        return;
    }
    std::string root = studentRoot(slot);
    if (plainFolderMode(plan) && checkTamvikDirs(slot) != 0) {
        changeLedStatus(slot, kFoldersMissing);
    } else {
        changeLedStatus(slot, spaceRuleHolds(plan.need, df_main(root)) ? kPresent : kFailed);
    }
    (void)umountUsb(slot);
}

// Returns the slot at which the pass ended (17 after a full pass).
int firstPass(const Plan& plan) {
    int slot = kFirstStudent;
    for (; slot <= kLastStudent; ++slot) {
        if (cancelRequested()) break;   // the second pass honours it
        checkStudent(plan, slot);
    }
    return slot;
}

// A Documents folder whose entries the stick cannot all read is no place for the
// material: what lands beside a hidden older file or folder would be hidden by it later.
bool ensureDocumentsFolder(int slot) {
    return ensureFolder(slot, studentRoot(slot) + "/TAMVIK-IN/Documents/") == 0;
}

enum class Next { Continue, LeavePass, StopJob };

// One student's copy; the worker itself marks the stick 3 in folder mode.
int copyToStudent(const Plan& plan, int slot) {
    std::string root = studentRoot(slot);
    if (plan.fn != 0) {
        changeLedStatus(slot, kInProgress);
        return process_cp_tamvik(0, kMasterRoot, root, kMaster, slot);
    }
    std::string out = masterPath("TAMVIK-OUT");
    std::string documents = root + "/TAMVIK-IN/Documents";
    if (plan.special) return process_telvo_cp_tamvik_1n(0, out, documents, kMaster, slot);
    return process_cp_tamvik_1n(0, out, documents, kMaster, slot);
}

// Logs and unmounts a stick whose turn is over (done, or no verdict from the worker).
void endTurn(int slot) {
    copyLogToStudent(slot);
    (void)umountUsb(slot);
}

Next actOnResult(int slot, int result) {
    switch (result) {
        case kCopyDone:
            changeLedStatus(slot, kDone);
            endTurn(slot);
            return Next::Continue;
        case kSourceLost:   // the master went away: nothing more can be handed out
            changeLedStatus(kMaster, kFailed);
            changeLedStatus(slot, kFailed);
            (void)umountUsb(slot);
            (void)umountUsb(kMaster);
            return Next::StopJob;
        case kDestinationLost:
        case kFileFailed:
            changeLedStatus(slot, kFailed);
            (void)umountUsb(slot);
            return Next::Continue;
        case kCancelled:
            changeLedStatus(slot, kFailed);
            // The folder workers unmount on their own; the whole-stick worker does not,
            // and no stick may stay mounted once the job is over.
            (void)umountUsb(slot);
            return Next::LeavePass;
        default:   // the watchdog's -4: the copy never ended
            releaseGivenUp(slot);
            return Next::Continue;
    }
}

Next serveStudent(const Plan& plan, int slot) {
    if (sticks[slot] != kPresent) return Next::Continue;   // absent or failed a check
    if (isUsbMounted(slot) == -1) {
        changeLedStatus(slot, kLost);
        return Next::Continue;
    }
    if (plainFolderMode(plan) && !ensureDocumentsFolder(slot)) {
        changeLedStatus(slot, kFoldersMissing);
        (void)umountUsb(slot);
        return Next::Continue;
    }
    return actOnResult(slot, copyToStudent(plan, slot));
}

// false when the master was lost and the job stops at once.
bool secondPass(const Plan& plan) {
    for (int slot = kFirstStudent; slot <= kLastStudent; ++slot) {
        if (cancelRequested()) {
            honourCancel(master2students, plan.fn);
            return true;
        }
        Next next = serveStudent(plan, slot);
        if (next == Next::StopJob) return false;
        if (next == Next::LeavePass) return true;
    }
    return true;
}

// The result shows only once the master is really unmounted, its log copy
// included: the operator pulls it as soon as the result shows.
void finish() {
    copyLogToMaster();
    const bool released = umountUsb(kMaster) == 0;
    changeLedStatus(kMaster, released ? kDone : kFailed);
    (void)to_system("rm /tmp/bt1.cmd");   // in both modes, as the runner expects
    showReadyPattern();
}

}   // namespace
}   // namespace jobs

using namespace jobs;

int master2students(int fn) {
    fileCntG = 0;
    Plan plan;
    plan.fn = fn;
    if (!masterReady()) return -1;
    if (!measureNeed(plan)) return -1;
    int endedAt = firstPass(plan);
    logEvt("changeLedStatus 0", 1, endedAt);
    changeLedStatus(kMaster, kInProgress);
    if (!secondPass(plan)) return -1;
    finish();
    return 0;
}

// Whole-stick mode: reformats one student stick with its label kept, in a worker
// under the watchdog. The worker sets no status. 0 when the stick was cleared; -1
// when it was not, the worker could not be started or had to be killed.
int process_del1n_tamvik(int slot) {
    if (!ensureSegment()) return -1;
    pid_t pid = forkWorker(kCountdownStart);
    if (pid < 0) return -1;
    if (pid == 0) {
        processId = 3;
        const std::string label = rawPartitionLabel(slot, sticksPartition[slot]);   // byte for byte
        storeWord(kNbKey, kFormatCountdown);
        endWorker(formatUSB(slot, 0, label.c_str()) == -1 ? -1 : 0);
    }
    WatchRule rule;
    rule.stopAtExactlyZero = true;
    if (watchWorker(pid, rule) != WaitEnd::ResultWritten) {
        killWorker(pid);
        (void)umountUsb(slot);   // it may have stopped between its mount and unmount
        return -1;
    }
    return loadWord(kResultWord) == 0 ? 0 : -1;
}
