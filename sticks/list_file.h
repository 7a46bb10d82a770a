// The appliance's list files (/filelist, /replist, /tmp/repTelvo.txt) and the
// rules that pick files by /filelist. The space accounting measures and the copy
// copies by the same rules, so they live here, below both.
// Lines are read into a 150-byte buffer, so a longer line comes back as several
// pieces, each counting as a line of its own.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>

constexpr int kListLineSize = 150;   // 149 characters and the terminator

// Owns the open list file; closes it when it goes out of scope.
struct ListFile {
    explicit ListFile(const char* path);
    ~ListFile();
    ListFile(const ListFile&) = delete;
    ListFile& operator=(const ListFile&) = delete;

    bool isOpen() const { return file != nullptr; }
    // Next piece of at most 149 characters, its line end included; false at the end.
    bool readPiece(std::string& piece);

    FILE* file;
};

// Without its trailing line-feed and carriage-return characters (/filelist).
std::string withoutLineEnd(std::string text);
// Trimmed of white space at both ends with trim() (/replist, /tmp/repTelvo.txt).
std::string trimmedEntry(const std::string& text);

// The file-list rule: a line of /filelist (trailing CR/LF already removed) of
// length L selects every name that begins with its first L-1 characters, case
// ignored; an empty line selects nothing.
bool fileListSelects(std::string_view line, std::string_view name);

// The audio filter: the name's last three characters are "wav" or "act", case
// ignored (no dot needed: "react" passes).
bool passesAudioFilter(std::string_view name);

// How many pieces of /filelist ask for a file of this name in a listed folder's copy
// (audioOnly: only names that pass the audio filter; a hidden name never). Each piece
// is a request of its own: a name two pieces select is copied, and counted, twice.
// The measure and the copy both ask here, so what is counted is what is copied.
// -1 when the list cannot be opened.
int listedCopies(std::string_view name, int audioOnly);
