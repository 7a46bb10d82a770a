// The one runner of shell commands, the per-process event logs and the verdict
// read from the console log's last line.
#pragma once
#include <string>

int to_system(const std::string& cmd);
void logEvt(const std::string& text, int process, int code);
int checkLogLastLine(const std::string& cmd);
