// Line reading of the appliance's list files, in 150-byte pieces.
#include "copy/list_file.h"

#include "supervisor/text_utils.h"

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
