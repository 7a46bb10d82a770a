// The one runner of shell commands, the per-process event logs and the verdict
#include "supervisor/shell_runner.h"
#include <cstdlib>
int to_system(const std::string& cmd) { return system(cmd.c_str()); }
void logEvt(const std::string&, int, int) {}
int checkLogLastLine(const std::string&) { return 0; }
