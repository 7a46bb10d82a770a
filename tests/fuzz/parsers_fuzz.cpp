// Fuzz targets for the daemon's text parsers: FUZZ_PARSER names the function that checks one.
#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <iterator>
#include <vector>

#include "sticks/detection.h"
#include "sticks/list_file.h"
#include "supervisor/self_update.h"
#include "supervisor/base/shell_runner.h"

#define CHECK(cond) check(cond, #cond)
void check(bool holds, const char* property) {
    if (holds) return;
    fprintf(stderr, "property broken: %s\n", property);
    abort();
}

using std::string;

string blkidLabel(const string& line, size_t size) {
    std::vector<char> label(size);   // exactly that long: the sanitizer guards its end
    appendBlkidLabel(line.c_str(), label.data(), size);
    return label.data();
}

// A buffer size byte, then a line: as blkid's line, nothing written past the buffer; as a
// label escaped as blkid does, back whole but cut to fit, or none without its closing quote.
void label_fuzz(const string& in) {
    if (in.empty()) return;
    const size_t size = 1 + uint8_t(in[0]) % 24;
    const string text = in.substr(1, 149).c_str();
    string line = "/dev/x: LABEL=\"";
    for (char c : text) line += (c == '"' || c == '\\' ? "\\" : "") + string(1, c);
    (void)blkidLabel(text, size);
    CHECK(blkidLabel(line + "\" UUID=\"1\"", size) == text.substr(0, size - 1));
    CHECK(blkidLabel(line, size).empty());
}

// A file name, a line end, a list file: 149-character pieces, trimmed; the file-list rule
// and the audio filter by plain readings.
void list_line_fuzz(const string& in) {
    const size_t cut = in.find('\n');
    if (cut == string::npos) return;
    const string name = in.substr(0, cut).c_str(), list = in.substr(cut + 1);
    const char* end3 = name.c_str() + (name.size() >= 3 ? name.size() - 3 : name.size());
    CHECK(passesAudioFilter(name) == (!strcasecmp(end3, "wav") || !strcasecmp(end3, "act")));
    const int fd = memfd_create("list", MFD_CLOEXEC);   // in memory: nothing touches a disk
    CHECK(fd >= 0 && write(fd, list.data(), list.size()) == ssize_t(list.size()));
    ListFile file(("/proc/self/fd/" + std::to_string(fd)).c_str());
    size_t at = 0;
    for (string piece; file.readPiece(piece);) {
        const size_t end = std::min({list.find('\n', at), list.size() - 1, at + 148}) + 1;
        CHECK(piece == list.substr(at, end - at).c_str());
        at = end;
        const size_t first = piece.find_first_not_of(" \t\n\v\f\r");
        CHECK(trimmedEntry(piece) ==
              (first == string::npos
                   ? ""
                   : piece.substr(first, piece.find_last_not_of(" \t\n\v\f\r") + 1 - first)));
        const string line = piece.substr(0, piece.find_last_not_of("\r\n") + 1);
        CHECK(fileListSelects(withoutLineEnd(piece), name) ==
              (!line.empty() && name.size() + 1 >= line.size() &&
               !strncasecmp(name.c_str(), line.c_str(), line.size() - 1)));
    }
    CHECK(at == list.size());
    close(fd);
}

// A directory entry's name: the archive prefix in any case; the version like atoi, but saturating.
void archive_name_fuzz(const string& in) {
    const string name = in.substr(0, 255).c_str();
    CHECK(isUpdateArchiveName(name) ==
          (name.size() > 13 && !strncasecmp(name.c_str(), "dododirezeva_", 13)));
    for (const string& t : {name, archiveVersionText(name)})
        CHECK(versionNumber(t) == std::max(strtoll(t.c_str(), nullptr, 10), -LLONG_MAX));
}

// A console log, a DEL byte standing for 1024 x's (past the tail reader's 64 KiB blocks): its
// last two 299-character pieces, all the verdict looks at, are those a whole reading ends with.
void log_tail_fuzz(const string& in) {
    string log;
    for (char c : in) log += c == '\x7f' ? string(1024, 'x') : string(1, c);
    const int fd = memfd_create("log", MFD_CLOEXEC);
    CHECK(fd >= 0 && write(fd, log.data(), log.size()) == ssize_t(log.size()));
    string last, previous, tailLast, tailPrevious;
    FILE* whole = fopen(("/proc/self/fd/" + std::to_string(fd)).c_str(), "r");
    for (char piece[300]; fgets(piece, sizeof piece, whole); last = piece) previous = last;
    fclose(whole);
    CHECK(readLastLogPieces(fd, tailLast, tailPrevious) && tailLast == last &&
          tailPrevious == previous);
    close(fd);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FUZZ_PARSER(string(reinterpret_cast<const char*>(data), size));
    return 0;
}

#ifndef STICKDUP_FUZZ
// The g++ build has no libFuzzer: each file named on the command line runs once.
int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        CHECK(!file.fail());
        FUZZ_PARSER(string(std::istreambuf_iterator<char>(file), {}));
    }
}
#endif
