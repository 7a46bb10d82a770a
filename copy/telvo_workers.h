// Special-folder copy workers, on the same watchdog frame as the folder workers.
#pragma once
#include <string>

int process_telvo_cp_tamvik_1n(int copyMode, const std::string& source,
                               const std::string& destination, int srcStick, int dstStick);
int process_telvo_cp_tamvik_n1(int copyMode, int studentStick, int busyStick, int sessionNo,
                               const std::string& label);
