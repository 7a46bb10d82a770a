// The real daemon starting in the simulated appliance with real sticks: console
// redirection, mount points, ready pattern, three processes on one segment, event
// lines; then the operation process's command-file protocol and presence refresh.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "indicators/function_leds.h"
#include "sticks/detection.h"
#include "tests/support/appliance.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kStartBudget = 120s;     // user-mode Linux: every command costs tens of ms
constexpr auto kJobsBudget = 300s;
const char* const kJobNumbers[] = {"1", "2", "3", "5", "6", "7"};

struct ProcessInfo {
    pid_t pid;
    pid_t parent;
    char state;
    std::string name;
};

std::vector<ProcessInfo> processes() {
    std::vector<ProcessInfo> out;
    DIR* proc = opendir("/proc");
    if (!proc) return out;
    while (dirent* entry = readdir(proc)) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        const size_t open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        ProcessInfo info{atoi(entry->d_name), 0, '?', line.substr(open + 1, close - open - 1)};
        std::istringstream rest(line.substr(close + 2));
        rest >> info.state >> info.parent;
        out.push_back(info);
    }
    closedir(proc);
    return out;
}

// The daemon's long-lived children: the operation and the LED process.
int daemonChildren(pid_t daemon) {
    int count = 0;
    for (const ProcessInfo& p : processes())
        if (p.parent == daemon && p.name == "stickdupd" && p.state != 'Z') ++count;
    return count;
}

int zombies() {
    int count = 0;
    for (const ProcessInfo& p : processes()) count += p.state == 'Z';
    return count;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

bool isDir(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (dir) closedir(dir);
    return dir != nullptr;
}

// Event texts of an event log, in order, as "code = text".
std::vector<std::string> events(const std::string& path) {
    std::vector<std::string> out;
    std::istringstream log(sim::readFile(path));
    std::string line;
    while (std::getline(log, line)) {
        const size_t at = line.find(" - cmd on ");
        if (at != std::string::npos) out.push_back(line.substr(at + 10));
    }
    return out;
}

size_t indexOf(const std::vector<std::string>& lines, const std::string& line, size_t from = 0) {
    for (size_t i = from; i < lines.size(); ++i)
        if (lines[i] == line) return i;
    return lines.size();
}

bool readyPattern() {
    return sim::waitFor([] { return sim::functionLeds() == "0011"; }, kStartBudget);
}

TEST(StartUp, ConsoleFoldersProcessesSegmentAndEvents) {
    ASSERT_TRUE(sim::plugStick(0, {}));
    sim::StickSpec student;
    student.label = "CLASSE 4B";
    ASSERT_TRUE(sim::plugStick(3, student));
    char label[20] = "";                             // the size a clear worker passes
    getPartitionLabel(3, 1, label, sizeof label);
    EXPECT_STREQ(label, "CLASSE 4B");
    {
        std::ofstream version("/dazuzorizizar");
        version << "4.2.1";                          // no line end: printed as read
    }
    cmdLed4("1");                                    // anything but the ready pattern
    const pid_t daemon = sim::startDaemon();
    ASSERT_GT(daemon, 0);
    ASSERT_TRUE(readyPattern());
    ASSERT_TRUE(sim::waitFor([daemon] { return daemonChildren(daemon) == 2; }, kStartBudget));

    const std::string log = sim::consoleLog();
    EXPECT_EQ(log.rfind("ouverture du fichier log", 0), 0u) << log.substr(0, 200);
    // Nothing is left in a buffer for the children to print a second time.
    EXPECT_EQ(log.find("ouverture du fichier log", 1), std::string::npos);
    EXPECT_EQ(log.find("version:", log.find("version:") + 1), std::string::npos);
    EXPECT_TRUE(contains(log, "umount /tmp/update "));
    EXPECT_TRUE(contains(log, "version:4.2.1"));
    EXPECT_TRUE(contains(log, "mkdir /tmp/tamvikel16/ "));
    for (int slot = 1; slot <= 16; ++slot)
        EXPECT_TRUE(isDir("/tmp/tamvikel" + std::to_string(slot))) << slot;
    EXPECT_TRUE(isDir("/tmp/tamvikma1"));
    EXPECT_TRUE(isDir("/tmp/update"));

    const int id = shmget(123654, 0, 0);
    ASSERT_GE(id, 0);
    shmid_ds info{};
    ASSERT_EQ(shmctl(id, IPC_STAT, &info), 0);
    EXPECT_EQ(info.shm_segsz, 436u);
    EXPECT_EQ(info.shm_perm.mode & 0777, 0666u);
    // Each of the operation, LED and button processes attaches it itself.
    EXPECT_TRUE(sim::waitFor([id] {
        shmid_ds now{};
        return shmctl(id, IPC_STAT, &now) == 0 && now.shm_nattch >= 3;
    }, kStartBudget));

    // The operation process shows which sticks are present.
    EXPECT_TRUE(sim::waitFor([] { return sim::word(0) == 2 && sim::word(3) == 2; }, kStartBudget));
    EXPECT_EQ(sim::word(5), 0);

    // Start-up commands are the button process's; no child status is collected
    // (ended children are never zombies), so the shell status reads -1.
    const std::vector<std::string> startEvents = events("/tmp/logM.txt");
    EXPECT_LT(indexOf(startEvents, "-1 = umount /tmp/update"), startEvents.size());
    EXPECT_LT(indexOf(startEvents, "-1 = to_system mkdir /tmp/tamvikma1"), startEvents.size());
    EXPECT_LT(indexOf(startEvents, "-1 = to_system mkdir /tmp/update"), startEvents.size());
    EXPECT_EQ(zombies(), 0);
}

TEST(StartUp, PresenceIsFrozenWhileAResultIsShown) {
    ASSERT_TRUE(sim::waitFor([] { return sim::word(3) == 2; }, kStartBudget));
    ASSERT_TRUE(sim::touch("/tmp/showresult.cmd"));
    sim::pullStick(3);
    ASSERT_TRUE(sim::plugStick(6, {}));
    EXPECT_FALSE(sim::waitFor([] { return sim::word(3) != 2 || sim::word(6) != 0; }, 5s));
    ASSERT_EQ(unlink("/tmp/showresult.cmd"), 0);     // the display is dismissed
    EXPECT_TRUE(sim::waitFor([] { return sim::word(3) == 0 && sim::word(6) == 2; }, kStartBudget));
}

TEST(StartUp, JobFilesRunInOrderAfterAStaleCancelIsDropped) {
    sim::stopDaemon();
    for (int slot : {0, 3, 6})                       // no master: every job ends at once
        if (access(sim::stickNode(slot).c_str(), F_OK) == 0) sim::pullStick(slot);
    (void)unlink("/tmp/logC.txt");
    ASSERT_TRUE(sim::touch("/tmp/bt4.cmd"));         // a cancel left over from before
    for (const char* job : kJobNumbers) ASSERT_TRUE(sim::touch(std::string("/tmp/bt") + job + ".cmd"));
    ASSERT_GT(sim::startDaemon(), 0);
    // The runner's removal of the last job's file ends the run (no job removes bt7).
    const auto allRun = [] {
        for (const std::string& e : events("/tmp/logC.txt"))
            if (e.find("to_system rm /tmp/bt7.cmd") != std::string::npos) return true;
        return false;
    };
    ASSERT_TRUE(sim::waitFor(allRun, kJobsBudget));

    const std::vector<std::string> ev = events("/tmp/logC.txt");
    // The stale cancel is gone before the first job: that first removal finds it.
    const size_t firstDrop = indexOf(ev, "-1 = rm /tmp/bt4.cmd");
    ASSERT_LT(firstDrop + 1, ev.size());
    EXPECT_EQ(ev[firstDrop + 1], "-1 = succes checkLog");
    EXPECT_NE(access("/tmp/bt4.cmd", F_OK), 0);
    // Each job: drop a cancel, run, remove its file; in the order 1, 2, 3, 5, 6, 7.
    size_t at = 0;
    for (const char* job : kJobNumbers) {
        const size_t drop = indexOf(ev, "-1 = rm /tmp/bt4.cmd", at);
        const size_t removal = indexOf(ev, std::string("-1 = rm /tmp/bt") + job + ".cmd", drop);
        EXPECT_LT(drop, removal) << "job " << job;
        EXPECT_LT(removal, ev.size()) << "job " << job;
        at = removal;
        EXPECT_NE(access((std::string("/tmp/bt") + job + ".cmd").c_str(), F_OK), 0);
    }
    EXPECT_TRUE(readyPattern());
}

TEST(StartUp, DevMarkerLeavesTheConsoleWhereItWas) {
    sim::stopDaemon();
    ASSERT_TRUE(sim::touch("/bin/dev.cmd"));
    (void)unlink("/tmp/log.txt");
    cmdLed1("0");
    const std::string console = "/tmp/dev_console.txt";
    fflush(stdout);
    const int savedOut = dup(1), savedErr = dup(2);
    const int out = open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);                                    // the daemon inherits this console
    dup2(out, 2);
    const pid_t daemon = sim::startDaemon();
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(out);
    close(savedOut);
    close(savedErr);
    ASSERT_GT(daemon, 0);
    ASSERT_TRUE(readyPattern());
    const std::string text = sim::readFile(console);
    EXPECT_TRUE(contains(text, "mkdir /tmp/tamvikma1 ")) << text;
    EXPECT_TRUE(contains(text, "File exists"));      // the shell's messages stay there too
    EXPECT_FALSE(contains(text, "ouverture du fichier log"));
    EXPECT_FALSE(contains(text, "umount /tmp/update"));
    EXPECT_FALSE(contains(text, "version:"));
    EXPECT_NE(access("/tmp/log.txt", F_OK), 0);
    sim::stopDaemon();
}

}  // namespace
