// Start-up of the daemon: console log, mount points, segment, the three processes.
// init runs in the start-up process before any fork; attachSegment runs first in
// every long-lived loop.
#include "supervisor/process_frame.h"

#include <fcntl.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstdio>

#include "indicators/function_leds.h"
#include "supervisor/base/file_helpers.h"
#include "supervisor/base/globals.h"
#include "supervisor/base/shell_runner.h"

namespace {

constexpr const char* kDevMarker = "/bin/dev.cmd";
constexpr const char* kConsoleLog = "/tmp/log.txt";
constexpr const char* kVersionFile = "/dazuzorizizar";
constexpr mode_t kConsoleLogMode = 0644;
constexpr int kVersionLine = 128;   // the first line, at most 127 characters
constexpr int kShmWords = kShmSize / 4;

// Stands in for the segment in a process whose attach failed: the process goes
// on, its status words stay its own, and no code that reads or writes a word
// ever follows a null pointer. A button process without it sees no stick and
// asks for no job; an operation process without it hears no worker's heartbeat,
// so its workers end as failed, never as done.
int32_t privateWords[kShmWords];

void printVersion() {
    FILE* version = fopen(kVersionFile, "r");
    if (!version) return;
    char line[kVersionLine] = {};
    const bool read = fgets(line, sizeof line, version) != nullptr;
    fclose(version);
    if (read) printf("version:%s", line);   // exactly as read, line end or not
}

// Console output of this process and of everything it starts goes to the log.
// The log is neither truncated nor appended to: a new run writes from offset 0.
void redirectConsole() {
    fderr = open(kConsoleLog, O_RDWR | O_CREAT, kConsoleLogMode);
    if (fderr < 0) {
        perror("open /tmp/log.txt");   // the console stays where it was
    } else {
        // Redirected before the first line, so that the opening line and the echo
        // of the first command land in the log, in order, with nothing buffered.
        fflush(stdout);
        fflush(stderr);
        dup2(fderr, 1);
        dup2(fderr, 2);
    }
    printf("ouverture du fichier log");
    (void)to_system("umount /tmp/update");   // a leftover of an interrupted update
    printVersion();
}

}   // namespace

void init() {
    if (fileexist(kDevMarker) != 0) redirectConsole();
    char command[32];
    for (int slot = 1; slot < kSlots; ++slot) {
        snprintf(command, sizeof command, "mkdir /tmp/tamvikel%d/", slot);
        (void)to_system(command);   // an existing folder only leaves a message
    }
    (void)to_system("mkdir /tmp/tamvikma1");
    (void)to_system("mkdir /tmp/update");
    fileCntG = 0;
    showReadyPattern();
}

void attachSegment() {
    void* address = shmat(mem_ID, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        perror("shmat");
        ptr_mem_partagee = privateWords;
        return;
    }
    ptr_mem_partagee = static_cast<int32_t*>(address);
}
