// Standard folders on the sticks and the special-folder list /tmp/repTelvo.txt.
// The list files themselves are read through sticks/list_file.h, and the special-
// folder check and pair names the jobs share live in operations/job_common.h.
#pragma once
#include <string>

// Makes TAMVIK-OUT and TAMVIK-IN on the mounted stick where they are absent; the
// result of the first ensureFolder that did not find or make its folder.
int checkTamvikDirs(int slot);
// Rebuilds /tmp/repTelvo.txt from the master's TELVO; returns how many subject
// folders it had to leave out because the list cannot hold their names, or more
// than none when TELVO could not be listed.
int listTelvoFolders();
// Appends one name to /tmp/repTelvo.txt: 0 when written, -1 when the list cannot
// be written or the name would not come back unchanged from a 150-byte list line.
int addTelvoFolder(const std::string& name);
