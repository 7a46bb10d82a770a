// What a distribute and a collect spend on one stick beyond its copy, and what the
// tree copy costs against `cp -r` of the same tree between the same two FAT sticks.
// Runs inside the simulated appliance in KERNEL mode (real mounts):
//   sim/appliance --kernel --share BUILD -- BUILD/bench/stick_bench
// Shell commands are counted at system(), which this program defines in front of
// the C library's: every command the daemon's code runs goes through it. The link
// wraps the tree copy (cp_tamvik, see CMakeLists.txt), so the time and commands a
// job spends in its own copy are measured in the job's run, not in a second copy
// whose time would differ from it by more than what lies beyond the copy.
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
#include <utility>

#include "copy/tree_copy.h"
#include "copy/watchdog.h"
#include "indicators/status_codes.h"
#include "operations/collect.h"
#include "operations/distribute.h"
#include "sticks/detection.h"
#include "sticks/mount.h"
#include "supervisor/base/globals.h"
#include "tests/support/appliance.h"

namespace {

// The copy workers are forked: what they count goes to a page shared with them.
struct Counters {
    int commands;       // every shell command
    int copyCommands;   // those run inside the tree copy
    long copyMicros;    // time inside the tree copy
};
Counters* gCounts = static_cast<Counters*>(
    mmap(nullptr, sizeof(Counters), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));

using Clock = std::chrono::steady_clock;

struct Cost {
    double millis;
    int commands;
    double copyMillis = 0;   // of which inside the tree copy
    int copyCommands = 0;
};

Cost measure(const std::function<void()>& work) {
    const Counters before = *gCounts;
    const auto start = Clock::now();
    work();
    const double millis = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return {millis, gCounts->commands - before.commands,
            (gCounts->copyMicros - before.copyMicros) / 1000.0,
            gCounts->copyCommands - before.copyCommands};
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
// with system calls: a shell per folder would take minutes in the emulated computer.
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
// split into the time and commands of its copy and what lies beyond it; cp -r of
// the same tree between the same sticks gives the scale. Both sticks start
// without earlier sessions.
void benchJobs(FILE* out, int groups, int perGroup) {
    (void)isUsbMounted(0);
    (void)isUsbMounted(1);
    const int folders = buildTree(kMasterOut, groups, perGroup);
    run_or_die("rm -rf /tmp/tamvikel1/* /tmp/tamvikma1/TAMVIK-IN && sync");
    const Cost cp =
        cpTree(kMasterOut, kStudentOut);   // also the student's work the collect takes back

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
        fprintf(out,
                "  the student ended with status %d after the distribute, %d after the collect\n",
                distributed, collected);

    fprintf(out, "jobs on a tree of %d folders (%d files), master and one student:\n", folders,
            groups * perGroup);
    fprintf(out, "  cp -r:       %7.0f ms\n", cp.millis);
    for (const auto& [name, job] :
         {std::pair{"distribute:", distribute}, std::pair{"collect:", collect}})
        fprintf(out,
                "  %-12s %7.0f ms, %4d commands; in its copy %7.0f ms, %4d commands; beyond %6.0f "
                "ms, %4d commands\n",
                name, job.millis, job.commands, job.copyMillis, job.copyCommands,
                job.millis - job.copyMillis, job.commands - job.copyCommands);
}

// The four presence checks the copy makes for every folder: as they were, by the
// shell listing (isUsbMounted), and as the copy makes them now (checkSticks: the
// kernel's table, asked again only after a change), against cp -r of a tree of
// 1,000 folders between the same sticks.
double checksPerFolder(bool byShell, int folders) {
    const Cost cost = measure([&] {
        for (int i = 0; i < folders; ++i) {
            const bool present = byShell ? isUsbDetected(0) == 0 && isUsbMounted(0) >= 0 &&
                                               isUsbDetected(1) == 0 && isUsbMounted(1) >= 0
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
    fprintf(out,
            "presence checks of the copy, per folder: %.1f ms by the mount listing, %.2f ms by the "
            "kernel's table\n",
            byShell, byTable);
    fprintf(out,
            "tree of %d folders: cp -r %.0f ms; its presence checks %.0f ms (%.0f%% of cp -r) by "
            "the listing, "
            "%.0f ms (%.1f%%) by the table\n",
            folders, cp.millis, byShell * folders, 100 * byShell * folders / cp.millis,
            byTable * folders, 100 * byTable * folders / cp.millis);
}

}   // namespace

// Every shell command of the daemon's code passes here.
extern "C" int system(const char* command) {
    using SystemFn = int (*)(const char*);
    static SystemFn real = reinterpret_cast<SystemFn>(dlsym(RTLD_NEXT, "system"));
    __atomic_add_fetch(&gCounts->commands, 1, __ATOMIC_SEQ_CST);
    return real(command);
}

// Every call of the tree copy from outside its own file (the workers' calls, the
// job's one copy per stick) passes here; its calls of itself for subfolders do not.
int realCopy(int copyMode, const std::string& source, const std::string& destination, int srcStick,
             int dstStick, int audioOnly) __asm__("__real_" COPY_SYMBOL);
int wrappedCopy(int copyMode, const std::string& source, const std::string& destination,
                int srcStick, int dstStick, int audioOnly) __asm__("__wrap_" COPY_SYMBOL);
int wrappedCopy(int copyMode, const std::string& source, const std::string& destination,
                int srcStick, int dstStick, int audioOnly) {
    const int commandsBefore = gCounts->commands;
    const auto start = Clock::now();
    const int result = realCopy(copyMode, source, destination, srcStick, dstStick, audioOnly);
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    __atomic_add_fetch(&gCounts->copyMicros, static_cast<long>(micros), __ATOMIC_SEQ_CST);
    __atomic_add_fetch(&gCounts->copyCommands, gCounts->commands - commandsBefore,
                       __ATOMIC_SEQ_CST);
    return result;
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
        !sim::stick({"plug", "1", "--size", "262144", "--label", "ELEVE1"}))
        return 1;
    checkLedStatus();
    benchJobs(out, 3, 3);
    benchJobs(out, 10, 100);
    benchChecks(out);
    return 0;
}
