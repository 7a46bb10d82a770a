// Pieces shared by the three jobs and their format and clear workers.
#include "operations/job_common.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "copy/watchdog.h"
#include "indicators/status_codes.h"
#include "operations/folder_layout.h"
#include "operations/job_requests.h"
#include "sticks/detection.h"
#include "sticks/mount.h"
#include "supervisor/base/file_helpers.h"
#include "supervisor/base/globals.h"
#include "supervisor/base/shell_runner.h"
#include "supervisor/base/text_utils.h"
#include "supervisor/base/file_handles.h"

namespace jobs {
namespace {

constexpr int kListLineSize = 150;   // a longer line is read in pieces, each an entry

}   // namespace

std::string studentRoot(int slot) { return "/tmp/tamvikel" + std::to_string(slot); }

void releaseGivenUp(int slot) {
    // Done before it hung, or already failed: its word stands.
    if (loadWord(slot) == kInProgress) {
        printf("stick %d: its worker was stopped by the watchdog, the stick failed\n", slot);
        changeLedStatus(slot, kFailed);
    }
    (void)detachUsb(slot);
}

bool cancelRequested() { return fileexist(kCancelFile) == 0; }   // 0 means "exists"

void honourCancel(int (*running)(int fn), int fn) {
    dropOtherRequests(running, fn);
    (void)to_system("rm /tmp/bt4.cmd");
}

bool forEachListEntry(const char* listPath, const std::function<bool(const std::string&)>& visit) {
    File list(fopen(listPath, "r"));
    if (!list) return false;
    char line[kListLineSize];
    while (fgets(line, sizeof line, list.get())) {
        if (!visit(trim(line))) break;
    }
    return true;
}

bool forEachListEntryOrLog(const char* listPath,
                           const std::function<bool(const std::string&)>& visit) {
    if (forEachListEntry(listPath, visit)) return true;
    logEvt(kNoRepList, processId, -1);
    return false;
}

bool specialFolderCheck(bool& unservable) {
    // The file system answers "no such folder" when the block holding TELVO's entry
    // cannot be read, and ends a listing quietly at a block it cannot read: only the
    // master's error count shows that a subject, or TELVO itself, went unseen. The
    // job would then run without it, or in the other mode, and report students done.
    const ErrorWatch watch(ioErrorCounter(kMaster));
    const bool telvo = direxist(kTelvoDir) == 0;   // no TELVO: a stale list is never read
    unservable = telvo && listTelvoFolders() > 0;
    if (watch.errorsSince()) {
        printf("cannot read the master's TELVO whole\n");
        unservable = true;
    }
    return telvo && File(fopen(kTelvoList, "r")) != nullptr;
}

void markMasterRefused() {
    printf("the subject folders of TELVO cannot all be listed: master refused\n");
    changeLedStatus(kMaster, kFailed);
}

void refuseMaster() {
    markMasterRefused();
    (void)umountUsb(kMaster);
}

std::string pairStem(const std::string& entry) {
    return entry.size() < 3 ? std::string() : entry.substr(0, entry.size() - 3);
}

bool spaceRuleHolds(uint64_t needBlocks, uint64_t freeKiB) {
    return needBlocks * 520 <= freeKiB * 1000;
}

void copyLogToStudent(int slot) {
    if (fileexist(kDupCfg) != 0) return;
    if (isUsbMounted(slot) == -1) {
        printf("log copy skipped: stick %d cannot be mounted\n", slot);
        return;
    }
    (void)to_system("cp /tmp/log.txt " + studentRoot(slot) + "/log.txt");
}

void copyLogToMaster() {
    if (fileexist(kDupCfg) != 0) return;
    (void)fflush(stdout);   // everything said so far belongs in the copy
    if (std::system("cp /tmp/log.txt /tmp/tamvikma1/log.txt") != 0) {
        // the master's own log copy is a courtesy; its failure changes nothing
    }
}

}   // namespace jobs
