// Self-update from an archive on the master stick.
#pragma once
#include <string>
#include <string_view>

void updateDup();

// "dododirezeva_" (case ignored) followed by at least one character.
bool isUpdateArchiveName(std::string_view name);
// The version text of an archive name: what follows the prefix, less the last four
// characters (the extension) when the name has at least 17 characters.
std::string archiveVersionText(std::string_view name);
// Leading decimal number of a version text, as atoi reads it (white space, one
// sign, digits); 0 when there is none. Saturates instead of overflowing.
long long versionNumber(std::string_view text);
// Version recorded in "/dazuzorizizar"; 0 when missing or not a number.
long long installedVersion();
