// Special-folder copy workers, on the same watchdog frame as the folder workers.
#include "copy/telvo_workers.h"
int process_telvo_cp_tamvik_1n(int, const std::string&, const std::string&, int, int) { return -4; }
int process_telvo_cp_tamvik_n1(int, int, int, int, const std::string&) { return -4; }
