// Existence tests (0 means "exists", as access() answers) and folder creation.
#pragma once
#include <string>

int fileexist(const std::string& path);
int direxist(const std::string& path);
int createDir(const std::string& path);
