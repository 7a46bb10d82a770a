// The daemon starting as at boot, on the appliance's own kernel (sticks are only
// their device nodes here): console, mount points, one segment for three
// processes, no zombies; the presence refresh frozen under a result display; the
// command files run in order after a stale cancel is dropped; the development
// marker keeps the console where it was.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/shm.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "tests/support/appliance.h"

namespace {

using namespace std::chrono_literals;
constexpr auto kLong = 60s;

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }
size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// Processes in state Z, and children of `parent` that are the daemon's own.
std::pair<int, int> zombiesAndChildren(pid_t parent) {
    const std::string name = "(" + sim::daemonProcessName() + ")";
    std::pair<int, int> found{0, 0};
    DIR* proc = opendir("/proc");
    while (dirent* e = proc ? readdir(proc) : nullptr) {
        std::string stat;
        std::getline(std::ifstream(std::string("/proc/") + e->d_name + "/stat"), stat);
        const size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        found.first += stat[close + 2] == 'Z';
        found.second += atoi(stat.c_str() + close + 4) == parent && stat.find(name) != std::string::npos;
    }
    if (proc) closedir(proc);
    return found;
}

TEST(StartUp, ConsoleFoldersSegmentProcessesAndPresence) {
    std::ofstream("/dazuzorizizar") << "4.2.1\nignored\n";
    ASSERT_TRUE(sim::touch("/dev/tmvl3-part1"));
    const pid_t daemon = sim::startDaemon();
    ASSERT_TRUE(sim::waitFor([] { return sim::functionLeds() == "0011" && sim::word(3) == 2; }, kLong));
    EXPECT_TRUE(sim::waitFor([&] { return zombiesAndChildren(daemon) == std::make_pair(0, 2); }, kLong));
    const std::string log = sim::consoleLog();
    EXPECT_EQ(log.rfind("ouverture du fichier log", 0), 0u) << log.substr(0, 200);
    EXPECT_EQ(count(log, "ouverture du fichier log"), 1u);     // nothing printed twice
    EXPECT_EQ(count(log, "version:4.2.1\n"), 1u);
    for (int slot = 1; slot <= 16; ++slot) EXPECT_TRUE(exists("/tmp/tamvikel" + std::to_string(slot))) << slot;
    EXPECT_TRUE(exists("/tmp/tamvikma1") && exists("/tmp/update"));
    shmid_ds info{};
    ASSERT_EQ(shmctl(shmget(123654, 0, 0), IPC_STAT, &info), 0);
    EXPECT_EQ(info.shm_segsz, 436u);
    EXPECT_EQ(info.shm_perm.mode & 0777, 0666u);

    // Under a result display the words keep the job's codes; a dismissal frees them.
    ASSERT_TRUE(sim::touch("/tmp/showresult.cmd"));
    unlink("/dev/tmvl3-part1");
    ASSERT_TRUE(sim::touch("/dev/tmvl6-part1"));
    EXPECT_FALSE(sim::waitFor([] { return sim::word(3) != 2 || sim::word(6) != 0; }, 5s));
    ASSERT_EQ(unlink("/tmp/showresult.cmd"), 0);
    EXPECT_TRUE(sim::waitFor([] { return sim::word(3) == 0 && sim::word(6) == 2; }, kLong));
    unlink("/dev/tmvl6-part1");
}

// A cancel left from before is dropped, then every job file runs in the runner's
// order (without sticks each ends at once) and the ready pattern comes back.
TEST(StartUp, JobFilesRunInOrderAfterAStaleCancelIsDropped) {
    sim::stopDaemon();
    ASSERT_TRUE(sim::touch("/tmp/bt4.cmd"));
    for (int job : {7, 6, 5, 3, 2, 1}) ASSERT_TRUE(sim::touch("/tmp/bt" + std::to_string(job) + ".cmd"));
    const size_t from = sim::consoleLog().size();
    sim::startDaemon();
    ASSERT_TRUE(sim::waitFor([] { return !exists("/tmp/bt7.cmd"); }, 300s));
    const std::string log = sim::consoleLog().substr(from);
    size_t at = log.find("rm /tmp/bt4.cmd");
    for (int job : {1, 2, 3, 5, 6, 7}) {
        const size_t removal = log.find("rm /tmp/bt" + std::to_string(job) + ".cmd", at);
        EXPECT_NE(removal, std::string::npos) << "job " << job;
        at = removal == std::string::npos ? at : removal;
    }
    EXPECT_FALSE(exists("/tmp/bt4.cmd"));
    EXPECT_TRUE(sim::waitFor([] { return sim::functionLeds() == "0011"; }, kLong));
    sim::stopDaemon();
}

TEST(StartUp, DevMarkerLeavesTheConsoleWhereItWas) {
    ASSERT_EQ(unlink("/tmp/log.txt"), 0);
    ASSERT_TRUE(sim::touch("/bin/dev.cmd"));
    testing::internal::CaptureStdout();
    const pid_t daemon = sim::startDaemon();
    EXPECT_TRUE(sim::waitFor([&] { return zombiesAndChildren(daemon).second == 2; }, kLong));
    sim::stopDaemon();
    const std::string text = testing::internal::GetCapturedStdout();
    EXPECT_NE(text.find("mkdir /tmp/tamvikma1 "), std::string::npos) << text;
    EXPECT_EQ(text.find("ouverture du fichier log"), std::string::npos);
    EXPECT_FALSE(exists("/tmp/log.txt"));
    unlink("/bin/dev.cmd");
}

}  // namespace
