// Collect: every student's work into a new session folder on the master. Runs in the
// operation process; each student's copy runs in a forked worker under the watchdog.
//
// First pass: each present student stick is measured and its size recorded in
// sticksN; sticks holding no file are marked 7. Then one session number is chosen
// for the whole run. Second pass: before each student the master's free space and,
// in folder mode, a cap of ten times the average student's work are checked.
// Sizes of several GiB are normal: every product and sum is taken in 64 bits.
#include "operations/collect.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>

#include "copy/telvo_workers.h"
#include "copy/watchdog.h"
#include "copy/worker_frame.h"
#include "copy/workers.h"
#include "indicators/function_leds.h"
#include "indicators/status_codes.h"
#include "operations/folder_layout.h"
#include "operations/job_common.h"
#include "operations/receipt.h"
#include "sticks/detection.h"
#include "sticks/label_folder.h"
#include "sticks/mount.h"
#include "sticks/space.h"
#include "supervisor/base/file_helpers.h"
#include "supervisor/base/globals.h"
#include "supervisor/base/shell_runner.h"

// File-local pieces live inside namespace jobs, so the shared job constants win
// over any of the same name elsewhere.
namespace jobs {
namespace {

constexpr uint64_t kMinShareBytes = 1048576;   // every measured stick counts at least 1 MiB
constexpr uint64_t kBlockBytes = 512;
constexpr int kLabelSize = 64;                // FAT labels hold at most 11 characters
constexpr int kSlotWord = 0, kSizeWord = 1;   // columns of sticksN

struct Run {
    int fn = 0;               // 0 folder mode, 1 whole-stick mode
    bool special = false;     // special-folder variant (folder mode only)
    uint64_t sizeTotal = 0;   // bytes, each measured stick at least 1 MiB
    int count = 0;            // student sticks measured
    uint64_t sizeAvMax = 0;   // ten times the average per stick, in bytes
    int session = 0;
};

std::string sessionPath(int session) {
    return std::string(kMasterRoot) + "/TAMVIK-IN/SESSION" + std::to_string(session);
}

// "UE{slot}" or "UE{slot} {label}", the label made one folder name.
std::string studentFolder(int session, int slot, const std::string& label) {
    return sessionPath(session) + "/" + studentFolderName(slot, label);
}

bool masterReady(Run& run) {
    printf("isUsbDetected(0)\n");
    if (sticks[kMaster] != kPresent || isUsbDetected(kMaster) == -1) {
        changeLedStatus(kMaster, kNoStick);
        printf("/dev/tmvm1\n");
        return false;
    }
    printf("isUsbMounted(0)\n");
    if (isUsbMounted(kMaster) < 0) {
        printf("isUsbMounted(0) < 0\n");
        changeLedStatus(kMaster, kLost);
        return false;
    }
    changeLedStatus(kMaster, kPresent);
    if (run.fn == 0) {
        bool unservable = false;
        run.special = specialFolderCheck(unservable);
        if (unservable) {
            refuseMaster();
            return false;
        }
        if (!run.special && checkTamvikDirs(kMaster) != 0) {
            changeLedStatus(kMaster, kFoldersMissing);
            (void)umountUsb(kMaster);
            return false;
        }
    }
    return true;
}

uint64_t measureSpecial(int slot) {
    uint64_t size = 0;
    forEachListEntryOrLog(kTelvoList, [&](const std::string& entry) {
        // A file holding a subject folder's name is no work the worker copies.
        const std::string folder = studentRoot(slot) + "/" + entry;
        if (direxist(folder) == 0) size += static_cast<uint32_t>(getDocFiles(folder));
        printf("fgets replist %s - %" PRIu64 "\n\n", entry.c_str(), size);
        return true;
    });
    return size;
}

// Plain folder mode: the /replist folders, the root's listed audio files when none
// of them exists on the stick, and TAMVIK-OUT. Without the list the worker leaves
// the root's recordings where they are, so they are not counted either: a student
// with nothing else would be shown done with nothing collected.
uint64_t measurePlain(const Run& run, int slot) {
    std::string root = studentRoot(slot);
    uint64_t size = 0;
    bool noneFound = true;
    const bool listed = forEachListEntryOrLog(kRepList, [&](const std::string& entry) {
        std::string path = root + "/" + entry;
        if (direxist(path) == 0) noneFound = false;
        size += duwav(path, 0);
        printf("fgets replist: %s - %" PRIu64 "\n", entry.c_str(), size);
        printf("sizeTotal = %" PRIu64 "\nfileCntG = %d\n\n", run.sizeTotal, fileCntG);
        return true;
    });
    std::string rootDir = root + "/";
    if (listed && noneFound && direxist(rootDir) == 0) {
        size += duwav(rootDir, 1);
        printf("fgets replist: %s - %" PRIu64 "\n", rootDir.c_str(), size);
    }
    const std::string out = root + "/TAMVIK-OUT";
    if (direxist(out) == 0) size += static_cast<uint32_t>(getDocFiles(out));
    return size;
}

void measureStudent(Run& run, int slot) {
    fileCntG = 0;
    if (sticks[slot] != kPresent || isUsbDetected(slot) == -1) {
        changeLedStatus(slot, kNoStick);
        return;
    }
    if (isUsbMounted(slot) < 0) {
        changeLedStatus(slot, kLost);
        noteNotCollected(slot, "the stick could not be read");
        return;
    }
    const int folders = run.fn == 0 && !run.special ? checkTamvikDirs(slot) : 0;
    if (folders == kFolderUnreadable) {   // its work may lie where the stick cannot read
        changeLedStatus(slot, kFailed);
        noteNotCollected(slot, "its folders could not be read");
        (void)umountUsb(slot);
        return;
    }
    if (folders != 0) {
        printf("checkTamvikDirs error \n");
        changeLedStatus(slot, kFoldersMissing);   // replaced once measured
    }
    uint64_t size = 0;
    if (run.fn != 0) {
        size = static_cast<uint32_t>(getDocFiles(studentRoot(slot)));
    } else {
        size = run.special ? measureSpecial(slot) : measurePlain(run, slot);
    }
    sticksN[slot][kSlotWord] = slot;
    sticksN[slot][kSizeWord] = static_cast<int>(static_cast<uint32_t>(size));
    run.sizeTotal += size * kBlockBytes > kMinShareBytes ? size * kBlockBytes : kMinShareBytes;
    if (run.fn != 0) {
        printf("sizeTotal = %" PRIu64 "\n", run.sizeTotal);
    } else {
        printf("sizeTotal = %" PRIu64 "\nfileCntG = %d\n", run.sizeTotal, fileCntG);
    }
    run.count += 1;
    if (fileCntG > 0) {
        changeLedStatus(slot, kPresent);
    } else if (folders != 0) {   // its 6 stays: what it holds may lie where a folder belongs
        noteNotCollected(slot, "its folders could not be made");
    } else {
        if (run.fn == 0) printf("fileCntG <1 \n");
        changeLedStatus(slot, kFailed);   // nothing to hand in: not collected
        noteNotCollected(slot, "nothing to hand in");
    }
    (void)umountUsb(slot);
}

void firstPass(Run& run) {
    for (int slot = kFirstStudent; slot <= kLastStudent; ++slot) {
        if (cancelRequested()) break;   // the second pass honours it
        measureStudent(run, slot);
    }
}

// The receipts of special-folder sessions lie side by side in TELVO: one of an exam
// whose subjects are no longer on the master still holds its number.
bool receiptKept(int session) {
    const std::string base = std::string(kTelvoDir) + "/SESSION" + std::to_string(session) + "-";
    return fileexist(base + "RECEIPT.txt") == 0 || fileexist(base + "SHA256SUMS") == 0;
}

// Special-folder variant: n is taken when any subject's "-in" folder already holds
// SESSION{n}, or TELVO its receipt. A list that cannot be read any more takes n as
// free, so the search ends.
bool specialSessionFree(int session) {
    if (receiptKept(session)) return false;
    bool taken = false;
    bool listed = forEachListEntry(kTelvoList, [&](const std::string& entry) {
        std::string path =
            std::string(kTelvoDir) + "/" + pairStem(entry) + "in/SESSION" + std::to_string(session);
        taken = fileexist(path) == 0;
        return !taken;
    });
    if (!listed) logEvt(kNoRepList, processId, -1);
    return !taken;
}

// The first free session number; "free" means nothing of that name exists at all,
// so a stray file cannot stand in for a session folder. -1 when the master answered
// with an error meanwhile: the file system reports an entry it cannot read as absent,
// and a folder made under that name would stand beside the earlier session's.
int chooseSession(const Run& run) {
    const ErrorWatch watch(ioErrorCounter(kMaster));
    int session = 1;
    for (;; ++session) {
        bool free =
            run.special ? specialSessionFree(session) : fileexist(sessionPath(session)) != 0;
        if (free) break;
    }
    if (!watch.errorsSince()) return session;
    printf("students2master: the master's sessions cannot be read whole\n");
    return -1;
}

enum class Next { Continue, LeavePass, StopJob };

// Logs and unmounts a stick whose turn is over.
void endTurn(int slot) {
    copyLogToStudent(slot);
    (void)umountUsb(slot);
}

int copyStudent(const Run& run, int slot) {
    char label[kLabelSize] = "";
    getPartitionLabel(slot, sticksPartition[slot], label, sizeof label);
    std::string folder = studentFolder(run.session, slot, label);
    noteStudentFolder(slot, studentFolderName(slot, label));
    (void)createDir(folder + "/");
    if (run.fn != 0) return process_cp_tamvik(0, studentRoot(slot), folder, slot, kMaster);
    if (run.special) return process_telvo_cp_tamvik_n1(0, slot, kMaster, run.session, label);
    return process_cp_tamvik_n1(0, slot, kMaster, run.session, label);
}

// A copy that failed on a master left without a free byte failed on the master: that
// work could not be written to it, however the space rule judged before.
bool masterFilledUp = false;

// Why a copy's result leaves the student's work uncollected, for the receipt.
const char* notCollectedBecause(int result) {
    switch (result) {
        case kSourceLost:
            return "the student stick went away during the copy";
        case kDestinationLost:
            return "the master went away, or read back wrong";
        case kFileFailed:
            return "a file could not be copied to the master or read back";
        case kCancelled:
            return "cancelled";
        default:
            return "the copy stopped answering";
    }
}

Next actOnResult(int slot, int result) {
    if (result != kCopyDone) noteNotCollected(slot, notCollectedBecause(result));
    switch (result) {
        case kCopyDone:
            changeLedStatus(slot, kDone);
            endTurn(slot);
            return Next::Continue;
        case kDestinationLost:   // the master went away: nothing more can be collected
            changeLedStatus(kMaster, kFailed);
            changeLedStatus(slot, kFailed);
            (void)umountUsb(slot);
            (void)umountUsb(kMaster);
            return Next::StopJob;
        case kFileFailed:
            if (df_main(kMasterRoot) == 0) masterFilledUp = true;
            [[fallthrough]];
        case kSourceLost:
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

Next collectRow(const Run& run, int row) {
    int slot = sticksN[row][kSlotWord];
    if (slot < kFirstStudent || slot > kLastStudent || sticks[slot] != kPresent) {
        return Next::Continue;
    }
    uint64_t size = static_cast<uint32_t>(sticksN[row][kSizeWord]);
    uint64_t fsp = df_main(kMasterRoot);
    printf("df_main = %" PRIu64 " -- szEl = %" PRIu64 " -- sizeAvMax = %" PRIu64 "\n", fsp,
           size * 520, run.sizeAvMax);
    if (!spaceRuleHolds(size, fsp)) {
        printf("if ((sticksN[j][1] * 520) > fsp * 1000)\n");
        noteNotCollected(slot, "not enough room left on the master");
        changeLedStatus(slot, kFailed);
        endTurn(slot);
        return Next::Continue;
    }
    if (run.fn == 0 && size * kBlockBytes > run.sizeAvMax) {
        printf("!fn && ((sticksN[j][1] * 512) > sizeAvMax)\n");
        noteNotCollected(slot, "more than ten times the class's average work");
        changeLedStatus(slot, kFailed);
        endTurn(slot);
        return Next::Continue;
    }
    changeLedStatus(slot, kInProgress);
    if (isUsbMounted(slot) == -1) {
        changeLedStatus(slot, kLost);
        noteNotCollected(slot, "the stick could not be read");
        return Next::Continue;
    }
    return actOnResult(slot, copyStudent(run, slot));
}

// false when the master was lost and the job stops at once.
bool secondPass(const Run& run) {
    for (int row = kFirstStudent; row <= kLastStudent; ++row) {
        if (cancelRequested()) {
            honourCancel(students2master, run.fn);
            return true;
        }
        Next next = collectRow(run, row);
        if (next == Next::StopJob) return false;
        if (next == Next::LeavePass) return true;
    }
    return true;
}

// A session the master could not complete (it went away, read back wrong, or took
// no receipt) counts for nobody: a student's work in it is not collected.
void failEveryDoneStudent() {
    for (int slot = kFirstStudent; slot <= kLastStudent; ++slot)
        if (loadWord(slot) == kDone) changeLedStatus(slot, kFailed);
}

// The receipt is the last thing the session gets: a master that cannot take it (full
// or failing) failed, and then no student's work counts as collected.
bool receiptWritten(const Run& run) {
    const std::string session = "SESSION" + std::to_string(run.session);
    const ReceiptPlace place =
        run.special
            ? ReceiptPlace{kTelvoDir, "TELVO/", session + "-", run.session}
            : ReceiptPlace{sessionPath(run.session), "TAMVIK-IN/" + session + "/", "", run.session};
    if (writeReceipt(place)) return true;
    failEveryDoneStudent();
    return false;
}

// The master is done only when everything meant for it is on it: a master that
// took no writes (session folder or a student's work) ends failed. The result
// shows only once the master is really unmounted, its log copy included: the
// operator pulls it as soon as the result shows.
void finish(StickSync& masterWrites, bool masterWritten) {
    copyLogToMaster();
    const bool written = masterWrites.flushed() && masterWritten;
    masterWrites.release();
    const bool released = umountUsb(kMaster) == 0;
    changeLedStatus(kMaster, written && released ? kDone : kFailed);
    (void)to_system("rm /tmp/bt2.cmd");   // in both modes, as the runner expects
    showReadyPattern();
}

}   // namespace
}   // namespace jobs

using namespace jobs;

int students2master(int fn) {
    Run run;
    run.fn = fn;
    masterFilledUp = false;
    startReceipt();
    if (!masterReady(run)) return -1;
    // Opened now, so every write error on the master from here on is seen at the end.
    StickSync masterWrites(kMaster, kMasterRoot);
    changeLedStatus(kMaster, kInProgress);
    firstPass(run);
    if (run.count == 0) {
        // Nothing measured: still the normal end, so the master is never left mounted.
        finish(masterWrites, true);
        return 0;
    }
    run.sizeAvMax = run.sizeTotal * 10 / static_cast<uint64_t>(run.count);
    run.session = chooseSession(run);
    if (run.session < 0) {
        // Nobody collected: every student keeps its work and its measured state.
        finish(masterWrites, false);
        return 0;
    }
    if (!run.special) (void)to_system("mkdir " + sessionPath(run.session));
    if (!secondPass(run)) {
        // The earlier students read back right in their turn, but the session never got
        // its last read-back nor its receipt: what the master did to their work is unknown.
        failEveryDoneStudent();
        return -1;
    }
    // Judged at the end: in whole-stick mode a master without TAMVIK-IN gets the
    // session folder only with the first student's folder, made with its parents.
    const bool sessionMade = run.special || direxist(sessionPath(run.session)) == 0;
    if (!sessionMade) printf("students2master: session folder not made\n");
    const bool intact = !sessionMade || sessionReadsBack(kMasterRoot);
    const bool receipt = sessionMade && receiptWritten(run);
    finish(masterWrites, intact && receipt && !masterFilledUp);
    return 0;
}
