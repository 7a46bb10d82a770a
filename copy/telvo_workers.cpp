// Special-folder copy workers, on the same watchdog frame as the folder workers.
// For each "-out" folder of the master's TELVO folder (listed in /tmp/repTelvo.txt)
// distribute fills the student's "-in" partner; collect gathers the student's
// "-out" folder into the master's TELVO/<stem>in/SESSION<n>/UE<slot>[ label].
#include "copy/telvo_workers.h"

#include <cstdio>

#include "copy/read_back.h"
#include "copy/tree_copy.h"
#include "copy/worker_frame.h"
#include "indicators/status_codes.h"
#include "sticks/detection.h"
#include "sticks/label_folder.h"
#include "sticks/list_file.h"
#include "supervisor/base/file_helpers.h"
#include "supervisor/base/globals.h"
#include "supervisor/base/shell_runner.h"
#include "supervisor/base/text_utils.h"

namespace {

constexpr const char* kTelvoList = "/tmp/repTelvo.txt";
constexpr const char* kMasterTelvo = "/tmp/tamvikma1/TELVO/";
constexpr int kMasterSlot = 0;
constexpr int kStatusBusy = 3;
constexpr int kWholeTree = 0;
constexpr size_t kOutSuffix = 3;   // "out" of "-out"; the partner is stem + "in"

// The next "-out" entry of the list, trimmed. The list holds only such names;
// anything else (a blank line, the tail of an over-long name read as a piece of
// its own) names no special folder and is passed over.
bool nextEntry(ListFile& list, std::string& entry) {
    std::string piece;
    while (list.readPiece(piece)) {
        entry = trimmedEntry(piece);
        if (EndsWithOut(entry.c_str())) return true;
    }
    return false;
}

// Maths-out gives Maths-in, Maths-OUT too: only the last three characters go.
std::string partnerName(const std::string& entry) {
    return entry.substr(0, entry.size() - kOutSuffix) + "in";
}

void printReplist(const std::string& entry) {
    printf("process_cp_tamvik replist %s\n\n", entry.c_str());
}

// Done only once the data is on the destination stick (see StickSync). A master
// that hands back other data than it was given failed like a lost one.
WorkerOutcome endDoneIfWritten(int student, StickSync& sync, int result) {
    const bool toMaster = sync.slot == kMasterSlot;
    if (!sync.flushed()) {
        if (sync.misread && toMaster) return endMasterLost(student, false, -2);
        return endStudentFailed(student, false, -3);
    }
    // A collected student's files go into the session's receipt.
    if (toMaster && !recordVerified(kMasterMount, student))
        return endStudentFailed(student, false, -3);
    return endDone(student, result);
}

WorkerOutcome distributeBody(int student) {
    changeLedStatus(student, kStatusBusy);
    StickSync sync(student, studentRoot(student));
    ListFile list(kTelvoList);
    if (!list.isOpen()) {
        logEvt(kNoRepList, processId, -1);
        return endDoneIfWritten(student, sync, 0);
    }
    const std::string root = studentRoot(student) + "/";
    int result = 0;
    std::string entry;
    while (nextEntry(list, entry)) {
        // Both folders are made even when the master's folder is missing, so the
        // student finds where to hand work in. A stick where either cannot be made (a
        // file already holds the name) or looked up is not ready, whatever was copied.
        const std::string inFolder = root + partnerName(entry);
        if (ensureFolder(student, root + entry) != 0 || ensureFolder(student, inFolder) != 0) {
            printf("student %d: the folders of %s cannot be made\n", student, entry.c_str());
            return endStudentFailed(student, false, -3);
        }
        const std::string source = kMasterTelvo + entry;
        bool there = false;
        int r = lookUpFolder(source, kMasterSlot, student, there);
        if (r == 0 && !there) continue;
        if (r == 0) r = cp_tamvik(kWholeTree, source, inFolder, kMasterSlot, student, 0);
        printReplist(entry);
        if (r == -1) return endMasterLost(student, true, r);
        if (r == -2 || r == -3) return endStudentFailed(student, r == -2, r);
        result = carryCancel(result, r);
    }
    return endDoneIfWritten(student, sync, result);
}

std::string collectFolder(const std::string& entry, int sessionNo, int student,
                          const std::string& label) {
    const std::string folder = kMasterTelvo + partnerName(entry) + "/SESSION" +
                               std::to_string(sessionNo) + "/" + studentFolderName(student, label);
    return labelAsFolderName(label).empty() ? folder + "/" : folder;
}

WorkerOutcome collectBody(int student, int busyStick, int sessionNo, const std::string& label) {
    changeLedStatus(busyStick, kStatusBusy);
    StickSync sync(kMasterSlot, kMasterMount);
    ListFile list(kTelvoList);
    if (!list.isOpen()) {
        logEvt(kNoRepList, processId, -1);
        return endDoneIfWritten(student, sync, 0);
    }
    const std::string root = studentRoot(student) + "/";
    int result = 0;
    std::string entry;
    while (nextEntry(list, entry)) {
        const std::string destination = collectFolder(entry, sessionNo, student, label);
        (void)createDir(destination);
        const std::string source = root + entry;
        bool there = false;
        int r = lookUpFolder(source, student, kMasterSlot, there);
        if (r == 0 && !there) {
            // A file with the folder's name may be the work itself: not passed over.
            if (fileexist(source) == 0) return endStudentFailed(student, false, -3);
            (void)createDir(source);   // the student finds the folder for next time
            continue;
        }
        if (r == 0) r = cp_tamvik(kWholeTree, source, destination, student, kMasterSlot, 0);
        printReplist(entry);
        if (r == -2) return endMasterLost(student, false, r);
        if (r == -1 || r == -3) return endStudentFailed(student, r == -1, r);
        result = carryCancel(result, r);
    }
    return endDoneIfWritten(student, sync, result);
}

}   // namespace

int process_telvo_cp_tamvik_1n(int, const std::string&, const std::string&, int, int dstStick) {
    // Every copy reads from the master (slot 0); srcStick is not passed on.
    return runCopyWorker([&]() { return distributeBody(dstStick); });
}

int process_telvo_cp_tamvik_n1(int, int studentStick, int busyStick, int sessionNo,
                               const std::string& label) {
    return runCopyWorker([&]() { return collectBody(studentStick, busyStick, sessionNo, label); });
}
