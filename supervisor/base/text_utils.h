// Small text helpers used everywhere, and the one quoting helper through which
// anything a stick carries reaches the shell.
#pragma once
#include <string>
#include <string_view>

// Newly allocated copy (caller frees with free()), or nullptr for a request
// outside the text.
char* substring(const char* str, int begin, int len);
char* trim(char* str);
int EndsWith(const char* str, const char* suffix);
int EndsWithOut(const char* name);
// 'it'\''s' form: the shell sees one literal word whatever the text holds.
std::string shellQuote(std::string_view s);
