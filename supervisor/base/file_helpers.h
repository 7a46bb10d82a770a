// Existence tests (0 means "exists", as access() answers), folder creation and a file
// replaced whole.
#pragma once
#include <string>

int fileexist(const std::string& path);
int fileexist(const char* path);   // the same test without building a string
int direxist(const std::string& path);
int createDir(const std::string& path);

// Writes the file whole and syncs it; never through a symbolic link.
bool writeSynced(const std::string& path, const std::string& text);

// Replaces the file with the text through a synced sibling "PATH.new" renamed over it,
// so that a power cut leaves the old file or the new one, never none or a part. False,
// with the old file untouched, when the new one cannot be written.
bool replaceFile(const std::string& path, const std::string& text);
