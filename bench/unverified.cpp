// The read-back's entry in the reference daemon: every stick reads back right.
#include <string>

std::string unverifiedFirstMisread(const std::string&) __asm__("__wrap_" FIRST_MISREAD);
std::string unverifiedFirstMisread(const std::string&) { return ""; }
