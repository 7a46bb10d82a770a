// Text helpers: substring's bounds, trim, the suffix test and shell quoting.
#include "supervisor/text_utils.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

// substring's result owned by the test; "(null)" stands for nullptr.
std::string sub(const char* str, int begin, int len) {
    std::unique_ptr<char, decltype(&free)> copy(substring(str, begin, len), &free);
    return copy ? std::string(copy.get()) : "(null)";
}

std::string trimmed(std::string text) {
    std::string buffer = text;
    return trim(buffer.data());
}

// What the shell makes of a quoted word: printf prints it back untouched.
std::string throughShell(const std::string& text) {
    const std::string command = "printf %s " + shellQuote(text);
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[256];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    pclose(pipe);
    return out;
}

TEST(TextUtils, SubstringServesOnlyRequestsInsideTheText) {
    EXPECT_EQ(sub("abcdef", 2, 3), "cde");
    EXPECT_EQ(sub("abc", 3, 0), "");
    EXPECT_EQ(sub("abc", 4, 0), "(null)");
    EXPECT_EQ(sub("abc", 1, 3), "(null)");          // end past the text
    EXPECT_EQ(sub("", 0, 0), "(null)");
    EXPECT_EQ(sub(nullptr, 0, 0), "(null)");
    EXPECT_EQ(sub("abc", -1, 1), "(null)");         // never reads before the text
    // A negative count passes when begin minus its magnitude is inside the text,
    // and then gives the whole rest from begin.
    EXPECT_EQ(sub("abcdef", 4, -3), "ef");
    EXPECT_EQ(sub("abcdef", 2, -5), "(null)");
}

TEST(TextUtils, TrimInPlace) {
    EXPECT_EQ(trimmed("  a  "), "a");
    EXPECT_EQ(trimmed("   "), "");
    EXPECT_EQ(trimmed(""), "");
    EXPECT_EQ(trimmed("\t\r\n x y \v\f"), "x y");
    EXPECT_EQ(trim(nullptr), nullptr);
    char text[] = "  moved";
    EXPECT_EQ(trim(text), text);                     // same buffer, text at its start
    EXPECT_STREQ(text, "moved");
}

TEST(TextUtils, EndsWithIgnoresAsciiCase) {
    EXPECT_EQ(EndsWith("Maths-OUT", "-out"), 1);
    EXPECT_EQ(EndsWithOut("Maths-OUT"), 1);
    EXPECT_EQ(EndsWithOut("abc"), 0);
    EXPECT_EQ(EndsWithOut("Maths-outx"), 0);
    EXPECT_EQ(EndsWith("abc", ""), 1);
    EXPECT_EQ(EndsWith(nullptr, "-out"), 0);
    EXPECT_EQ(EndsWith("abc", nullptr), 0);
}

TEST(TextUtils, ShellQuoteLetsTheShellInterpretNothing) {
    const char* hostile[] = {"it's", "$(touch /tmp/quoted_pwned)", "`touch /tmp/quoted_pwned`",
                             "back\\slash \"dq\"", "line\nbreak", "a;b|c&d>e", "-n", "",
                             "''", "$HOME ~ *"};
    for (const char* text : hostile) EXPECT_EQ(throughShell(text), text) << text;
    EXPECT_NE(access("/tmp/quoted_pwned", F_OK), 0);
}

}  // namespace
