// The read-back of a copy worker's files.
#include "copy/read_back.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <utility>
#include <vector>

#include "copy/watchdog.h"
#include "supervisor/base/file_handles.h"

namespace {

constexpr size_t kBlockSize = 1024 * 1024;   // large reads: the stick streams

// Path -> content, for the files this worker wrote.
std::map<std::string, Written> gWritten;

// The files noted below root, with their paths from there.
std::vector<std::pair<std::string, Written>> writtenBelow(const std::string& root) {
    const std::string below = root + "/";
    std::vector<std::pair<std::string, Written>> files;
    for (const auto& [path, written] : gWritten)
        if (path.compare(0, below.size(), below) == 0)
            files.emplace_back(path.substr(below.size()), written);
    return files;
}

}   // namespace

bool digestOnStick(const std::string& path, Digest& digest) {
    Fd in(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (in.fd < 0) return false;
    // The stick was synced, so the pages are clean and can be dropped: the reads
    // then come from the device.
    (void)posix_fadvise(in.fd, 0, 0, POSIX_FADV_DONTNEED);
    (void)posix_fadvise(in.fd, 0, 0, POSIX_FADV_SEQUENTIAL);   // a larger read-ahead
    static char block[kBlockSize];
    Sha256 sha;
    for (;;) {
        renewHeartbeat();
        const ssize_t got = read(in.fd, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        sha.add(block, static_cast<size_t>(got));
    }
    digest = sha.digest();
    return true;
}

void noteWritten(const std::string& path, const Written& written) { gWritten[path] = written; }

bool readsBack(const std::string& path, const Digest& digest) {
    Digest onStick{};
    return digestOnStick(path, onStick) && onStick == digest;
}

std::string firstMisread(const std::string& root) {
    for (const auto& [path, written] : writtenBelow(root))
        if (!readsBack(root + "/" + path, written.digest)) return root + "/" + path;
    return "";
}

std::string hexDigest(const Digest& digest) {
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : digest) text += {hex[byte >> 4], hex[byte & 15]};
    return text;
}

bool recordVerified(const std::string& root, int student) {
    std::string records;
    for (const auto& [path, written] : writtenBelow(root)) {
        records += std::to_string(student) + " " + hexDigest(written.digest) + " " +
                   std::to_string(written.bytes) + " " + path;
        records += '\0';
    }
    Fd out(open(kVerifiedRecords, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    return out.fd >= 0 &&
           write(out.fd, records.data(), records.size()) == static_cast<ssize_t>(records.size());
}
