// The button process: turns presses into command files, cancel and shutdown.
#pragma once

#include <sys/types.h>

// The processes whose end must end the daemon: the button process watches them.
void watchFamily(pid_t operationProcess, pid_t ledProcess);

[[noreturn]] void listenmaster();
