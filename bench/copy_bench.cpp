// Throughput of the tree copy (512-byte blocks, one heartbeat per block) against
// `cp -r` of the same tree, measured in the same run on a local file system.
// Runs inside the simulated appliance (HOST mode): it makes its own shared status
// segment there for the heartbeat word, plain files stand for the two sticks'
// device nodes, and a listing script in front of PATH shows both mount points as
// mounted, so the presence checks pass while the data moves on the local disk.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "copy/tree_copy.h"
#include "copy/watchdog.h"
#include "supervisor/globals.h"

namespace {

constexpr const char* kSource = "/tmp/tamvikma1/bench";
constexpr const char* kCpTarget = "/tmp/tamvikel1/by-cp";
constexpr const char* kOurTarget = "/tmp/tamvikel1/by-cp_tamvik";
constexpr long kLargeFile = 48L << 20;   // four of them
constexpr int kLargeFiles = 4;
constexpr int kSmallFiles = 1000;        // in one folder of their own
constexpr long kSmallFile = 8 << 10;
constexpr int kRounds = 7;   // best of: the machine may be busy with other work

using Clock = std::chrono::steady_clock;

void run_or_die(const std::string& cmd) {
    if (system(cmd.c_str()) != 0) {
        fprintf(stderr, "copy_bench: failed: %s\n", cmd.c_str());
        exit(1);
    }
}

void writeFile_or_die(const std::string& path, long size) {
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31 + 7);
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        perror(path.c_str());
        exit(1);
    }
    for (long left = size; left > 0; left -= static_cast<long>(block.size()))
        fwrite(block.data(), 1, std::min<long>(left, static_cast<long>(block.size())), f);
    fclose(f);
}

long buildTree() {
    run_or_die(std::string("rm -rf /tmp/tamvikma1 /tmp/tamvikel1 && mkdir -p ") + kSource +
               " /tmp/tamvikel1");
    long bytes = 0;
    for (int i = 0; i < kLargeFiles; ++i, bytes += kLargeFile)
        writeFile_or_die(std::string(kSource) + "/large" + std::to_string(i) + ".bin", kLargeFile);
    const std::string folder = std::string(kSource) + "/small";
    mkdir(folder.c_str(), 0777);
    for (int i = 0; i < kSmallFiles; ++i, bytes += kSmallFile)
        writeFile_or_die(folder + "/small" + std::to_string(i) + ".txt", kSmallFile);
    return bytes;
}

// Device nodes and a mount listing for the master (slot 0) and student 1.
void standInForSticks() {
    run_or_die("touch /dev/tmvm1-part1 /dev/tmvl1-part1 && mkdir -p /tmp/bench-bin");
    run_or_die("printf '#!/bin/sh\\necho \"bench on /tmp/tamvikma1 type vfat (rw)\"\\n"
               "echo \"bench on /tmp/tamvikel1 type vfat (rw)\"\\n' > /tmp/bench-bin/mount"
               " && chmod +x /tmp/bench-bin/mount");
    setenv("PATH", (std::string("/tmp/bench-bin:") + getenv("PATH")).c_str(), 1);
    sticksPartition[0] = 1;
    sticksPartition[1] = 1;
}

double cpuSeconds() {
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        struct rusage r {};
        getrusage(who, &r);
        total += r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

// Wall time and processor time (this process and the commands it ran) of one copy;
// the processor time varies less when other work shares the machine.
struct Cost {
    double wall = 1e9;
    double cpu = 1e9;
};

void measure(Cost& best, const std::function<void()>& work) {
    double cpuStart = cpuSeconds();
    auto start = Clock::now();
    work();
    best.wall = std::min(best.wall, std::chrono::duration<double>(Clock::now() - start).count());
    best.cpu = std::min(best.cpu, cpuSeconds() - cpuStart);
}

}  // namespace

int main() {
    if (!ensureSegment()) return 1;
    standInForSticks();
    long bytes = buildTree();
    // The copy's console lines go where the daemon's go: a log file.
    int report = dup(STDOUT_FILENO);
    int console = open("/tmp/log.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    fflush(stdout);
    dup2(console, STDOUT_FILENO);

    // Both copies start from the same state: the earlier copy's data written back
    // (sync) and its target removed; the order alternates between rounds.
    Cost cp, ours;
    int result = 0;
    auto byCp = [&] {
        run_or_die(std::string("rm -rf ") + kCpTarget + " && sync");
        measure(cp, [] { run_or_die(std::string("cp -r ") + kSource + " " + kCpTarget); });
    };
    auto byUs = [&] {
        run_or_die(std::string("rm -rf ") + kOurTarget + " && mkdir " + kOurTarget + " && sync");
        measure(ours, [&] { result = cp_tamvik(0, kSource, kOurTarget, 0, 1, 0); });
    };
    for (int round = 0; round < kRounds && result == 0; ++round) {
        if (round % 2 == 0) byCp(), byUs();
        else byUs(), byCp();
    }
    if (result != 0) {
        dprintf(report, "cp_tamvik returned %d\n", result);
        return 1;
    }
    run_or_die(std::string("diff -r ") + kCpTarget + " " + kOurTarget + " > /dev/null");
    fflush(stdout);

    const double mb = static_cast<double>(bytes) / (1 << 20);
    dprintf(report, "tree: %.0f MiB (%d large files, %d small files), best of %d rounds\n", mb,
            kLargeFiles, kSmallFiles, kRounds);
    dprintf(report, "cp -r:     %8.1f MiB/s (%.3f s, processor %.3f s)\n", mb / cp.wall, cp.wall, cp.cpu);
    dprintf(report, "cp_tamvik: %8.1f MiB/s (%.3f s, processor %.3f s)\n", mb / ours.wall, ours.wall, ours.cpu);
    dprintf(report, "ratio cp_tamvik / cp: %.2f (goal 0.90); by processor time %.2f\n", cp.wall / ours.wall,
            cp.cpu / ours.cpu);
    run_or_die("rm -rf /tmp/tamvikma1 /tmp/tamvikel1");
    return 0;
}
