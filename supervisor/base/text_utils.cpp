// Small text helpers used everywhere, and the one quoting helper through which
// anything a stick carries reaches the shell.
#include "supervisor/base/text_utils.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

bool isTrimSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}   // namespace

char* substring(const char* str, int begin, int len) {
    const size_t length = str ? strlen(str) : 0;
    // The end is computed as an unsigned 32-bit sum on purpose: a negative count
    // then asks for the whole rest of the text from begin, which callers use.
    const uint32_t end = static_cast<uint32_t>(begin) + static_cast<uint32_t>(len);
    if (length == 0 || begin < 0 || static_cast<size_t>(begin) > length || end > length) {
        printf("substring hors limites: longueur %zu, debut %d, nombre %d\n", length, begin, len);
        return nullptr;
    }
    const size_t rest = length - static_cast<size_t>(begin);
    const size_t count =
        (len < 0 || static_cast<size_t>(len) > rest) ? rest : static_cast<size_t>(len);
    char* copy = static_cast<char*>(malloc(count + 1));
    if (!copy) return nullptr;
    memcpy(copy, str + begin, count);
    copy[count] = '\0';
    return copy;
}

char* trim(char* str) {
    if (!str || *str == '\0') return str;
    char* first = str;
    while (*first && isTrimSpace(*first)) ++first;
    size_t count = strlen(first);
    while (count > 0 && isTrimSpace(first[count - 1])) --count;
    memmove(str, first, count);
    str[count] = '\0';
    return str;
}

int EndsWith(const char* str, const char* suffix) {
    if (!str || !suffix) return 0;
    const size_t length = strlen(str);
    const size_t suffixLength = strlen(suffix);
    if (suffixLength > length) return 0;
    return strcasecmp(str + length - suffixLength, suffix) == 0 ? 1 : 0;
}

int EndsWithOut(const char* name) { return EndsWith(name, "-out"); }

std::string shellQuote(std::string_view s) {
    // Inside single quotes the shell interprets nothing; a quote itself is closed,
    // escaped and reopened. Newlines, $, backquotes and backslashes stay literal.
    std::string quoted = "'";
    for (char c : s) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}
