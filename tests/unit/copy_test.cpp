// The copy engine on the appliance's /tmp, with the master and student 1 listed as
// mounted: the file copy, the tree copy's rules, the collect workers' name guard and
// the watchdog frame with real forked workers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <dirent.h>
#include <set>

#include "copy/telvo_workers.h"
#include "copy/tree_copy.h"
#include "copy/watchdog.h"
#include "copy/worker_frame.h"
#include "copy/workers.h"
#include "supervisor/globals.h"
#include "tests/support/appliance.h"
#include "tests/unit/unit_support.h"

namespace {

bool exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::set<std::string> names(const std::string& folder) {
    std::set<std::string> found;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* e = readdir(dir)) found.insert(e->d_name);
        closedir(dir);
    }
    found.erase(".");
    found.erase("..");
    return found;
}

class Copy : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(ensureSegment());
        ASSERT_TRUE(unit::listAsMounted({0, 1}));
        sticksPartition[0] = sticksPartition[1] = 1;
        ASSERT_TRUE(sim::touch("/dev/tmvm1-part1") && sim::touch("/dev/tmvl1-part1"));
    }
};

}  // namespace

TEST_F(Copy, FileCopyIsExactAndNeverGoesThroughALink) {
    for (size_t size : {0ul, 1ul, 512ul, 1000001ul}) {
        std::string content(size, '\0');
        for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 7 + i / 512);
        ASSERT_TRUE(unit::writeFile("/tmp/src.bin", content));
        storeWord(kNbKey, 0);
        EXPECT_EQ(copier_fichier("/tmp/src.bin", "/tmp/dst.bin"), 0) << size;
        EXPECT_EQ(sim::readFile("/tmp/dst.bin"), content) << size;
        EXPECT_EQ(loadWord(kNbKey), 60) << "even an empty file renews the heartbeat";
    }
    ASSERT_TRUE(unit::writeFile("/tmp/src.bin", std::string(3000, 's')));
    ASSERT_TRUE(unit::writeFile("/tmp/victim", "appliance file"));
    ASSERT_EQ(symlink("/tmp/victim", "/tmp/link"), 0);
    const struct { const char* source; const char* destination; int result; } rows[] = {
        {"/tmp/src.bin", "/tmp/link", -2},      {"/tmp/link", "/tmp/out", -1},
        {"/tmp/missing", "/tmp/out", -1},       {"/tmp/src.bin", "/tmp/no-folder/out", -2},
        {"/tmp/src.bin", "/dev/full", -2}};     // the write error shows only at the close
    for (const auto& row : rows)
        EXPECT_EQ(copier_fichier(row.source, row.destination), row.result) << row.source << " " << row.destination;
    EXPECT_EQ(sim::readFile("/tmp/victim"), "appliance file");
    EXPECT_FALSE(exists("/tmp/out"));
    ASSERT_TRUE(sim::touch("/tmp/bt4.cmd"));
    EXPECT_EQ(copier_fichier("/tmp/src.bin", "/tmp/cancelled"), -5);
    EXPECT_FALSE(exists("/tmp/cancelled")) << "nothing opened after a cancel";
    ASSERT_EQ(unlink("/tmp/bt4.cmd"), 0);
}

TEST_F(Copy, TreeCopyRules) {
    ASSERT_EQ(system("cd /tmp/tamvikma1 && mkdir -p O/.secret O/sub/deep && echo A > O/a.txt && echo H > O/.hidden"
                     " && echo X > O/.secret/x && echo F > O/sub/deep/f && : > O/empty && ln -s /etc O/dir"
                     " && ln -s /etc/passwd O/file && ln -s O linkroot && mkdir -p /tmp/tamvikel1/D"
                     " && echo 'older, longer' > /tmp/tamvikel1/D/a.txt && echo kept > /tmp/tamvikel1/D/mine"), 0);
    EXPECT_EQ(cp_tamvik(0, "/tmp/tamvikma1/O", "/tmp/tamvikel1/D", 0, 1, 0), 0);
    EXPECT_EQ(names("/tmp/tamvikel1/D"), (std::set<std::string>{".hidden", "a.txt", "empty", "mine", "sub"}));
    EXPECT_EQ(sim::readFile("/tmp/tamvikel1/D/a.txt"), "A\n") << "overwritten and cut";
    EXPECT_EQ(sim::readFile("/tmp/tamvikel1/D/sub/deep/f"), "F\n");
    EXPECT_EQ(cp_tamvik(0, "/tmp/tamvikma1/linkroot", "/tmp/tamvikel1/L", 0, 1, 0), 0);
    EXPECT_FALSE(exists("/tmp/tamvikel1/L")) << "a source that is a link copies nothing";
    EXPECT_EQ(cp_tamvik(0, "/tmp/tamvikma1/none", "/tmp/tamvikel1/D", 0, 1, 0), -1);
    EXPECT_NE(sim::word(0), 5) << "an unexaminable source is no lost stick";

    // A link where a file goes, two levels down: three attempts with both sticks
    // present, the target untouched, and -3 back through every level.
    ASSERT_EQ(system("mkdir -p /tmp/tamvikel1/T/l1/l2 && ln -s /tmp/victim /tmp/tamvikel1/T/l1/l2/a.txt"
                     " && mkdir -p /tmp/tamvikma1/O/l1/l2 && echo A > /tmp/tamvikma1/O/l1/l2/a.txt"), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(cp_tamvik(0, "/tmp/tamvikma1/O/l1", "/tmp/tamvikel1/T/l1", 0, 1, 0), -3);
    const std::string console = testing::internal::GetCapturedStdout();
    const std::string attempt = "copier_fichier - /tmp/tamvikma1/O/l1/l2/a.txt";
    size_t count = 0;
    for (size_t at = console.find(attempt); at != std::string::npos; at = console.find(attempt, at + 1)) ++count;
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(sim::readFile("/tmp/victim"), "appliance file");
}

// Listed-file mode: the folder's own files that /filelist selects, never a folder.
TEST_F(Copy, ListedFilesAndAudioFilter) {
    ASSERT_EQ(system("mkdir -p /tmp/tamvikma1/M/sub && cd /tmp/tamvikma1/M && touch ABC.wav ab.wav abc.txt react"
                     " .abc.wav sub/abcz.wav"), 0);
    const struct { const char* list; int audioOnly; std::set<std::string> copied; } rows[] = {
        {"abcd\r\n", 0, {"ABC.wav", "abc.txt"}}, {"x\n", 1, {"ABC.wav", "ab.wav", "react"}}, {nullptr, 0, {}}};
    for (const auto& row : rows) {
        (void)unlink("/filelist");
        ASSERT_TRUE(!row.list || unit::writeFile("/filelist", row.list));
        ASSERT_EQ(system("rm -rf /tmp/tamvikel1/M && mkdir /tmp/tamvikel1/M"), 0);
        EXPECT_EQ(cp_tamvik(1, "/tmp/tamvikma1/M", "/tmp/tamvikel1/M", 0, 1, row.audioOnly), 0);
        EXPECT_EQ(names("/tmp/tamvikel1/M"), row.copied) << (row.list ? row.list : "no list");
    }
}

// The collect workers name the student's folder on the master in 100-byte buffers.
TEST_F(Copy, CollectRefusesAFolderNameItWouldHaveToShorten) {
    ASSERT_TRUE(unit::writeFile("/tmp/repTelvo.txt", "Maths-OUT\n"));
    // "/tmp/tamvikma1/TAMVIK-IN/SESSION2/UE3 " and "/Documents" around it: 100 characters.
    EXPECT_EQ(process_cp_tamvik_n1(0, 3, 0, 2, std::string(52, 'L')), -3);
    EXPECT_EQ(process_telvo_cp_tamvik_n1(0, 2, 0, 2, std::string(70, 'n')), -3);
    EXPECT_FALSE(exists("/tmp/tamvikma1/TAMVIK-IN/SESSION2"));
    EXPECT_FALSE(exists("/tmp/tamvikma1/TELVO/Maths-in/SESSION2"));
}

TEST_F(Copy, WatchdogFrame) {
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sa.sa_flags = SA_NOCLDWAIT;   // as the daemon: ended workers leave no zombie
    sigaction(SIGCHLD, &sa, nullptr);
    using Clock = std::chrono::steady_clock;
    auto seconds = [](Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); };
    auto start = Clock::now();
    EXPECT_EQ(runCopyWorker([] { return WorkerOutcome{-3, true}; }), -3);
    EXPECT_LT(seconds(start), 2.5);
    EXPECT_LE(loadWord(kNbKey), 0) << "the countdown is zeroed after the result";

    // Silent for its countdown of 3: given up after about 2 s, without a result.
    start = Clock::now();
    pid_t pid = forkWorker(3);
    if (pid == 0) pause();
    EXPECT_EQ(watchWorker(pid, WatchRule{}), WaitEnd::CountdownOut);
    EXPECT_GT(seconds(start), 1.5);
    EXPECT_LT(seconds(start), 3.5);
    killWorker(pid);
    EXPECT_TRUE(sim::waitFor([pid] { return !workerAlive(pid); }, std::chrono::seconds(5)));
    EXPECT_EQ(loadWord(kResultWord), kNoResult);

    // Heartbeats keep a worker alive well past its countdown of 2.
    start = Clock::now();
    if ((pid = forkWorker(2)) == 0) {
        for (int i = 0; i < 40; ++i, usleep(100000)) storeWord(kNbKey, 2);
        endWorker(7);
    }
    EXPECT_EQ(watchWorker(pid, WatchRule{}), WaitEnd::ResultWritten);
    EXPECT_GT(seconds(start), 3.0);
    EXPECT_EQ(loadWord(kResultWord), 7);

    // The clear workers' rule: a worker gone without a result ends the wait.
    if ((pid = forkWorker(60)) == 0) endWithoutResult();
    EXPECT_EQ(watchWorker(pid, WatchRule{true, true}), WaitEnd::WorkerGone);
}
