// Small text helpers used everywhere, and the one quoting helper through which
#include "supervisor/text_utils.h"
char* substring(const char*, int, int) { return nullptr; }
char* trim(char* str) { return str; }
int EndsWith(const char*, const char*) { return 0; }
int EndsWithOut(const char* name) { return EndsWith(name, "-out"); }
std::string shellQuote(std::string_view s) { return std::string(s); }
