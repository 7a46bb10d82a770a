// Copy workers: one forked process per stick under the watchdog (words 17, 18).
#pragma once
#include <string>

int process_cp_tamvik(int copyMode, const std::string& source, const std::string& destination,
                      int srcStick, int dstStick);
int process_cp_tamvik_1n(int copyMode, const std::string& source, const std::string& destination,
                         int srcStick, int dstStick);
int process_cp_tamvik_n1(int copyMode, int studentStick, int busyStick, int sessionNo,
                         const std::string& label);
