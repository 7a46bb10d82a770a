// Standard folders on the sticks and the special-folder list, and the reading of
// the appliance's list files (/replist, /filelist, /tmp/repTelvo.txt) that the jobs,
// the copy engine and the space count share.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

constexpr const char* kMasterRoot = "/tmp/tamvikma1";
constexpr const char* kTelvoFolder = "/tmp/tamvikma1/TELVO";
constexpr const char* kRepListFile = "/replist";
constexpr const char* kFileListFile = "/filelist";
constexpr const char* kTelvoListFile = "/tmp/repTelvo.txt";
// Every list is read through a 150-byte line buffer: a line of 149 characters or
// more arrives as several pieces, each piece counting as a line of its own.
constexpr size_t kListLineSize = 150;

int checkTamvikDirs(const std::string& root);
void listTelvoFolders();
int addTelvoFolder(const std::string& name);

// The special-folder check every job makes with the master mounted: true when the
// master carries TELVO with at least one qualifying "-out" folder; the list
// /tmp/repTelvo.txt is then freshly written.
bool telvoVariantOn();

// Reads a list file piece by piece as the 150-byte buffer delivers it, the line
// ends still attached. False (and no pieces) when the file cannot be opened; the
// caller logs its own event ("no rep list", "no file list").
bool readListPieces(const std::string& path, std::vector<std::string>& pieces);
// The same pieces with white space removed at both ends: the entries of /replist
// and /tmp/repTelvo.txt. An empty entry stands for the stick's root.
bool readListEntries(const std::string& path, std::vector<std::string>& entries);

// The file-list rule: a /filelist piece (line end included or not) of L characters
// without its line end selects every name that begins with its first L-1
// characters, case ignored; an empty line selects nothing.
bool fileListSelects(const std::string& piece, const std::string& name);
// The audio filter: the name's last three characters are "wav" or "act", any case.
bool passesAudioFilter(const std::string& name);
// The partner of a special-folder entry: its last three characters dropped and
// "in" appended (Maths-out -> Maths-in, LAB2-OUT -> LAB2-in).
std::string telvoPairName(const std::string& entry);
