// The one runner of shell commands, the per-process event logs and the verdict
// read from the console log's last line. Every process calls these.
#include "supervisor/base/shell_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "supervisor/base/file_handles.h"
#include "supervisor/base/globals.h"

namespace {

constexpr const char* kConsoleLog = "/tmp/log.txt";
constexpr const char* kEventLogs[] = {"/tmp/logM.txt", "/tmp/logC.txt", "/tmp/logH.txt"};
constexpr mode_t kEventLogMode = 0644;   // readable by anyone who inspects the appliance
constexpr size_t kEventTextMax = 199;    // the event text lives in a 200-byte buffer
constexpr off_t kPiece = 299;            // the log is judged in pieces of 299 characters
constexpr size_t kCommandPrefix = 10;    // an echo line is recognised by 10 characters
constexpr const char* kSizeMessage = "mkfs.vfat: Attempting to create a too large file system";
constexpr size_t kSizeMessageLength = 55;
constexpr off_t kScanBlock = 64 * 1024;

// Start of the line whose last byte sits just before end: one past the nearest
// line end before end - 1, or 0. Reads backwards in blocks, so the cost is the
// length of that line, never the size of the log.
bool lineStartBefore(int fd, off_t end, off_t& start) {
    static char block[kScanBlock];
    off_t scanEnd = end - 1;   // the line's own line end does not count
    while (scanEnd > 0) {
        const off_t from = scanEnd > kScanBlock ? scanEnd - kScanBlock : 0;
        const ssize_t got = pread(fd, block, static_cast<size_t>(scanEnd - from), from);
        if (got != scanEnd - from) return false;
        for (off_t i = got - 1; i >= 0; --i) {
            if (block[i] == '\n') {
                start = from + i + 1;
                return true;
            }
        }
        scanEnd = from;
    }
    start = 0;
    return true;
}

// A piece as the C string a line reader would hold: it ends at a NUL byte.
bool readPiece(int fd, off_t from, off_t to, std::string& piece) {
    char buffer[kPiece];
    const ssize_t got = pread(fd, buffer, static_cast<size_t>(to - from), from);
    if (got != to - from) return false;
    piece.assign(buffer, strnlen(buffer, static_cast<size_t>(got)));
    return true;
}

// The last piece of the line [start, end): pieces of 299 bytes from its start.
off_t lastPieceStart(off_t start, off_t end) {
    return start + ((end - start - 1) / kPiece) * kPiece;
}

}   // namespace

bool readLastLogPieces(int fd, std::string& last, std::string& previous) {
    last.clear();
    previous.clear();
    struct stat st;
    if (fstat(fd, &st) != 0) return false;
    const off_t size = st.st_size;
    if (size == 0) return true;   // an empty log is one empty line
    off_t lineStart = 0;
    if (!lineStartBefore(fd, size, lineStart)) return false;
    const off_t lastStart = lastPieceStart(lineStart, size);
    if (!readPiece(fd, lastStart, size, last)) return false;
    if (lastStart > lineStart) return readPiece(fd, lastStart - kPiece, lastStart, previous);
    if (lineStart == 0) return true;   // a single piece: nothing before it
    off_t previousStart = 0;
    if (!lineStartBefore(fd, lineStart, previousStart)) return false;
    return readPiece(fd, lastPieceStart(previousStart, lineStart), lineStart, previous);
}

int judgeLogPieces(const std::string& last, const std::string& previous, const std::string& cmd,
                   const char** verdictText) {
    *verdictText = "";
    if (strncasecmp(last.c_str(), kSizeMessage, kSizeMessageLength) == 0 ||
        strncasecmp(previous.c_str(), kSizeMessage, kSizeMessageLength) == 0)
        return -2;
    // A command shorter than ten characters is compared with its terminator: it
    // matches only a last line that is the bare command without line end.
    if (strncasecmp(last.c_str(), cmd.c_str(), kCommandPrefix) == 0) {
        *verdictText = "succes checkLog";   // our own echo line: the command printed nothing
        return 0;
    }
    if (last.find("cannot remove") != std::string::npos &&
        last.find("No such file or directory") != std::string::npos) {
        *verdictText = "succes";   // removing what is already gone is fine
        return 0;
    }
    *verdictText = "failed checkLog";
    return -1;
}

void logEvt(const std::string& text, int process, int code) {
    if (process < 0 || process > 2) return;   // workers keep no event log
    const uintmax_t now = static_cast<uintmax_t>(time(nullptr));
    const std::string line =
        std::to_string(now) + " - cmd on " + std::to_string(code) + " = " + text + "\n";
    Fd log{open(kEventLogs[process], O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kEventLogMode)};
    if (log.fd < 0) return;   // no event log is worth stopping for
    // One write per line, so lines of different writers never mix.
    (void)!write(log.fd, line.data(), line.size());
}

int checkLogLastLine(const std::string& cmd) {
    logEvt(cmd, processId, -1);
    Fd log{open(kConsoleLog, O_RDONLY | O_CLOEXEC)};
    if (log.fd < 0) return -1;
    std::string last, previous;
    if (!readLastLogPieces(log.fd, last, previous)) return -1;
    const char* verdictText = "";
    const int verdict = judgeLogPieces(last, previous, cmd, &verdictText);
    if (*verdictText) logEvt(verdictText, processId, -1);
    return verdict;
}

int to_system(const std::string& cmd) {
    const uintmax_t now = static_cast<uintmax_t>(time(nullptr));
    printf("%s %ju\n", cmd.c_str(), now);
    // The echo line must be in the console log before the command writes there:
    // the verdict below recognises a silent command by it.
    fflush(stdout);
    const std::string eventText = ("to_system " + cmd).substr(0, kEventTextMax);
    // With SA_NOCLDWAIT the C library cannot collect the shell's status and this
    // is -1 for every command; callers judge commands by the system afterwards.
    const int status = system(cmd.c_str());
    usleep(1000);
    const int verdict = checkLogLastLine(cmd);
    logEvt(eventText, processId, status);
    return verdict == -2 ? -2 : status;
}

void keepCommandStatuses() {
    struct sigaction action;
    sigaction(SIGCHLD, nullptr, &action);
    action.sa_flags &= ~SA_NOCLDWAIT;
    sigaction(SIGCHLD, &action, nullptr);
}

// The child's answer travels through a pipe: its own exit status vanishes with it.
bool commandSucceeds(const std::string& cmd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    Fd reader{fds[0]}, writer{fds[1]};
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        keepCommandStatuses();
        const char answer = to_system(cmd) == 0 ? '1' : '0';
        (void)!write(writer.fd, &answer, 1);
        _exit(0);
    }
    writer.reset(-1);   // the child's end only: a child that dies unanswered reads as failure
    char answer = '0';
    return read(reader.fd, &answer, 1) == 1 && answer == '1';
}
