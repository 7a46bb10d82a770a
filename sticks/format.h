// Formatting a student stick, or emptying it where its size is not formatted.
#pragma once
#include <string>

int formatUSB(int slot, int fn, const char* label);
void remove_directory3(const std::string& path);
