// The tree copy and the copy workers between real FAT sticks mounted by the real
// kernel. The test process stands where the operation process stands: it mounts
// the sticks, calls the workers, and the workers are real forked processes under
// the real watchdog. Faults are real device faults (pulled, hung, full sticks).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <fstream>
#include <thread>

#include "copy/telvo_workers.h"
#include "copy/tree_copy.h"
#include "copy/watchdog.h"
#include "copy/workers.h"
#include "indicators/status_codes.h"
#include "sticks/mount.h"
#include "supervisor/globals.h"
#include "tests/support/appliance.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kMaster = "/tmp/tamvikma1";
const std::string kCopyOut = kMaster + "/TAMVIK-OUT";

std::string root(int slot) { return slot == 0 ? kMaster : "/tmp/tamvikel" + std::to_string(slot); }

void writeText(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
}

bool exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

long sizeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

bool mounted(int slot) { return sim::readFile("/proc/mounts").find(" " + root(slot) + " ") != std::string::npos; }

bool has(const std::vector<std::string>& tree, const std::string& entry) {
    return std::find(tree.begin(), tree.end(), entry) != tree.end();
}

// A fresh stick, mounted at its mount point, with the given folders.
void freshStick(int slot, std::initializer_list<const char*> folders, int sizeKiB = 64 * 1024) {
    (void)umountUsb(slot);
    sim::StickSpec spec;
    spec.sizeKiB = sizeKiB;
    ASSERT_TRUE(sim::plugStick(slot, spec));
    ASSERT_GE(isUsbMounted(slot), 0);
    for (const char* f : folders) ASSERT_EQ(mkdir((root(slot) + "/" + f).c_str(), 0777), 0) << f;
    changeLedStatus(slot, 2);
}

// A big file on a stick that then reads it from the device, not from the cache:
// with the stick slowed down, a copy of it lasts long enough to be interrupted.
void bigFileFromDevice(int slot, const std::string& relPath, long bytes) {
    ASSERT_TRUE(sim::putBigFile(slot, relPath, bytes));
    (void)umountUsb(slot);
    ASSERT_EQ(system("sync; echo 3 > /proc/sys/vm/drop_caches"), 0);
    ASSERT_GE(isUsbMounted(slot), 0);
    ASSERT_EQ(system(("stick slow " + std::to_string(slot) + " 40").c_str()), 0);
}

void normalSpeed(int slot) { (void)system(("stick slow " + std::to_string(slot) + " 0").c_str()); }

// The console of the test is the workers' console too; this is what the job sees.
class CopyWorkers : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Unlike the daemon, the test keeps SIGCHLD as it is: it runs commands
        // whose exit status it reads. The workers are not waited for either way.
        processId = 1;
        ASSERT_TRUE(ensureSegment());
        for (int slot = 0; slot < kSlots; ++slot) {
            (void)mkdir(root(slot).c_str(), 0777);
            sticksPartition[slot] = 1;
        }
    }
    void SetUp() override {
        unlink("/tmp/bt4.cmd");
        writeText("/replist", "");
        writeText("/filelist", "x\n");   // a one-character line selects every name
    }
};

// Runs action on its own thread once cond holds, while the test waits in a worker.
std::thread when(std::function<bool()> cond, std::function<void()> action) {
    return std::thread([=] {
        if (sim::waitFor(cond, 120s)) action();
        else ADD_FAILURE() << "the copy never reached the point of the fault";
    });
}

}  // namespace

TEST_F(CopyWorkers, WholeTreeCopyKeepsItsRules) {
    freshStick(0, {"TAMVIK-OUT", "TAMVIK-OUT/.secret", "TAMVIK-OUT/sub", "TAMVIK-OUT/sub/deep"});
    freshStick(1, {"TAMVIK-IN", "TAMVIK-IN/Documents"});
    writeText(kCopyOut + "/a.txt", "A");
    writeText(kCopyOut + "/.hidden", "H");
    writeText(kCopyOut + "/.secret/x", "X");
    writeText(kCopyOut + "/sub/deep/f.txt", "F");
    writeText(kCopyOut + "/empty.txt", "");
    const std::string docs = root(1) + "/TAMVIK-IN/Documents";
    writeText(docs + "/a.txt", "an older and longer text");
    writeText(docs + "/mine.txt", "kept");

    EXPECT_EQ(cp_tamvik(0, kCopyOut, docs, 0, 1, 0), 0);
    EXPECT_EQ(sim::readFile(docs + "/a.txt"), "A") << "overwritten and cut";
    EXPECT_EQ(sim::readFile(docs + "/.hidden"), "H") << "hidden files travel";
    EXPECT_FALSE(exists(docs + "/.secret")) << "hidden folders do not";
    EXPECT_EQ(sim::readFile(docs + "/sub/deep/f.txt"), "F");
    EXPECT_EQ(sizeOf(docs + "/empty.txt"), 0);
    EXPECT_EQ(sim::readFile(docs + "/mine.txt"), "kept");

    // Links in the source are skipped; a source that is a link copies nothing.
    ASSERT_EQ(system("mkdir -p /tmp/links && echo f > /tmp/links/f && ln -sfn /etc /tmp/links/dir"
                     " && ln -sfn /etc/passwd /tmp/links/file && ln -sfn /tmp/links /tmp/linkroot"), 0);
    ASSERT_EQ(mkdir((root(1) + "/L").c_str(), 0777), 0);
    EXPECT_EQ(cp_tamvik(0, "/tmp/links", root(1) + "/L", 0, 1, 0), 0);
    EXPECT_TRUE(exists(root(1) + "/L/f"));
    EXPECT_FALSE(exists(root(1) + "/L/dir") || exists(root(1) + "/L/file"));
    EXPECT_EQ(cp_tamvik(0, "/tmp/linkroot", root(1) + "/L2", 0, 1, 0), 0);
    EXPECT_FALSE(exists(root(1) + "/L2"));
    EXPECT_EQ(cp_tamvik(0, "/tmp/no-such-folder", docs, 0, 1, 0), -1);
    EXPECT_EQ(sim::word(0), 2) << "an unexaminable source is no lost stick";

    // A link where a file is to be written is not followed: the file fails its
    // three attempts with both sticks present, and the link's target is untouched.
    ASSERT_EQ(system("mkdir -p /tmp/trap && echo appliance > /tmp/victim && ln -sfn /tmp/victim /tmp/trap/a.txt"), 0);
    EXPECT_EQ(cp_tamvik(0, kCopyOut, "/tmp/trap", 0, 1, 0), -3);
    EXPECT_EQ(sim::readFile("/tmp/victim"), "appliance\n");
}

TEST_F(CopyWorkers, FileListRuleAndAudioFilterPickFiles) {
    freshStick(0, {"Music", "Music/sub"});
    freshStick(1, {"A", "B", "C"});
    for (const char* name : {"ABC.wav", "ab.wav", "abc.txt", "react", ".abc.wav", "sub/abcz.wav"})
        writeText(kMaster + "/Music/" + name, name);

    writeText("/filelist", "abcd\r\n");
    EXPECT_EQ(cp_tamvik(1, kMaster + "/Music", root(1) + "/A", 0, 1, 0), 0);
    EXPECT_TRUE(exists(root(1) + "/A/ABC.wav") && exists(root(1) + "/A/abc.txt"));
    EXPECT_FALSE(exists(root(1) + "/A/ab.wav") || exists(root(1) + "/A/sub")) << "no folder entered";

    writeText("/filelist", "x\n");
    EXPECT_EQ(cp_tamvik(1, kMaster + "/Music", root(1) + "/B", 0, 1, 1), 0);
    EXPECT_TRUE(exists(root(1) + "/B/ab.wav") && exists(root(1) + "/B/react"));
    EXPECT_FALSE(exists(root(1) + "/B/abc.txt") || exists(root(1) + "/B/.abc.wav"));

    unlink("/filelist");
    EXPECT_EQ(cp_tamvik(1, kMaster + "/Music", root(1) + "/C", 0, 1, 0), 0);
    EXPECT_FALSE(exists(root(1) + "/C/ABC.wav")) << "no list selects nothing";
}

TEST_F(CopyWorkers, FullStickThreeLevelsDownStopsEveryLevel) {
    freshStick(0, {"TAMVIK-OUT", "TAMVIK-OUT/l1", "TAMVIK-OUT/l1/l2", "TAMVIK-OUT/l1/l2/l3"});
    freshStick(1, {"T"}, 4 * 1024);
    ASSERT_TRUE(sim::putBigFile(0, "TAMVIK-OUT/l1/l2/l3/big.bin", 6L << 20));
    writeText(kCopyOut + "/l1/l2/l3/zz.txt", "z");   // listed after the big file
    writeText(kCopyOut + "/l1/after2.txt", "2");
    writeText(kCopyOut + "/after1.txt", "1");

    testing::internal::CaptureStdout();
    EXPECT_EQ(cp_tamvik(0, kCopyOut, root(1) + "/T", 0, 1, 0), -3);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(sim::word(1), 2) << "a full stick is not a lost one";
    EXPECT_FALSE(exists(root(1) + "/T/l1/l2/l3/zz.txt"));
    EXPECT_FALSE(exists(root(1) + "/T/l1/after2.txt"));
    EXPECT_FALSE(exists(root(1) + "/T/after1.txt"));
    const std::string attempt = "copier_fichier - " + kCopyOut + "/l1/l2/l3/big.bin";
    size_t first = console.find(attempt);
    size_t third = console.find(attempt, console.find(attempt, first + 1) + 1);
    EXPECT_NE(third, std::string::npos) << "three attempts";
}

TEST_F(CopyWorkers, FolderWorkersCopyListsAndEndDone) {
    freshStick(0, {"TAMVIK-OUT", "TAMVIK-IN", "Extra"});
    freshStick(1, {"TAMVIK-OUT", "TAMVIK-IN"});
    writeText(kCopyOut + "/doc.txt", "doc");
    writeText(kMaster + "/Extra/e.txt", "e");
    writeText(kMaster + "/song.wav", "s");
    writeText(kMaster + "/notes.txt", "n");
    writeText("/replist", "  Extra \nMissing\n");

    EXPECT_EQ(process_cp_tamvik_1n(0, kCopyOut, root(1) + "/TAMVIK-IN/Documents", 0, 1), 0);
    EXPECT_EQ(sim::word(1), 4);
    EXPECT_FALSE(mounted(1));
    EXPECT_TRUE(mounted(0)) << "the job unmounts the master";
    auto tree = sim::stickTree(1);
    EXPECT_TRUE(has(tree, "TAMVIK-IN/Documents/doc.txt"));
    EXPECT_TRUE(has(tree, "TAMVIK-IN/Extra/e.txt"));
    EXPECT_FALSE(has(tree, "TAMVIK-IN/song.wav")) << "a listed folder was found: no fallback";

    // No listed folder on the master: its root audio files go into TAMVIK-IN.
    writeText("/replist", "Missing\n");
    ASSERT_GE(isUsbMounted(1), 0);
    EXPECT_EQ(process_cp_tamvik_1n(0, kCopyOut, root(1) + "/TAMVIK-IN/Documents", 0, 1), 0);
    tree = sim::stickTree(1);
    EXPECT_TRUE(has(tree, "TAMVIK-IN/song.wav"));
    EXPECT_FALSE(has(tree, "TAMVIK-IN/notes.txt"));

    // Collect into "UE3 CLASS B"; without /replist no root audio files.
    freshStick(3, {"TAMVIK-OUT"});
    writeText(root(3) + "/TAMVIK-OUT/work.txt", "w");
    writeText(root(3) + "/take.wav", "t");
    unlink("/replist");
    EXPECT_EQ(process_cp_tamvik_n1(0, 3, 0, 1, "CLASS B"), 0);
    EXPECT_EQ(sim::readFile(kMaster + "/TAMVIK-IN/SESSION1/UE3 CLASS B/Documents/work.txt"), "w");
    EXPECT_FALSE(exists(kMaster + "/TAMVIK-IN/SESSION1/UE3 CLASS B/take.wav"));
    EXPECT_EQ(sim::word(3), 4);
    EXPECT_FALSE(mounted(3));

    // A folder name that does not fit is refused, never shortened into another.
    ASSERT_GE(isUsbMounted(3), 0);
    const std::string longLabel(70, 'L');
    testing::internal::CaptureStdout();
    EXPECT_EQ(process_cp_tamvik_n1(0, 3, 0, 2, longLabel), -3);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(exists(kMaster + "/TAMVIK-IN/SESSION2"));
    EXPECT_FALSE(mounted(3));
    EXPECT_NE(console.find("path too long"), std::string::npos);

    // The whole-stick worker hands its arguments on and leaves mounts to the job.
    ASSERT_GE(isUsbMounted(3), 0);
    ASSERT_EQ(mkdir((kMaster + "/TAMVIK-IN/WHOLE").c_str(), 0777), 0);
    EXPECT_EQ(process_cp_tamvik(0, root(3), kMaster + "/TAMVIK-IN/WHOLE", 3, 0), 0);
    EXPECT_TRUE(exists(kMaster + "/TAMVIK-IN/WHOLE/take.wav"));
    EXPECT_TRUE(mounted(3));
}

TEST_F(CopyWorkers, SpecialFolderWorkersPairOutWithIn) {
    freshStick(0, {"TELVO", "TELVO/Maths-OUT", "TELVO/Phys-out"});
    freshStick(2, {});
    writeText(kMaster + "/TELVO/Maths-OUT/q.txt", "q");
    writeText("/tmp/repTelvo.txt", "Maths-OUT\n");
    EXPECT_EQ(process_telvo_cp_tamvik_1n(0, kCopyOut, "", 0, 2), 0);
    auto tree = sim::stickTree(2);
    EXPECT_TRUE(has(tree, "Maths-in/q.txt"));
    EXPECT_TRUE(has(tree, "Maths-OUT/")) << "an empty folder for the student's work";
    EXPECT_EQ(sim::word(2), 4);

    ASSERT_GE(isUsbMounted(2), 0);
    writeText(root(2) + "/Maths-OUT/answer.txt", "42");
    writeText("/tmp/repTelvo.txt", "Maths-OUT\nPhys-out\n");
    EXPECT_EQ(process_telvo_cp_tamvik_n1(0, 2, 0, 1, ""), 0);
    EXPECT_EQ(sim::readFile(kMaster + "/TELVO/Maths-in/SESSION1/UE2/answer.txt"), "42");
    EXPECT_TRUE(exists(kMaster + "/TELVO/Phys-in/SESSION1/UE2"));
    EXPECT_TRUE(has(sim::stickTree(2), "Phys-out/")) << "created for the student when missing";

    writeText("/tmp/repTelvo.txt", "");
    ASSERT_GE(isUsbMounted(2), 0);
    EXPECT_EQ(process_telvo_cp_tamvik_1n(0, kCopyOut, "", 0, 2), 0);
    EXPECT_EQ(sim::word(2), 4);

    ASSERT_GE(isUsbMounted(2), 0);
    writeText("/tmp/repTelvo.txt", std::string(70, 'n') + "-out\n");
    EXPECT_EQ(process_telvo_cp_tamvik_n1(0, 2, 0, 1, "CLASS"), -3);
    EXPECT_FALSE(mounted(2));
}

TEST_F(CopyWorkers, CancelBeforeAndDuringACopy) {
    freshStick(0, {"TAMVIK-OUT", "Extra"});
    freshStick(1, {"TAMVIK-IN"});
    writeText(kCopyOut + "/doc.txt", "doc");
    writeText(kMaster + "/Extra/e.txt", "e");
    writeText("/replist", "Extra\n");
    ASSERT_TRUE(sim::touch("/tmp/bt4.cmd"));
    EXPECT_EQ(process_cp_tamvik_1n(0, kCopyOut, "", 0, 1), -5);
    EXPECT_EQ(sim::word(1), 4) << "the job overwrites it";
    EXPECT_FALSE(mounted(1));
    EXPECT_FALSE(has(sim::stickTree(1), "TAMVIK-IN/Documents/doc.txt"));
    unlink("/tmp/bt4.cmd");

    // During: the file being copied is finished, nothing after it is copied.
    writeText(kCopyOut + "/zz.txt", "after");
    bigFileFromDevice(0, "TAMVIK-OUT/big.bin", 12L << 20);
    ASSERT_GE(isUsbMounted(1), 0);
    const std::string partial = root(1) + "/TAMVIK-IN/Documents/big.bin";
    std::thread cancel = when([&] { return sizeOf(partial) > 0; }, [] { sim::touch("/tmp/bt4.cmd"); });
    EXPECT_EQ(process_cp_tamvik_1n(0, kCopyOut, "", 0, 1), -5);
    cancel.join();
    normalSpeed(0);
    EXPECT_EQ(sim::word(1), 4);
    EXPECT_FALSE(mounted(1));
    auto tree = sim::stickTree(1);
    EXPECT_FALSE(has(tree, "TAMVIK-IN/Extra/e.txt")) << "the remaining copies return -5 at once";
    unlink("/tmp/bt4.cmd");
}

TEST_F(CopyWorkers, StickThatTakesNoWritesIsNeverDone) {
    // Every write of the copy lands in memory first; only writing it out fails.
    freshStick(0, {"TAMVIK-OUT"});
    freshStick(1, {"TAMVIK-IN"});
    freshStick(2, {});
    writeText(kCopyOut + "/doc.txt", "doc");
    sim::failWrites(1);
    sim::failWrites(2);
    EXPECT_EQ(process_cp_tamvik_1n(0, kCopyOut, "", 0, 1), -3);
    EXPECT_EQ(sim::word(1), 3) << "not done: the job marks it failed";
    EXPECT_FALSE(mounted(1));
    EXPECT_EQ(process_cp_tamvik(0, kCopyOut, root(2), 0, 2), -3);
}

TEST_F(CopyWorkers, PulledSticksEndTheirWorkers) {
    freshStick(0, {"TAMVIK-OUT"});
    freshStick(1, {"TAMVIK-IN"});
    freshStick(2, {"TAMVIK-IN"});
    bigFileFromDevice(0, "TAMVIK-OUT/big.bin", 12L << 20);
    const std::string partial = root(1) + "/TAMVIK-IN/Documents/big.bin";
    std::thread pull = when([&] { return sizeOf(partial) > 0; }, [] { sim::pullStick(1); });
    EXPECT_EQ(process_cp_tamvik_1n(0, kCopyOut, "", 0, 1), -2);
    pull.join();
    EXPECT_EQ(sim::word(1), 5);
    EXPECT_FALSE(mounted(1));
    EXPECT_TRUE(mounted(0));

    // The next stick is served.
    normalSpeed(0);
    EXPECT_EQ(process_cp_tamvik_1n(0, kCopyOut, "", 0, 2), 0);
    EXPECT_EQ(sim::word(2), 4);

    // The master pulled during a collect: master lost, both unmounted.
    freshStick(3, {"TAMVIK-OUT"});
    bigFileFromDevice(3, "TAMVIK-OUT/big.bin", 12L << 20);
    const std::string collected = kMaster + "/TAMVIK-IN/SESSION1/UE3/Documents/big.bin";
    std::thread pullMaster = when([&] { return sizeOf(collected) > 0; }, [] { sim::pullStick(0); });
    EXPECT_EQ(process_cp_tamvik_n1(0, 3, 0, 1, ""), -2);
    pullMaster.join();
    EXPECT_EQ(sim::word(0), 5);
    EXPECT_FALSE(mounted(0));
    EXPECT_FALSE(mounted(3));
}

TEST_F(CopyWorkers, SlowHungStickIsGivenUpAfterSixtySeconds) {
    freshStick(0, {"TAMVIK-OUT"});
    freshStick(1, {"TAMVIK-IN"});
    freshStick(2, {"TAMVIK-IN"});
    bigFileFromDevice(0, "TAMVIK-OUT/big.bin", 24L << 20);
    const std::string partial = root(1) + "/TAMVIK-IN/Documents/big.bin";
    // Watch the heartbeat: the last time word 17 was renewed to 60.
    std::atomic<bool> done{false};
    std::atomic<Clock::rep> lastBeat{Clock::now().time_since_epoch().count()};
    std::thread beats([&] {
        while (!done) {
            if (sim::word(kNbKey) == 60) lastBeat = Clock::now().time_since_epoch().count();
            std::this_thread::sleep_for(20ms);
        }
    });
    std::thread hang = when([&] { return sizeOf(partial) > 0; }, [] { sim::hangStick(1); });
    int result = process_cp_tamvik_1n(0, kCopyOut, "", 0, 1);
    auto returned = Clock::now();
    done = true;
    beats.join();
    hang.join();
    EXPECT_EQ(result, -4);
    double silent = std::chrono::duration<double>(returned.time_since_epoch() - Clock::duration(lastBeat)).count();
    EXPECT_GT(silent, 57.0);
    EXPECT_LT(silent, 63.0);
    sim::resumeStick(1);

    // The job goes on with the next stick.
    normalSpeed(0);
    EXPECT_EQ(process_cp_tamvik_1n(0, kCopyOut, "", 0, 2), 0);
    EXPECT_TRUE(has(sim::stickTree(2), "TAMVIK-IN/Documents/big.bin"));
}
