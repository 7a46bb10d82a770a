// Entry point of the daemon: prepares the console and mount points, obtains the
// shared status segment and splits into the operation, LED and button processes.
#include <cstdio>
#include <cstdlib>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include "indicators/led_board.h"
#include "supervisor/button_panel.h"
#include "supervisor/globals.h"
#include "supervisor/operation_runner.h"
#include "supervisor/process_frame.h"

int main(int, char**) {
    init();
    mem_ID = shmget(kShmKey, kShmSize, kShmFlags);
    if (fork() == 0) { processId = 1; listenchild(); }
    if (fork() == 0) { processId = 2; mainhubctrl(); }
    processId = 0;
    listenmaster();
}
