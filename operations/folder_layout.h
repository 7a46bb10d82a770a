// Standard folders on the sticks and the special-folder list.
#pragma once
#include <string>

int checkTamvikDirs(const std::string& root);
void listTelvoFolders();
int addTelvoFolder(const std::string& name);
