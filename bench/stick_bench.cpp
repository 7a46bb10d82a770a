// What a distribute and a collect spend on one stick beyond its copy, and what the
// tree copy costs against `cp -r` of the same tree between the same two FAT sticks.
// Runs inside the simulated appliance in KERNEL mode (real mounts):
//   sim/appliance --kernel --share BUILD -- BUILD/bench/stick_bench
// Shell commands are counted at system(), which this program defines in front of
// the C library's: every command the daemon's code runs goes through it.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "copy/tree_copy.h"
#include "copy/watchdog.h"
#include "indicators/status_codes.h"
#include "operations/collect.h"
#include "operations/distribute.h"
#include "sticks/detection.h"
#include "sticks/mount.h"
#include "supervisor/globals.h"
#include "tests/support/appliance.h"

namespace {

// The copy workers are forked: their commands count in a page shared with them.
int* gCommands = static_cast<int*>(
    mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));

using Clock = std::chrono::steady_clock;

struct Cost {
    double millis;
    int commands;
};

Cost measure(const std::function<void()>& work) {
    const int before = *gCommands;
    const auto start = Clock::now();
    work();
    const double millis = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return {millis, *gCommands - before};
}

void run_or_die(const std::string& cmd) {
    if (system(cmd.c_str()) != 0) {
        fprintf(stderr, "stick_bench: failed: %s\n", cmd.c_str());
        exit(1);
    }
}

void writeSmallFile(const std::string& path, int bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        perror(path.c_str());
        exit(1);
    }
    for (int i = 0; i < bytes; ++i) fputc('a' + i % 26, f);
    fclose(f);
}

void makeFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0777) != 0) {
        perror(path.c_str());
        exit(1);
    }
}

// `groups` folders of `perGroup` folders, each holding one file of 1 KiB. Made
// with system calls: a shell per folder would take minutes under the user-mode kernel.
int buildTree(const std::string& root, int groups, int perGroup) {
    run_or_die("rm -rf " + root);
    makeFolder(root);
    for (int g = 0; g < groups; ++g) {
        const std::string group = root + "/group" + std::to_string(g);
        makeFolder(group);
        for (int f = 0; f < perGroup; ++f) {
            const std::string folder = group + "/folder" + std::to_string(f);
            makeFolder(folder);
            writeSmallFile(folder + "/notes.txt", 1024);
        }
    }
    return groups * (perGroup + 1);
}

const std::string kMasterOut = "/tmp/tamvikma1/TAMVIK-OUT";
const std::string kStudentOut = "/tmp/tamvikel1/TAMVIK-OUT";

// cp without copy offload, as the tree copy moves the data itself.
Cost cpTree(const std::string& from, const std::string& to) {
    return measure([&] { run_or_die("cp -r --reflink=never " + from + " " + to + " && sync"); });
}

// A distribute and a collect of a tree of `groups` x `perGroup` folders, each
// against the copy it makes. Both sticks start without earlier sessions.
void benchJobs(FILE* out, int groups, int perGroup) {
    (void)isUsbMounted(0);
    (void)isUsbMounted(1);
    const int folders = buildTree(kMasterOut, groups, perGroup);
    run_or_die("rm -rf /tmp/tamvikel1/* /tmp/tamvikma1/TAMVIK-IN && sync");
    const Cost cp = cpTree(kMasterOut, kStudentOut);
    makeFolder("/tmp/tamvikel1/by-cp_tamvik");
    processId = 3;                       // as in a copy worker: no event log
    const Cost ours = measure([] {
        if (cp_tamvik(0, kMasterOut, "/tmp/tamvikel1/by-cp_tamvik", 0, 1, 0) != 0) exit(1);
        (void)!system("sync");
    });
    processId = 1;
    const Cost back = cpTree(kStudentOut, "/tmp/tamvikma1/by-cp");
    run_or_die("rm -rf /tmp/tamvikel1/by-cp_tamvik /tmp/tamvikma1/by-cp && sync");

    // The jobs as the operation process runs them: presence refresh, then the job.
    (void)umountUsb(0);
    (void)umountUsb(1);
    checkLedStatus();
    const Cost distribute = measure([] { (void)master2students(0); });
    const int distributed = ptr_mem_partagee[1];
    checkLedStatus();
    const Cost collect = measure([] { (void)students2master(0); });
    const int collected = ptr_mem_partagee[1];
    if (distributed != 4 || collected != 4)
        fprintf(out, "  the student ended with status %d after the distribute, %d after the collect\n", distributed,
                collected);

    fprintf(out, "jobs on a tree of %d folders (%d files), master and one student:\n", folders, groups * perGroup);
    fprintf(out, "  cp -r:       %7.0f ms\n", cp.millis);
    fprintf(out, "  cp_tamvik:   %7.0f ms, %4d shell commands\n", ours.millis, ours.commands);
    fprintf(out, "  distribute:  %7.0f ms, %4d shell commands, %6.0f ms and %4d commands beyond cp_tamvik\n",
            distribute.millis, distribute.commands, distribute.millis - ours.millis,
            distribute.commands - ours.commands);
    fprintf(out, "  collect:     %7.0f ms, %4d shell commands, %6.0f ms and %4d commands beyond cp -r back\n",
            collect.millis, collect.commands, collect.millis - back.millis, collect.commands - back.commands);
}

#ifndef STICK_BENCH_BEFORE
// The four presence checks the copy makes for every folder: as they were, by the
// shell listing (isUsbMounted), and as the copy makes them now (checkSticks: the
// kernel's table, asked again only after a change), against cp -r of a tree of
// 1,000 folders between the same sticks.
double checksPerFolder(bool byShell, int folders) {
    const Cost cost = measure([&] {
        for (int i = 0; i < folders; ++i) {
            const bool present = byShell ? isUsbDetected(0) == 0 && isUsbMounted(0) >= 0 && isUsbDetected(1) == 0 &&
                                               isUsbMounted(1) >= 0
                                         : checkSticks(0, 1, false) == 0;
            if (!present) exit(1);
        }
    });
    return cost.millis / folders;
}

void benchChecks(FILE* out) {
    (void)isUsbMounted(0);
    (void)isUsbMounted(1);
    processId = 3;
    const double byShell = checksPerFolder(true, 5);
    const double byTable = checksPerFolder(false, 200);
    processId = 1;
    const int folders = buildTree(kMasterOut, 10, 100);
    run_or_die("rm -rf /tmp/tamvikel1/* && sync");
    const Cost cp = cpTree(kMasterOut, kStudentOut);
    fprintf(out, "presence checks of the copy, per folder: %.1f ms by the mount listing, %.2f ms by the kernel's table\n",
            byShell, byTable);
    fprintf(out, "tree of %d folders: cp -r %.0f ms; its presence checks %.0f ms (%.0f%% of cp -r) by the listing, "
            "%.0f ms (%.1f%%) by the table\n", folders, cp.millis, byShell * folders, 100 * byShell * folders / cp.millis,
            byTable * folders, 100 * byTable * folders / cp.millis);
}
#endif

}  // namespace

// Every shell command of the daemon's code passes here.
extern "C" int system(const char* command) {
    using SystemFn = int (*)(const char*);
    static SystemFn real = reinterpret_cast<SystemFn>(dlsym(RTLD_NEXT, "system"));
    __atomic_add_fetch(gCommands, 1, __ATOMIC_SEQ_CST);
    return real(command);
}

int main() {
    FILE* out = fdopen(dup(STDOUT_FILENO), "w");
    setvbuf(out, nullptr, _IONBF, 0);
    const int console = open("/tmp/log.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(console, STDOUT_FILENO);
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (!ensureSegment()) return 1;
    processId = 1;
    run_or_die("mkdir -p /tmp/tamvikma1 /tmp/tamvikel1");   // as the daemon's start-up makes them
    if (!sim::stick({"plug", "0", "--size", "262144", "--label", "MASTER"}) ||
        !sim::stick({"plug", "1", "--size", "262144", "--label", "ELEVE1"})) return 1;
    checkLedStatus();
    benchJobs(out, 3, 3);
    benchJobs(out, 10, 100);
#ifndef STICK_BENCH_BEFORE
    benchChecks(out);
#endif
    return 0;
}
