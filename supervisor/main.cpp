// Entry point of the daemon: prepares the console and mount points, obtains the
// shared status segment and splits into the operation, LED and button processes.
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "indicators/function_leds.h"
#include "indicators/led_board.h"
#include "supervisor/button_panel.h"
#include "supervisor/base/globals.h"
#include "supervisor/operation_runner.h"
#include "supervisor/process_frame.h"

namespace {

// Ended children must never become zombies: no process of the daemon waits for
// a child, and the clear job tells a live worker by its /proc entry. The price:
// system() cannot collect a status and returns -1; commands are judged otherwise.
void reapChildrenAutomatically() {
    struct sigaction action;
    sigaction(SIGCHLD, nullptr, &action);
    action.sa_flags |= SA_NOCLDWAIT;
    sigaction(SIGCHLD, &action, nullptr);
}

[[noreturn]] void failStartup() {
    showErrorPattern();
    exit(1);
}

}   // namespace

int main(int, char**) {
    // Unbuffered: every line is in the console log before the next shell command
    // writes there, a child never prints its parent's pending text again, and a
    // worker's lines survive its _exit.
    setvbuf(stdout, nullptr, _IONBF, 0);
    reapChildrenAutomatically();
    init();
    mem_ID = shmget(kShmKey, kShmSize, kShmFlags);
    if (mem_ID < 0) perror("shmget");   // every attach fails too; the processes go on
    const pid_t operationProcess = fork();
    if (operationProcess < 0) {
        perror("fork");
        failStartup();
    }
    if (operationProcess == 0) {
        processId = 1;
        listenchild();
    }
    const pid_t ledProcess = fork();
    if (ledProcess < 0) {
        // Without the LED process no result could be shown: rather than look
        // ready while half working, the appliance stops and shows the error.
        perror("fork");
        kill(operationProcess, SIGKILL);
        failStartup();
    }
    if (ledProcess == 0) {
        processId = 2;
        mainhubctrl();
    }
    processId = 0;
    watchFamily(operationProcess, ledProcess);
    listenmaster();
}
