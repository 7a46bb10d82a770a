// Clear: reformat or empty every student stick, or only its special folders.
#include "operations/clear.h"
int deleteStudents(int) { return 0; }
int process_del_tamvik(int, int) { return -1; }
int process_telvo_del_tamvik(int, int) { return -1; }
int remove_directory(const std::string&) { return -1; }
