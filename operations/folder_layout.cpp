// Standard folders on the sticks and the special-folder list.
#include "operations/folder_layout.h"
int checkTamvikDirs(const std::string&) { return -1; }
void listTelvoFolders() {}
int addTelvoFolder(const std::string&) { return -1; }
