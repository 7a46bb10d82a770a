// Clear: reformat or empty every student stick, or only its special folders. Runs in
// the operation process; each stick is cleared by a forked worker (clear_workers.cpp).
// Clear does not need the master: it only decides the special-folder variant and
// receives the console log. The cancel request is looked at only between sticks, so
// a running format is never interrupted.
#include "operations/clear.h"

#include "indicators/function_leds.h"
#include "indicators/status_codes.h"
#include "operations/job_common.h"
#include "sticks/detection.h"
#include "sticks/mount.h"
#include "supervisor/base/file_helpers.h"
#include "supervisor/base/globals.h"
#include "supervisor/base/shell_runner.h"

// File-local pieces live inside namespace jobs, so the shared job constants win
// over any of the same name elsewhere.
namespace jobs {
namespace {

bool stillPresent(int slot) { return sticks[slot] == kPresent && isUsbDetected(slot) != -1; }

// Every student still present is marked 2; nothing is mounted here.
void firstPass() {
    for (int slot = kFirstStudent; slot <= kLastStudent; ++slot)
        changeLedStatus(slot, stillPresent(slot) ? kPresent : kNoStick);
}

// Runs in both modes, so the special-folder list always matches the master in place.
// A master plugged in that cannot be read may hold subject folders as well as one that
// reads them only in part: a clear in folder mode in their place would format every
// student, so it is refused the same way.
bool specialVariant(bool& unservable) {
    unservable = false;
    if (isUsbMounted(kMaster) == -1) {
        unservable = stillPresent(kMaster);
        return false;
    }
    return specialFolderCheck(unservable);
}

void secondPass(int fn, bool special) {
    for (int slot = kFirstStudent; slot <= kLastStudent; ++slot) {
        if (cancelRequested()) {
            honourCancel(deleteStudents, fn);
            return;
        }
        if (sticks[slot] != kPresent) continue;
        changeLedStatus(slot, kInProgress);
        if (isUsbDetected(slot) == -1) {
            changeLedStatus(slot, kNoStick);   // pulled between the passes
        } else if (special && fn == 0) {
            (void)process_telvo_del_tamvik(slot, fn);
        } else {
            (void)process_del_tamvik(slot, fn);
        }
    }
}

}   // namespace
}   // namespace jobs

using namespace jobs;

int deleteStudents(int fn) {
    firstPass();
    bool unservable = false;
    bool special = specialVariant(unservable);
    // Whole-stick mode formats every stick whatever the master holds.
    if (unservable && fn == 0) {
        markMasterRefused();   // every student stays as it is; the master goes below
    } else {
        secondPass(fn, special);
    }
    // The master gets its log copy and is unmounted before the request goes: the
    // result shows then, and the operator pulls the master as soon as it does.
    (void)isUsbMounted(kMaster);
    copyLogToMaster();
    (void)umountUsb(kMaster);
    (void)to_system("rm /tmp/bt3.cmd");   // in both modes, as the runner expects
    showReadyPattern();
    return 0;
}
