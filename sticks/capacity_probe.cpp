// The capacity probe of a stick about to be formatted. Every read and write goes
// around the page cache (O_DIRECT), so what is read back comes from the stick.
#include "sticks/capacity_probe.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "supervisor/base/file_handles.h"

namespace {

constexpr uint64_t kBlock = 4096;
constexpr uint64_t kFirstProbe = 1 << 20;
constexpr uint64_t kFlushBytes = 8 << 20;   // more than a stick's own write cache
constexpr uint64_t kFlushChunk = 1 << 20;

struct FreeDeleter {
    void operator()(char* p) const { free(p); }
};
using Buffer = std::unique_ptr<char, FreeDeleter>;

Buffer aligned(uint64_t bytes) { return Buffer(static_cast<char*>(aligned_alloc(kBlock, bytes))); }

bool readAt(int fd, char* data, uint64_t bytes, uint64_t offset) {
    return pread(fd, data, bytes, static_cast<off_t>(offset)) == static_cast<ssize_t>(bytes);
}

bool writeAt(int fd, const char* data, uint64_t bytes, uint64_t offset) {
    return pwrite(fd, data, bytes, static_cast<off_t>(offset)) == static_cast<ssize_t>(bytes);
}

// Powers of two from 1 MiB below the claimed size, then the last block, then the first.
// A stick holding half what it claims wraps its upper half onto its start: only a probe
// of the first block sees another probe land there. It goes last, so the first probe
// found wrong is where the stick ends.
std::vector<uint64_t> probeOffsets(uint64_t claimed) {
    std::vector<uint64_t> offsets;
    for (uint64_t at = kFirstProbe; at + kBlock <= claimed; at *= 2) offsets.push_back(at);
    if (offsets.empty()) return offsets;
    const uint64_t last = claimed / kBlock * kBlock - kBlock;
    if (last != offsets.back()) offsets.push_back(last);
    offsets.push_back(0);
    return offsets;
}

// A block that names its own position and this probe, so neither an earlier probe's
// block nor another position's can pass for it.
void tag(char* block, uint64_t offset, uint64_t run) {
    char text[64];
    const int length =
        snprintf(text, sizeof text, "stickdup probe %" PRIu64 " at %" PRIu64 "\n", run, offset);
    for (uint64_t i = 0; i < kBlock; ++i) block[i] = text[i % static_cast<uint64_t>(length)];
}

// Reads a stretch below the last probed block and writes it back as it was read: the
// content stays, and the stick's cache no longer holds the probed blocks.
bool flushStickCache(int fd, uint64_t claimed) {
    const uint64_t bytes = std::min(kFlushBytes, claimed / 4 / kFlushChunk * kFlushChunk);
    Buffer chunk = aligned(kFlushChunk);
    if (!chunk) return false;
    const uint64_t start = (claimed - kBlock - bytes) / kFlushChunk * kFlushChunk;
    for (uint64_t at = start; at < start + bytes; at += kFlushChunk)
        if (!readAt(fd, chunk.get(), kFlushChunk, at) || !writeAt(fd, chunk.get(), kFlushChunk, at))
            return false;
    return fdatasync(fd) == 0;
}

}   // namespace

CapacityProbe probeCapacity(const std::string& node) {
    CapacityProbe result{false, 0, 0};
    Fd fd(open(node.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC));
    if (fd.fd < 0 || ioctl(fd.fd, BLKGETSIZE64, &result.claimed) != 0) return result;
    const std::vector<uint64_t> offsets = probeOffsets(result.claimed);
    const uint64_t n = offsets.size();
    if (n == 0) return {true, result.claimed, result.claimed};   // too small to be probed
    Buffer saved = aligned(n * kBlock), probe = aligned(kBlock), seen = aligned(kBlock);
    if (!saved || !probe || !seen) return result;
    // Everything is read before anything is written: blocks that land on the same
    // place all read the same, and putting them back in any order restores it.
    for (uint64_t i = 0; i < n; ++i)
        if (!readAt(fd.fd, saved.get() + i * kBlock, kBlock, offsets[i])) return result;
    const uint64_t run = static_cast<uint64_t>(time(nullptr)) ^ static_cast<uint64_t>(getpid());
    bool written = true;
    for (uint64_t i = 0; i < n && written; ++i) {
        tag(probe.get(), offsets[i], run);
        written = writeAt(fd.fd, probe.get(), kBlock, offsets[i]);
    }
    result.holds = written && fdatasync(fd.fd) == 0 && flushStickCache(fd.fd, result.claimed);
    for (uint64_t i = 0; i < n && result.holds; ++i) {
        tag(probe.get(), offsets[i], run);
        result.holds = readAt(fd.fd, seen.get(), kBlock, offsets[i]) &&
                       memcmp(seen.get(), probe.get(), kBlock) == 0;
        result.answered = result.holds ? result.claimed : offsets[i];
    }
    for (uint64_t i = n; i-- > 0;)
        (void)writeAt(fd.fd, saved.get() + i * kBlock, kBlock, offsets[i]);
    (void)fdatasync(fd.fd);
    return result;
}

bool capacityHolds(int slot, const std::string& node) {
    const CapacityProbe probe = probeCapacity(node);
    if (probe.holds) return true;
    printf("capacity: stick %d (%s) answers for %" PRIu64 " of the %" PRIu64
           " MiB it claims: not formatted\n",
           slot, node.c_str(), probe.answered >> 20, probe.claimed >> 20);
    return false;
}
