// Existence tests (0 means "exists", as access() answers) and folder creation.
#pragma once
#include <string>

int fileexist(const std::string& path);
int fileexist(const char* path);   // the same test without building a string
int direxist(const std::string& path);
int createDir(const std::string& path);
