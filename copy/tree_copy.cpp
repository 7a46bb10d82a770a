// Recursive copy between two mounted sticks. Runs only inside a copy worker, whose
// parent kills it when the heartbeat (word 17) is not renewed for 60 seconds.
#include "copy/tree_copy.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <map>
#include <utility>

#include "copy/read_back.h"
#include "copy/watchdog.h"
#include "indicators/status_codes.h"
#include "sticks/detection.h"
#include "sticks/list_file.h"
#include "sticks/mount.h"
#include "sticks/stick_changes.h"
#include "supervisor/base/file_helpers.h"
#include "supervisor/base/globals.h"
#include "supervisor/base/shell_runner.h"
#include "supervisor/base/file_handles.h"

namespace {

constexpr const char* kCancelFile = "/tmp/bt4.cmd";
constexpr size_t kBlockSize = 128 * 1024;   // one heartbeat per block, as large as cp's
constexpr int kAttempts = 3;
constexpr useconds_t kLossWaitUs = 200000;   // a pulled stick's node has gone by then
constexpr useconds_t kLossPollUs = 10000;
constexpr int kStatusLost = 5;

constexpr int kCancelled = -5;
constexpr int kSourceLost = -1;
constexpr int kDestinationLost = -2;
constexpr int kFileFailed = -3;

// One block buffer for the whole worker: a worker copies one file at a time.
char gBlock[kBlockSize];

bool cancelRequested() { return fileexist(kCancelFile) == 0; }

// A link is never followed, even one that appeared after the folder was listed.
int openSource(const std::string& path) {
    return open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
}

// A link placed on the stick where the file goes must not make the appliance write
// outside the stick: the destination is opened without following links.
int openDestination(const std::string& path) {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
}

// A full stick may show only when the destination is closed, so its close result
// is part of the copy's result.
int closeDestination(Fd& destination) { return close(destination.release()); }

// All of the bytes, or false: a short write that makes no progress is a full or
// failing stick.
bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Moves the data in blocks straight between the descriptors, renewing the
// heartbeat before each block, so the watchdog sees progress as long as data
// moves. The loop ends on a read that returns nothing, so an empty file gets one
// heartbeat too. The bytes are hashed as they pass, for the read-back.
int copyBlocks(int source, int destination, Sha256& sha, uint64_t& bytes) {
    for (;;) {
        renewHeartbeat();
        const ssize_t got = read(source, gBlock, sizeof gBlock);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return kSourceLost;
        if (got == 0) return 0;
        sha.add(gBlock, static_cast<size_t>(got));
        bytes += static_cast<uint64_t>(got);
        if (!writeAll(destination, gBlock, static_cast<size_t>(got))) return kDestinationLost;
    }
}

bool isHidden(const char* name) { return name[0] == '.'; }

// A pulled stick's node goes some milliseconds after its first I/O error: judged
// at once, both sticks would still be there, and the three attempts would all be
// spent before it went, so the wrong stick would be blamed. Waits until a node
// went, at most kLossWaitUs.
void awaitNodeLoss(int srcStick, int dstStick) {
    for (useconds_t waited = 0; waited < kLossWaitUs; waited += kLossPollUs) {
        if (nodeGone(srcStick) || nodeGone(dstStick)) return;
        usleep(kLossPollUs);
    }
}

// After a failed read or write: -1 when the source stick went, -2 when the
// destination went, 0 when both are still there.
int stickThatWent(int srcStick, int dstStick, bool print) {
    awaitNodeLoss(srcStick, dstStick);
    return checkSticks(srcStick, dstStick, print);
}

// A stick that answered an error: which stick went decides, as for a failed file;
// both still there, the copy failed (-3).
int wentOrFailed(int srcStick, int dstStick) {
    const int lost = stickThatWent(srcStick, dstStick, false);
    return lost != 0 ? lost : kFileFailed;
}

// Up to three attempts per file. After a failure, find out which stick went away
// (-1 source, -2 destination); both still there after the third attempt: -3.
int copyWithAttempts(const std::string& source, const std::string& destination, int copyMode,
                     int srcStick, int dstStick) {
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        int result = copier_fichier(source, destination);
        if (result == 0 || result == kCancelled) return result;
        int lost = stickThatWent(srcStick, dstStick, copyMode == 1 && attempt == 1);
        if (lost != 0) return lost;
    }
    return kFileFailed;
}

// The next entry of a folder, nullptr at its end. The file system skips a folder
// block the stick cannot read, or ends the listing there, and tells the reader
// nothing: only the stick's error count (read at counter) shows that the listing
// is not whole.
const dirent* nextEntry(DIR* folder, const std::string& counter, bool& whole) {
    const ErrorWatch watch(counter);
    errno = 0;
    const dirent* entry = readdir(folder);
    whole = errno == 0 && !watch.errorsSince();
    return entry;
}

// A folder that could not be listed whole: its files that went unseen would be
// missing from a copy reported done. Which stick went decides, as for a file.
int listingFailed(const std::string& folder, int srcStick, int dstStick) {
    printf("cannot list %s whole\n", folder.c_str());
    return wentOrFailed(srcStick, dstStick);
}

// The names a folder's copy wrote, by their letters' case folded: a FAT stick folds case, so
// "a.txt" and "A.TXT" from a stick that keeps them apart are one file there, and the second
// would silently overwrite the first.
using WrittenNames = std::map<std::string, std::string>;

std::string folded(const char* name) {
    std::string text(name);
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Whether the destination already holds `name` (`key` folded) as an entry written under
// another name: both resolve to the one file or folder there.
bool nameTaken(const WrittenNames& written, const std::string& key, const char* name,
               const std::string& destination) {
    const auto earlier = written.find(key);
    if (earlier == written.end() || earlier->second == name) return false;
    struct stat first = {};
    struct stat second = {};
    if (lstat((destination + "/" + earlier->second).c_str(), &first) != 0) return false;
    if (lstat((destination + "/" + name).c_str(), &second) != 0) return false;
    if (first.st_dev != second.st_dev || first.st_ino != second.st_ino) return false;
    printf("%s/%s and %s are one name on the destination: not copied over it\n",
           destination.c_str(), earlier->second.c_str(), name);
    return true;
}

struct CopyJob {
    int copyMode;
    int srcStick;
    int dstStick;
    int audioOnly;
};

// copyMode 1: the list is read again for every file; a file selected by two lines
// is copied twice, as each line is its own request.
int copyListedFile(const CopyJob& job, const std::string& name, const std::string& source,
                   const std::string& destination) {
    const int copies = listedCopies(name, job.audioOnly);
    if (copies < 0) logEvt("no file list", processId, -1);
    for (int copy = 0; copy < copies; ++copy) {
        int result =
            copyWithAttempts(source, destination, job.copyMode, job.srcStick, job.dstStick);
        if (result != 0) return result;
    }
    return 0;
}

// One entry of a listed folder; a negative result stops the whole copy.
int copyEntry(const CopyJob& job, const char* name, const std::string& source,
              const std::string& destination) {
    std::string sourcePath = source + "/" + name;
    struct stat st {};
    if (lstat(sourcePath.c_str(), &st) != 0) {
        printf("errno = %d - %s\n", errno, sourcePath.c_str());
        return kSourceLost;
    }
    std::string destinationPath = destination + "/" + name;
    if (S_ISDIR(st.st_mode) && job.copyMode == 0 && !isHidden(name)) {
        const int folder = makeDestinationFolder(destinationPath, job.srcStick, job.dstStick);
        if (folder < 0) return folder;
        const bool made = folder == 0;
        if (made) renewHeartbeat();   // a folder made is progress: a deep tree is no hang
        // A folder not made: the copy goes on, its files then fail and tell which stick went.
        logEvt(made ? "succes to create directory" : "failed to create directory", processId, -1);
        return cp_tamvik(job.copyMode, sourcePath, destinationPath, job.srcStick, job.dstStick,
                         job.audioOnly);
    }
    if (!S_ISREG(st.st_mode)) return 0;   // folders, links, devices, pipes, sockets
    if (job.copyMode == 0)
        return copyWithAttempts(sourcePath, destinationPath, job.copyMode, job.srcStick,
                                job.dstStick);
    return copyListedFile(job, name, sourcePath, destinationPath);
}

// The pair of sticks whose four checks last all passed in this process (by the
// lines they printed, which name the nodes), and the count of stick changes seen
// before they began.
struct PassedChecks {
    bool valid = false;
    std::string lines;
    unsigned long changesSeen = 0;
};
PassedChecks gPassed;

}   // namespace

// The four presence checks, stopping at the first failure: -1 for the source stick,
// -2 for the destination stick (status 5 on the stick in both cases), else 0.
// They run for every folder. While no node of /dev came or went and nothing was
// mounted or unmounted since they last passed for the same pair, they would pass
// again: then only their lines are printed, one write, after a single look.
int checkSticks(int srcStick, int dstStick, bool print) {
    const unsigned long changes = lookForStickChanges();
    std::string lines = detectionLines(srcStick) + detectionLines(dstStick);
    PassedChecks& passed = gPassed;
    if (passed.valid && passed.changesSeen == changes && passed.lines == lines) {
        fputs(lines.c_str(), stdout);
        logStillMounted(srcStick);
        logStillMounted(dstStick);
        return 0;
    }
    passed.valid = false;
    auto lost = [print](const char* line, int slot, int result) {
        if (print) puts(line);
        changeLedStatus(slot, kStatusLost);
        return result;
    };
    if (isUsbDetected(srcStick) == -1)
        return lost("isUsbDetected(srcStick) == -1", srcStick, kSourceLost);
    if (isUsbStillMounted(srcStick) == -1)
        return lost("isUsbMounted(srcStick) == -1", srcStick, kSourceLost);
    if (isUsbDetected(dstStick) == -1)
        return lost("isUsbDetected(dstStick) == -1", dstStick, kDestinationLost);
    if (isUsbStillMounted(dstStick) == -1)
        return lost("isUsbMounted(dstStick) == -1", dstStick, kDestinationLost);
    passed = {true, std::move(lines), changes};
    return 0;
}

int copier_fichier(const std::string& source, const std::string& destination) {
    printf("copier_fichier - %s - %s \n", source.c_str(), destination.c_str());
    if (cancelRequested()) {
        puts("copier_fichier tmp/bt4.cmd");
        return kCancelled;
    }
    Fd in(openSource(source));
    if (in.fd < 0) return kSourceLost;
    Fd out(openDestination(destination));
    if (out.fd < 0) return kDestinationLost;

    Sha256 sha;
    uint64_t bytes = 0;
    const int result = copyBlocks(in.fd, out.fd, sha, bytes);
    // Destination first, then the source, whatever the outcome.
    const int closed = closeDestination(out);
    (void)close(in.release());
    if (result != 0) return result;
    if (closed != 0) return kDestinationLost;
    noteWritten(destination, {sha.digest(), bytes});
    puts("copier_fichier 0");
    return 0;
}

int cp_tamvik(int copyMode, const std::string& source, const std::string& destination, int srcStick,
              int dstStick, int audioOnly) {
    int lost = checkSticks(srcStick, dstStick, true);
    if (lost != 0) return lost;
    printf("\ncp_tamvik %d - source %s - destination %s - %ju \n", copyMode, source.c_str(),
           destination.c_str(), static_cast<uintmax_t>(time(nullptr)));
    if (cancelRequested()) {
        puts("cp_tamvik tmp/bt4.cmd");
        return kCancelled;
    }
    struct stat st {};
    if (lstat(source.c_str(), &st) != 0) {
        puts("error ");
        return kSourceLost;
    }
    if (!S_ISDIR(st.st_mode)) return 0;
    Dir listing(opendir(source.c_str()));
    if (!listing) return listingFailed(source, srcStick, dstStick);

    CopyJob job{copyMode, srcStick, dstStick, audioOnly};
    // Entries in the order the listing gives them; a negative result of any level
    // stops the copy and comes back unchanged through every level above.
    const std::string counter = ioErrorCounter(srcStick);
    bool whole = true;
    WrittenNames written;
    while (const dirent* entry = nextEntry(listing.get(), counter, whole)) {
        if (!whole) break;
        // Two names the destination cannot keep apart fail this copy (the student's), not the
        // destination stick as one that hands back other data than it was given.
        std::string key = folded(entry->d_name);
        if (nameTaken(written, key, entry->d_name, destination)) return kFileFailed;
        int result = copyEntry(job, entry->d_name, source, destination);
        if (result < 0) return result;
        written.emplace(std::move(key), entry->d_name);
    }
    return whole ? 0 : listingFailed(source, srcStick, dstStick);
}

int makeDestinationFolder(const std::string& folder, int srcStick, int dstStick) {
    const int made = ensureFolder(dstStick, folder);
    if (made != kFolderUnreadable) return made == 0 ? 0 : 1;
    return wentOrFailed(srcStick, dstStick);
}

int lookUpFolder(const std::string& folder, int srcStick, int dstStick, bool& there) {
    const ErrorWatch watch(ioErrorCounter(srcStick));
    Dir dir(opendir(folder.c_str()));
    const int error = errno;
    there = dir != nullptr;
    if (there) return 0;
    // Not there (or a file), as far as the stick could tell: still, it may have just gone.
    const bool answered = (error == ENOENT || error == ENOTDIR) && !watch.errorsSince();
    const int lost = answered ? checkSticks(srcStick, dstStick, false)
                              : stickThatWent(srcStick, dstStick, false);
    if (lost != 0 || answered) return lost;
    printf("cannot look up %s\n", folder.c_str());
    return kFileFailed;
}
