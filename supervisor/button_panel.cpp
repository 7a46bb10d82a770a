// The button process: turns presses into command files, cancel and shutdown.
#include "supervisor/button_panel.h"
#include <unistd.h>
#include "supervisor/process_frame.h"
void listenmaster() { attachSegment(); for (;;) pause(); }
