// Line reading of the appliance's list files, in 150-byte pieces, and the
// file-list rule with the audio filter.
#include "sticks/list_file.h"

#include <cctype>

#include "supervisor/base/text_utils.h"

namespace {

constexpr const char* kFileList = "/filelist";

bool equalsIgnoringCase(char a, char b) {
    return tolower(static_cast<unsigned char>(a)) == tolower(static_cast<unsigned char>(b));
}

bool endsWithIgnoringCase(std::string_view name, std::string_view suffix) {
    if (name.size() < suffix.size()) return false;
    std::string_view tail = name.substr(name.size() - suffix.size());
    for (size_t i = 0; i < suffix.size(); ++i)
        if (!equalsIgnoringCase(tail[i], suffix[i])) return false;
    return true;
}

}   // namespace

ListFile::ListFile(const char* path) : file(fopen(path, "r")) {}

ListFile::~ListFile() {
    if (file) (void)fclose(file);
}

bool ListFile::readPiece(std::string& piece) {
    char buffer[kListLineSize];
    if (!file || !fgets(buffer, sizeof buffer, file)) return false;
    piece = buffer;
    return true;
}

std::string withoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

std::string trimmedEntry(const std::string& text) {
    char buffer[kListLineSize] = {};
    snprintf(buffer, sizeof buffer, "%s", text.c_str());
    return trim(buffer);
}

bool fileListSelects(std::string_view line, std::string_view name) {
    if (line.empty()) return false;
    std::string_view prefix = line.substr(0, line.size() - 1);
    if (name.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (!equalsIgnoringCase(name[i], prefix[i])) return false;
    return true;
}

bool passesAudioFilter(std::string_view name) {
    return endsWithIgnoringCase(name, "wav") || endsWithIgnoringCase(name, "act");
}

int listedCopies(std::string_view name, int audioOnly) {
    ListFile list(kFileList);
    if (!list.isOpen()) return -1;
    if (name.empty() || name[0] == '.') return 0;   // hidden files stay on their stick
    int copies = 0;
    std::string piece;
    while (list.readPiece(piece)) {
        copies +=
            fileListSelects(withoutLineEnd(piece), name) && (!audioOnly || passesAudioFilter(name));
    }
    return copies;
}
