// Pieces shared by the three jobs (distribute, collect, clear) and their format and
// clear workers: the fixed paths, the stick status codes, the cancel test, the list
// readers, the log copies and the space rule. Runs in the operation process and in
// the workers it forks.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace jobs {

constexpr int kFirstStudent = 1;
constexpr int kLastStudent = 16;
constexpr int kMaster = 0;

// Stick status codes as the LED board shows them.
constexpr int kNoStick = 0;
constexpr int kPresent = 2;   // present, or passed the job's checks
constexpr int kInProgress = 3;
constexpr int kDone = 4;
constexpr int kLost = 5;   // not detected or not mountable during the work
constexpr int kFoldersMissing = 6;
constexpr int kFailed = 7;

// Copy worker results as the jobs read them.
constexpr int kCopyDone = 0;
constexpr int kSourceLost = -1;
constexpr int kDestinationLost = -2;
constexpr int kFileFailed = -3;
constexpr int kCancelled = -5;

constexpr const char* kMasterRoot = "/tmp/tamvikma1";
constexpr const char* kTelvoDir = "/tmp/tamvikma1/TELVO";
constexpr const char* kDupCfg = "/tmp/tamvikma1/dup.cfg";
constexpr const char* kCancelFile = "/tmp/bt4.cmd";
constexpr const char* kRepList = "/replist";
constexpr const char* kTelvoList = "/tmp/repTelvo.txt";
constexpr const char* kNoRepList = "no rep list";

// "/tmp/tamvikel{slot}", the student's mount point, without a trailing "/".
std::string studentRoot(int slot);

// After a worker that ended without a result (given up by the watchdog, killed,
// crashed): a stick it left in progress did not get its work done and is marked
// failed, so the result pattern does not report every stick as done; it is
// unmounted without waiting on it (it may not answer), and gets no log copy, which
// would wait on it too.
void releaseGivenUp(int slot);

// The operator asked for a cancel ("/tmp/bt4.cmd" exists).
bool cancelRequested();

// Honours a cancel between sticks: drops every other request and the cancel itself.
// The running job's own request and the ready pattern wait for its end, so the
// result cannot show while the job still writes to the master.
void honourCancel(int (*running)(int fn), int fn);

// Reads a list file (/replist, /tmp/repTelvo.txt) as every reader does: 150-byte
// pieces, each trimmed of white space at both ends. visit returns false to stop.
// Returns false when the list cannot be opened.
bool forEachListEntry(const char* listPath, const std::function<bool(const std::string&)>& visit);

// The same, but logs "no rep list" when the list cannot be opened.
bool forEachListEntryOrLog(const char* listPath,
                           const std::function<bool(const std::string&)>& visit);

// With the master mounted: when it carries TELVO, rebuilds the special-folder list
// and reports whether the special-folder variant is on (the list can be opened).
// unservable: a subject folder was left out of the list, or the master could not
// be read whole there (see refuseMaster).
bool specialFolderCheck(bool& unservable);

// A subject the list cannot hold would be served by no job, and the others reported
// done without it; with only such subjects a clear would even format every student.
// The job refuses the master instead: it shows failed and is unmounted.
void refuseMaster();
// The refusal without the unmount, for a job that releases the master itself.
void markMasterRefused();

// An entry of the special-folder list without its last three characters ("Maths-out"
// gives "Maths-"); "in" appended gives the paired folder.
std::string pairStem(const std::string& entry);

// A student stick is large enough when need x 520 <= free x 1000: the free KiB must
// hold the 512-byte blocks to copy plus 4 %. Both products exact in 64 bits.
bool spaceRuleHolds(uint64_t needBlocks, uint64_t freeKiB);

// With dup.cfg on the master: the console log onto the student stick. The copy
// workers unmount the student when they end, so the stick is mounted again first;
// a stick that cannot be mounted gets no copy (it would land in the bare mount point).
void copyLogToStudent(int slot);

// With dup.cfg on the master: the console log onto the master, straight through the
// shell (no event lines), as the last thing before the master is unmounted.
void copyLogToMaster();

}   // namespace jobs
