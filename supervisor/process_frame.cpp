// Start-up of the daemon: console log, mount points, segment, the three processes.
#include "supervisor/process_frame.h"
#include <unistd.h>
void init() {}
void attachSegment() {}
void showReadyPattern() {}
void showBusyPattern() {}
void showErrorPattern() {}
