// Copy workers of the folder and whole-stick jobs: one forked worker per student
// stick under the watchdog (words 17, 18). The bodies run in the worker.
#include "copy/workers.h"

#include <cstdio>

#include "copy/read_back.h"
#include "copy/tree_copy.h"
#include "copy/worker_frame.h"
#include "indicators/status_codes.h"
#include "sticks/label_folder.h"
#include "sticks/list_file.h"
#include "supervisor/base/file_helpers.h"
#include "supervisor/base/globals.h"
#include "supervisor/base/shell_runner.h"

namespace {

constexpr const char* kRepList = "/replist";
constexpr const char* kMasterOut = "/tmp/tamvikma1/TAMVIK-OUT";
constexpr const char* kMasterRootSlash = "/tmp/tamvikma1/";
constexpr int kMasterSlot = 0;
constexpr int kStatusBusy = 3;
constexpr int kWholeTree = 0;
constexpr int kListedFiles = 1;

// Which copy result means which stick went away depends on the direction.
struct Direction {
    int student;
    int masterLost;      // distribute: -1 (source), collect: -2 (destination)
    int studentLost;     // distribute: -2, collect: -1
    bool studentFirst;   // unmount order when the master is lost
    bool toMaster;       // the copies write to the master
};

constexpr Direction distributeTo(int student) { return {student, -1, -2, true, false}; }
constexpr Direction collectFrom(int student) { return {student, -2, -1, false, true}; }

// The end a copy result calls for, or nothing (0 or -5: the worker goes on).
bool endsWorker(const Direction& d, int r) {
    return r == d.masterLost || r == d.studentLost || r == -3;
}

WorkerOutcome endFor(const Direction& d, int r) {
    if (r == d.masterLost) return endMasterLost(d.student, d.studentFirst, r);
    return endStudentFailed(d.student, r == d.studentLost, r);
}

// Done only once the data is on the destination stick; a stick that refuses it
// failed like a file that failed three times. A master that hands back other data
// than it was given can keep no student's work: it failed like a lost one.
// A collected student's files go into the session's receipt.
WorkerOutcome endDoneIfWritten(const Direction& d, StickSync& sync, int result) {
    if (!sync.flushed()) return endFor(d, sync.misread && d.toMaster ? d.masterLost : -3);
    if (d.toMaster && !recordVerified(kMasterMount, d.student)) return endFor(d, -3);
    return endDone(d.student, result);
}

void printReplist(const std::string& entry) {
    printf("process_cp_tamvik replist %s\n\n", entry.c_str());
}

// The copies of the folders named in /replist, from sourceRoot + F to
// destinationRoot + F. found: a listed folder exists on the source stick;
// lastEntry: the last line read; result: the worker's result so far.
struct ListedCopy {
    std::string sourceRoot;        // ends with "/"
    std::string destinationRoot;   // ends with "/"
    int srcStick;
    int dstStick;
    bool found = false;
    std::string lastEntry;
    int result = 0;
};

// Returns true when a copy ended the worker (outcome set); a listed folder the
// source stick lacks is passed over.
bool copyListedFolders(ListFile& list, ListedCopy& copy, const Direction& d,
                       WorkerOutcome& outcome) {
    std::string piece;
    while (list.readPiece(piece)) {
        copy.lastEntry = trimmedEntry(piece);
        std::string source = copy.sourceRoot + copy.lastEntry;
        bool there = false;
        const int looked = lookUpFolder(source, copy.srcStick, copy.dstStick, there);
        if (looked != 0) {
            outcome = endFor(d, looked);
            return true;
        }
        if (!there) continue;
        copy.found = true;
        std::string destination = copy.destinationRoot + copy.lastEntry;
        const int folder = makeDestinationFolder(destination, copy.srcStick, copy.dstStick);
        if (folder < 0) {
            outcome = endFor(d, folder);
            return true;
        }
        int r = cp_tamvik(kListedFiles, source, destination, copy.srcStick, copy.dstStick, 0);
        printReplist(copy.lastEntry);
        if (endsWorker(d, r)) {
            outcome = endFor(d, r);
            return true;
        }
        copy.result = carryCancel(copy.result, r);
    }
    return false;
}

WorkerOutcome distributeBody(int srcStick, int student) {
    const Direction d = distributeTo(student);
    changeLedStatus(student, kStatusBusy);
    StickSync sync(student, studentRoot(student));
    const std::string inFolder = studentRoot(student) + "/TAMVIK-IN/";
    const std::string documents = inFolder + "Documents";
    const int folder = makeDestinationFolder(documents, srcStick, student);
    if (folder < 0) return endFor(d, folder);
    int r = cp_tamvik(kWholeTree, kMasterOut, documents, srcStick, student, 0);
    if (endsWorker(d, r)) return endFor(d, r);

    ListedCopy copy{kMasterRootSlash, inFolder, kMasterSlot, student, false, "", r};
    ListFile list(kRepList);
    WorkerOutcome outcome{};
    if (!list.isOpen())
        logEvt(kNoRepList, processId, -1);
    else if (copyListedFolders(list, copy, d, outcome))
        return outcome;

    // No listed folder on the master: the listed audio files at its root go.
    if (!copy.found && direxist(kMasterRootSlash) == 0) {
        (void)createDir(inFolder);
        r = cp_tamvik(kListedFiles, kMasterRootSlash, inFolder, kMasterSlot, student, 1);
        printReplist(copy.lastEntry);
        if (endsWorker(d, r)) return endFor(d, r);
        copy.result = carryCancel(copy.result, r);
    }
    return endDoneIfWritten(d, sync, copy.result);
}

std::string collectFolder(int sessionNo, int student, const std::string& label) {
    return std::string(kMasterMount) + "/TAMVIK-IN/SESSION" + std::to_string(sessionNo) + "/" +
           studentFolderName(student, label);
}

WorkerOutcome collectBody(int student, int busyStick, int sessionNo, const std::string& label) {
    const Direction d = collectFrom(student);
    changeLedStatus(busyStick, kStatusBusy);
    const std::string root = studentRoot(student) + "/";
    // A TAMVIK-OUT that is no folder may be the work itself, which the copy would pass
    // over: the student is not shown done, and what it holds stays on its stick.
    if (fileexist(root + "TAMVIK-OUT") == 0 && direxist(root + "TAMVIK-OUT") != 0)
        return endFor(d, -3);
    const std::string folder = collectFolder(sessionNo, student, label);
    const std::string documents = folder + "/Documents";
    StickSync sync(kMasterSlot, kMasterMount);
    (void)createDir(folder);
    (void)createDir(documents);
    int r = cp_tamvik(kWholeTree, root + "TAMVIK-OUT", documents, student, kMasterSlot, 0);
    if (endsWorker(d, r)) return endFor(d, r);

    ListFile list(kRepList);
    if (!list.isOpen()) {
        // Unlike distribute, no fallback copy without the list.
        logEvt(kNoRepList, processId, -1);
        return endDoneIfWritten(d, sync, r);
    }
    ListedCopy copy{root, folder + "/", student, kMasterSlot, false, "", r};
    WorkerOutcome outcome{};
    if (copyListedFolders(list, copy, d, outcome)) return outcome;

    if (!copy.found && direxist(root) == 0) {
        (void)createDir(folder);
        r = cp_tamvik(kListedFiles, root, folder, student, kMasterSlot, 1);
        printReplist(copy.lastEntry);
        if (endsWorker(d, r)) return endFor(d, r);
        copy.result = carryCancel(copy.result, r);
    }
    return endDoneIfWritten(d, sync, copy.result);
}

}   // namespace

int process_cp_tamvik(int copyMode, const std::string& source, const std::string& destination,
                      int srcStick, int dstStick) {
    // Whole-stick mode: one tree copy; the job sets the status codes and unmounts.
    // A master that reads back wrong fails as a lost one (-2 is the destination).
    return runCopyWorker([&]() -> WorkerOutcome {
        StickSync sync(dstStick, destination);
        int result = cp_tamvik(copyMode, source, destination, srcStick, dstStick, 0);
        if ((result == 0 || result == -5) && !sync.flushed())
            result = sync.misread && dstStick == kMasterSlot ? -2 : -3;
        else if ((result == 0 || result == -5) && dstStick == kMasterSlot &&
                 !recordVerified(kMasterMount, srcStick))
            result = -3;
        return {result, true};
    });
}

int process_cp_tamvik_1n(int, const std::string&, const std::string&, int srcStick, int dstStick) {
    // The paths are built from dstStick; the path arguments name the same folders.
    return runCopyWorker([&]() { return distributeBody(srcStick, dstStick); });
}

int process_cp_tamvik_n1(int, int studentStick, int busyStick, int sessionNo,
                         const std::string& label) {
    return runCopyWorker([&]() { return collectBody(studentStick, busyStick, sessionNo, label); });
}
