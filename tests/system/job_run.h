// Requesting a job the way the button panel does, and knowing when the operation
// process is done with it, for the system tests of distribute, collect and clear.
#pragma once
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/appliance.h"

namespace jobtest {

using namespace std::chrono_literals;

inline sim::StickSpec stick(int sizeKiB, const std::string& label = "", int partition = 1) {
    sim::StickSpec spec;
    spec.sizeKiB = sizeKiB;
    spec.label = label;
    spec.partition = partition;
    return spec;
}

inline std::string jobFile(int job) { return "/tmp/bt" + std::to_string(job) + ".cmd"; }

// How often the operation process has removed the job's file: its event log records
// each command once it has run. The job removes the file at its normal end (only in
// folder mode: whole-stick runs remove the folder-mode file), resetDuplicator on a
// cancel, and the runner always, last. (The console log's echo line comes before the
// command runs, too early to request the next job.)
inline int removals(int job) {
    std::string log = sim::readFile("/tmp/logC.txt"), done = "= to_system rm " + jobFile(job) + "\n";
    int count = 0;
    for (size_t at = log.find(done); at != std::string::npos; at = log.find(done, at + 1)) ++count;
    return count;
}

struct Request {
    int job;
    int removalsBefore;
};

// The markers and the job file in the button panel's order.
inline Request request(int job) {
    Request r{job, removals(job)};
    std::string marker = "/tmp/showresult" + std::to_string(job) + ".cmd";
    sim::touch("/tmp/showresult.cmd");
    bool clear = job == 3 || job == 7;
    if (!clear) sim::touch(marker);
    sim::touch(jobFile(job));
    if (clear) sim::touch(marker);
    return r;
}

// The run is over once the runner's own removal (the last of `removals`) is logged.
inline bool finished(const Request& r, int removalCount, std::chrono::seconds timeout = 400s) {
    return sim::waitFor([&] { return removals(r.job) >= r.removalsBefore + removalCount; },
                        timeout);
}

inline bool run(int job, int removalCount) { return finished(request(job), removalCount); }

// Pulls every stick still plugged, so the next test starts with empty slots.
inline void pullAll() {
    for (int slot = 0; slot <= 16; ++slot) {
        if (access(sim::stickNode(slot).c_str(), F_OK) == 0) sim::pullStick(slot);
    }
}

// Waits until a path shows up through the daemon's own mount points.
inline bool waitPath(const std::string& path, std::chrono::seconds timeout = 300s) {
    return sim::waitFor([&] { return access(path.c_str(), F_OK) == 0; }, timeout);
}

// The end of the console log, to see what the daemon did when a check failed (all
// of it with STICKDUP_JOBS_LOG set).
inline std::string logTail() {
    std::string log = sim::consoleLog();
    size_t keep = getenv("STICKDUP_JOBS_LOG") ? log.size() : 6000;
    return log.size() > keep ? log.substr(log.size() - keep) : log;
}

// One look at a stick (each look mounts it privately, which is slow under the
// user-mode kernel), then any number of questions about it.
struct Tree {
    std::vector<std::string> entries;
    explicit Tree(int slot) : entries(sim::stickTree(slot)) {}
    bool has(const std::string& path) const {
        return std::find(entries.begin(), entries.end(), path) != entries.end();
    }
};

// No stick may stay mounted once a job is over.
inline bool noStickMounted() {
    return sim::readFile("/proc/mounts").find("/tmp/tamvik") == std::string::npos;
}

// A stick whose first folder of work takes seconds to read, so a test can act in the
// middle of a copy from it; the second folder is entered (and both sticks checked
// again) only after it. 2 MiB is more than a 2 MiB stick can take.
inline bool plugSlowStick(int slot) {
    bool ok = sim::plugStick(slot) && sim::putBigFile(slot, "TAMVIK-OUT/a/slow.bin", 2L << 20) &&
              sim::putFile(slot, "TAMVIK-OUT/b/after.txt", "after");
    sim::slowStick(slot, 100);
    return ok;
}

// One daemon for all tests of a binary (one boot); every test leaves no stick
// mounted and pulls its sticks.
class JobTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { sim::startDaemon(); }
    static void TearDownTestSuite() { sim::stopDaemon(); }
    void TearDown() override {
        EXPECT_TRUE(noStickMounted()) << sim::readFile("/proc/mounts");
        if (HasFailure() || getenv("STICKDUP_JOBS_LOG")) printf("%s\n", logTail().c_str());
        pullAll();
    }
};

}  // namespace jobtest
