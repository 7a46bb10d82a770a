// The copy engine's parts that need no stick: the watchdog frame with real forked
// workers, copier_fichier on the appliance's own /tmp, the file-list rule and the
// audio filter.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "copy/tree_copy.h"
#include "sticks/list_file.h"
#include "copy/watchdog.h"
#include "copy/worker_frame.h"
#include "supervisor/globals.h"
#include "tests/support/appliance.h"

namespace {

using Clock = std::chrono::steady_clock;

void ignoreEndedChildren() {
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sa.sa_flags = SA_NOCLDWAIT;   // as the daemon: ended workers leave no zombie
    sigaction(SIGCHLD, &sa, nullptr);
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 7 + i / 512);
    return s;
}

bool writeFile(const std::string& path, const std::string& content) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(content.data(), 1, content.size(), f) == content.size();
    return fclose(f) == 0 && ok;
}

}  // namespace

TEST(CopyFile, CopiesExactlyRenewsHeartbeatAndRefusesLinks) {
    ASSERT_TRUE(ensureSegment());
    for (size_t size : {0ul, 1ul, 512ul, 1024ul, 1000001ul}) {
        std::string content = pattern(size);
        ASSERT_TRUE(writeFile("/tmp/src.bin", content));
        storeWord(kNbKey, 0);
        EXPECT_EQ(copier_fichier("/tmp/src.bin", "/tmp/dst.bin"), 0) << size;
        EXPECT_EQ(sim::readFile("/tmp/dst.bin"), content) << size;
        EXPECT_EQ(loadWord(kNbKey), 60) << "even an empty file renews the heartbeat";
    }
    // A longer destination is cut to the source's length.
    ASSERT_TRUE(writeFile("/tmp/src.bin", "new"));
    EXPECT_EQ(copier_fichier("/tmp/src.bin", "/tmp/dst.bin"), 0);
    EXPECT_EQ(sim::readFile("/tmp/dst.bin"), "new");

    // A link where the file goes is never followed: its target stays untouched.
    ASSERT_TRUE(writeFile("/tmp/target.txt", "appliance file"));
    ASSERT_EQ(symlink("/tmp/target.txt", "/tmp/link.txt"), 0);
    EXPECT_EQ(copier_fichier("/tmp/src.bin", "/tmp/link.txt"), -2);
    EXPECT_EQ(sim::readFile("/tmp/target.txt"), "appliance file");
    EXPECT_EQ(copier_fichier("/tmp/link.txt", "/tmp/out.txt"), -1) << "nor is a source link";

    EXPECT_EQ(copier_fichier("/tmp/missing", "/tmp/out.txt"), -1);
    EXPECT_EQ(copier_fichier("/tmp/src.bin", "/tmp/no-such-folder/out.txt"), -2);
    // A write error that shows only when the last buffer is written (a full
    // stick) is a failed copy, not a success.
    ASSERT_TRUE(writeFile("/tmp/src.bin", pattern(3000)));
    EXPECT_EQ(copier_fichier("/tmp/src.bin", "/dev/full"), -2);

    ASSERT_TRUE(sim::touch("/tmp/bt4.cmd"));
    EXPECT_EQ(copier_fichier("/tmp/src.bin", "/tmp/cancelled.bin"), -5);
    EXPECT_NE(access("/tmp/cancelled.bin", F_OK), 0) << "nothing opened after a cancel";
    unlink("/tmp/bt4.cmd");
}

TEST(CopyFile, FileListRuleAndAudioFilter) {
    // One character fewer than the line's text, case ignored.
    EXPECT_TRUE(fileListSelects("abcd", "ABC.wav"));
    EXPECT_TRUE(fileListSelects("report", "repor.txt"));
    EXPECT_TRUE(fileListSelects("report", "Reporter"));
    EXPECT_FALSE(fileListSelects("abcd", "ab.wav"));
    EXPECT_FALSE(fileListSelects("", "anything"));
    EXPECT_TRUE(fileListSelects("x", "anything")) << "a one-character line selects all";

    EXPECT_TRUE(passesAudioFilter("x.WAV"));
    EXPECT_TRUE(passesAudioFilter("take.act"));
    EXPECT_TRUE(passesAudioFilter("react"));
    EXPECT_FALSE(passesAudioFilter("x.mp3"));
    EXPECT_FALSE(passesAudioFilter("av"));
}

TEST(WatchdogFrame, ResultCountdownAndLiveness) {
    ignoreEndedChildren();
    ASSERT_TRUE(ensureSegment());

    // A quick worker's result comes back on the parent's first or second look.
    auto start = Clock::now();
    EXPECT_EQ(runCopyWorker([] { return WorkerOutcome{-3, true}; }), -3);
    EXPECT_LT(secondsSince(start), 2.5);
    EXPECT_LE(loadWord(kNbKey), 0) << "the countdown is zeroed after the result";

    // A worker that stops renewing is given up when the countdown runs out.
    start = Clock::now();
    pid_t pid = forkWorker(3);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        pause();
        _exit(0);
    }
    EXPECT_EQ(watchWorker(pid, WatchRule{}), WaitEnd::CountdownOut);
    double waited = secondsSince(start);
    EXPECT_GT(waited, 1.5);
    EXPECT_LT(waited, 3.5);
    killWorker(pid);
    EXPECT_TRUE(sim::waitFor([pid] { return !workerAlive(pid); }, std::chrono::seconds(5)));
    EXPECT_EQ(loadWord(kResultWord), kNoResult);

    // Heartbeats keep a worker alive well past its countdown.
    pid = forkWorker(2);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        for (int i = 0; i < 40; ++i) {
            storeWord(kNbKey, 2);
            usleep(100000);
        }
        endWorker(7);
    }
    start = Clock::now();
    EXPECT_EQ(watchWorker(pid, WatchRule{}), WaitEnd::ResultWritten);
    EXPECT_GT(secondsSince(start), 3.0);
    EXPECT_EQ(loadWord(kResultWord), 7);

    // The clear job's rule: a worker that vanished without a result ends the wait.
    pid = forkWorker(60);
    ASSERT_GE(pid, 0);
    if (pid == 0) endWithoutResult();
    WatchRule clearRule{true, true};
    EXPECT_EQ(watchWorker(pid, clearRule), WaitEnd::WorkerGone);
}
