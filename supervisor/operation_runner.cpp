// The operation process: watches the command files and runs the jobs.
#include "supervisor/operation_runner.h"
#include <unistd.h>
#include "supervisor/process_frame.h"
void listenchild() { attachSegment(); for (;;) pause(); }
int resetDuplicator() { return 0; }
