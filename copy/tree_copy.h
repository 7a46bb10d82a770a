// Recursive tree copy and file copy between mounted sticks, in 512-byte blocks.
#pragma once
#include <string>

int copier_fichier(const std::string& source, const std::string& destination);
int cp_tamvik(int copyMode, const std::string& source, const std::string& destination,
              int srcStick, int dstStick, int audioOnly);
