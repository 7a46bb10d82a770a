// Copy workers: one forked process per stick under the watchdog (words 17, 18).
#include "copy/workers.h"
int process_cp_tamvik(int, const std::string&, const std::string&, int, int) { return -4; }
int process_cp_tamvik_1n(int, const std::string&, const std::string&, int, int) { return -4; }
int process_cp_tamvik_n1(int, int, int, int, const std::string&) { return -4; }
