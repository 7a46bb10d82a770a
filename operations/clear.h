// Clear: reformat or empty every student stick, or only its special folders.
#pragma once
#include <string>

int deleteStudents(int fn);
int process_del_tamvik(int slot, int fn);
int process_telvo_del_tamvik(int slot, int fn);
int remove_directory(const std::string& path);
