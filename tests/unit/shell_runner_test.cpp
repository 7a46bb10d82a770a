// The shell runner: echo line before the command, event lines, verdicts from the
// console log's last line, and the tail reader against a whole-log reader.
#include "supervisor/shell_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "supervisor/globals.h"
#include "tests/support/appliance.h"

namespace {

constexpr const char* kLog = "/tmp/log.txt";
const std::string kSizeMessage = "mkfs.vfat: Attempting to create a too large file system";

// The straightforward reader: the whole log in pieces of at most 299 characters.
void wholeLogPieces(const std::string& path, std::string& last, std::string& previous) {
    FILE* f = fopen(path.c_str(), "r");
    char piece[300] = "";
    std::string lastPiece, previousPiece;
    while (fgets(piece, sizeof piece, f)) {
        previousPiece = lastPiece;
        lastPiece = piece;                      // a C string: it ends at a NUL byte
    }
    fclose(f);
    last = lastPiece;
    previous = previousPiece;
}

void writeLog(const std::string& path, const std::string& content) {
    FILE* f = fopen(path.c_str(), "w");
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
}

// Tail and whole reading agree on both pieces (and so on every verdict).
void expectSamePieces(const std::string& content, const std::string& what) {
    const std::string path = "/tmp/tail_case.txt";
    writeLog(path, content);
    std::string wholeLast, wholePrevious, tailLast, tailPrevious;
    wholeLogPieces(path, wholeLast, wholePrevious);
    const int fd = open(path.c_str(), O_RDONLY);
    ASSERT_TRUE(readLastLogPieces(fd, tailLast, tailPrevious)) << what;
    close(fd);
    EXPECT_EQ(tailLast, wholeLast) << what;
    EXPECT_EQ(tailPrevious, wholePrevious) << what;
}

// Sends standard output to the console log, as init does, for the commands of one
// test; assertions run after it is restored so that their text stays visible.
struct ConsoleToLog {
    int savedOut = dup(1);
    int savedErr = dup(2);
    ConsoleToLog() {
        fflush(stdout);
        const int log = open(kLog, O_RDWR | O_CREAT | O_TRUNC, 0644);
        dup2(log, 1);
        dup2(log, 2);
        close(log);
    }
    ~ConsoleToLog() {
        fflush(stdout);
        dup2(savedOut, 1);
        dup2(savedErr, 2);
        close(savedOut);
        close(savedErr);
    }
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t from = 0, end;
    while ((end = text.find('\n', from)) != std::string::npos) {
        out.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    return out;
}

// The event text of a line "%ju - cmd on %d = %s": code and text.
std::string event(const std::string& line) {
    const size_t at = line.find(" - cmd on ");
    return at == std::string::npos ? "?" + line : line.substr(at + 10);
}

TEST(ShellRunner, TailReaderAgreesWithWholeLogReader) {
    const std::string x299(299, 'x');
    expectSamePieces("", "empty log");
    expectSamePieces("abc", "one line without line end");
    expectSamePieces("abc\n", "one line");
    expectSamePieces("\n\n", "empty lines");
    expectSamePieces(x299, "exactly one piece, no line end");
    expectSamePieces(x299 + "\n", "299 characters then the line end alone");
    expectSamePieces(std::string(298, 'y') + "\n", "298 characters and line end");
    expectSamePieces("first\n" + x299 + x299 + "\n", "line of two full pieces");
    expectSamePieces("first\n" + x299 + x299, "two full pieces, no line end");
    expectSamePieces(std::string(200000, 'z') + "\nlast\n", "long previous line");
    expectSamePieces("a\n" + std::string(200001, 'w') + "\n", "last line longer than the window");
    expectSamePieces("a\n" + std::string(70000, 'v'), "long last line, no line end");
    expectSamePieces(std::string("ab\0cd\nef\0gh\n", 12), "NUL bytes in lines");
    expectSamePieces(std::string(100, 'p') + "\n" + kSizeMessage + "\nrm ok\n", "size message before");

    // Random logs with line lengths around the piece size and the scan block.
    std::mt19937 random(20261206);
    const int lengths[] = {0, 1, 298, 299, 300, 597, 598, 599, 65535, 65536, 65537, 70000};
    for (int round = 0; round < 150; ++round) {
        std::string log;
        const int count = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < count; ++i) {
            log += std::string(lengths[random() % 12], static_cast<char>('a' + i));
            if (i + 1 < count || random() % 2) log += '\n';
        }
        expectSamePieces(log, "random log " + std::to_string(round));
    }
}

TEST(ShellRunner, VerdictsFromTheLastPieces) {
    const char* text = nullptr;
    EXPECT_EQ(judgeLogPieces("mount /dev/x 1700000000\n", "", "mount /dev/x", &text), 0);
    EXPECT_STREQ(text, "succes checkLog");
    EXPECT_EQ(judgeLogPieces("MOUNT /DEV/x 17\n", "", "mount /dev/y", &text), 0);  // ten characters, any case
    EXPECT_EQ(judgeLogPieces("mount: bad superblock\n", "", "mount /dev/x", &text), -1);
    EXPECT_STREQ(text, "failed checkLog");
    // Commands under ten characters match only the bare command without line end.
    EXPECT_EQ(judgeLogPieces("reboot 1700000000\n", "", "reboot", &text), -1);
    EXPECT_EQ(judgeLogPieces("reboot", "", "reboot", &text), 0);
    const std::string rm = "rm: cannot remove '/tmp/bt4.cmd': No such file or directory\n";
    EXPECT_EQ(judgeLogPieces(rm, "", "rm /tmp/bt4.cmd", &text), 0);
    EXPECT_STREQ(text, "succes");
    EXPECT_EQ(judgeLogPieces("rm: cannot remove 'x': Permission denied\n", "", "rm x", &text), -1);
    // The size message in the last or the previous piece, any case: -2, no event.
    EXPECT_EQ(judgeLogPieces(kSizeMessage + "\n", "", "mkfs.vfat x", &text), -2);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(judgeLogPieces("next\n", "MKFS.VFAT: attempting to create a too large FILE SYSTEM (x)\n",
                             "mkfs.vfat x", &text), -2);
    EXPECT_EQ(judgeLogPieces("x\n", " " + kSizeMessage, "x", &text), -1);  // only at the start
}

TEST(ShellRunner, CommandRunsAfterItsEchoAndLeavesThreeEventLines) {
    processId = 0;
    (void)unlink("/tmp/logM.txt");
    const std::string longArgument(240, 'L');
    int rmStatus, echoStatus, longStatus;
    {
        ConsoleToLog console;
        rmStatus = to_system("rm /tmp/bt4.cmd");
        echoStatus = to_system("echo marker");
        longStatus = to_system("echo " + longArgument);
    }
    const std::vector<std::string> log = lines(sim::readFile(kLog));
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[0].rfind("rm /tmp/bt4.cmd ", 0), 0u);
    EXPECT_NE(log[1].find("No such file or directory"), std::string::npos);
    EXPECT_EQ(log[2].rfind("echo marker ", 0), 0u);  // the echo line first, then the output
    EXPECT_EQ(log[3], "marker");
    EXPECT_EQ(log[5], longArgument);                 // the long command ran in full
    EXPECT_NE(rmStatus, 0);
    EXPECT_EQ(echoStatus, 0);
    EXPECT_EQ(longStatus, 0);

    const std::vector<std::string> events = lines(sim::readFile("/tmp/logM.txt"));
    ASSERT_EQ(events.size(), 9u);
    EXPECT_EQ(event(events[0]), "-1 = rm /tmp/bt4.cmd");
    EXPECT_EQ(event(events[1]), "-1 = succes");
    EXPECT_EQ(event(events[2]), std::to_string(rmStatus) + " = to_system rm /tmp/bt4.cmd");
    EXPECT_EQ(event(events[4]), "-1 = failed checkLog");  // the output is the last line
    EXPECT_EQ(event(events[5]), "0 = to_system echo marker");
    // Only the event text is cut: 199 characters of "to_system " and the command.
    EXPECT_EQ(event(events[8]), "0 = " + ("to_system echo " + longArgument).substr(0, 199));
    EXPECT_EQ(events[0].find_first_not_of("0123456789"), events[0].find(" - cmd on "));
}

TEST(ShellRunner, SizeMessageGivesMinusTwoAndNoReapingGivesMinusOne) {
    processId = 1;
    (void)unlink("/tmp/logC.txt");
    struct sigaction saved, noWait = {};
    noWait.sa_handler = SIG_DFL;
    noWait.sa_flags = SA_NOCLDWAIT;
    sigaction(SIGCHLD, &noWait, &saved);
    int sizeStatus, previousLineStatus, plainStatus;
    {
        ConsoleToLog console;
        sizeStatus = to_system("echo '" + kSizeMessage + " (seriously)'");
        previousLineStatus = to_system("printf '" + kSizeMessage + "\\nsecond line\\n'");
        plainStatus = to_system("echo hello");
    }
    sigaction(SIGCHLD, &saved, nullptr);
    processId = 0;
    EXPECT_EQ(sizeStatus, -2);
    EXPECT_EQ(previousLineStatus, -2);
    // The daemon reaps no child: the C library cannot collect any status. A
    // user-mode emulator drops SA_NOCLDWAIT, so there the status is collected.
    const std::string systemStatus = getenv("STICKDUP_EMULATOR") ? "0" : "-1";
    EXPECT_EQ(std::to_string(plainStatus), systemStatus);
    const std::vector<std::string> events = lines(sim::readFile("/tmp/logC.txt"));
    ASSERT_EQ(events.size(), 7u);                    // no verdict line for the size message
    EXPECT_EQ(event(events[1]), systemStatus + " = to_system echo '" + kSizeMessage + " (seriously)'");
}

TEST(ShellRunner, EventLogsByProcessRole) {
    for (const char* path : {"/tmp/logM.txt", "/tmp/logC.txt", "/tmp/logH.txt"}) (void)unlink(path);
    logEvt("button note", 0, -1);
    logEvt("operation note", 1, 7);
    logEvt("led note", 2, -3);
    logEvt("worker note", 3, 0);
    logEvt("nobody", -1, 0);
    EXPECT_EQ(event(lines(sim::readFile("/tmp/logM.txt")).at(0)), "-1 = button note");
    EXPECT_EQ(event(lines(sim::readFile("/tmp/logC.txt")).at(0)), "7 = operation note");
    EXPECT_EQ(event(lines(sim::readFile("/tmp/logH.txt")).at(0)), "-3 = led note");
    struct stat st;
    ASSERT_EQ(stat("/tmp/logC.txt", &st), 0);
    EXPECT_EQ(st.st_mode & 0600, 0600u);
    EXPECT_EQ(st.st_mode & 0133, 0u);                // nobody but the daemon writes it
    for (const char* path : {"/tmp/logW.txt", "/tmp/log3.txt"}) EXPECT_NE(access(path, F_OK), 0);
    EXPECT_EQ(lines(sim::readFile("/tmp/logM.txt")).size(), 1u);
}

TEST(ShellRunner, MissingConsoleLogIsAFailedVerdict) {
    (void)unlink(kLog);
    EXPECT_EQ(checkLogLastLine("anything at all"), -1);
}

}  // namespace
