// The supervisor's helpers: quoting and folder creation against hostile names, the
// text helpers' bounds, and the shell runner: its echo, its event text, the verdict
// from the console log's last pieces and the reader of the log's tail.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <random>

#include "supervisor/file_helpers.h"
#include "supervisor/globals.h"
#include "supervisor/shell_runner.h"
#include "supervisor/text_utils.h"
#include "tests/support/appliance.h"
#include "tests/unit/unit_support.h"

namespace {

bool isDir(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string shellOutput(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    for (int c; pipe && (c = fgetc(pipe)) != EOF;) out += static_cast<char>(c);
    if (pipe) pclose(pipe);
    return out;
}

// The whole log read in pieces of at most 299 characters, as the verdict is defined.
void wholeLogPieces(const std::string& path, std::string& last, std::string& previous) {
    FILE* f = fopen(path.c_str(), "r");
    char piece[300];
    while (fgets(piece, sizeof piece, f)) previous = std::exchange(last, std::string(piece));
    fclose(f);
}

void expectTailMatchesWholeLog(const std::string& content, const std::string& what) {
    ASSERT_TRUE(unit::writeFile("/tmp/tail.txt", content));
    std::string wholeLast, wholePrevious, tailLast, tailPrevious;
    wholeLogPieces("/tmp/tail.txt", wholeLast, wholePrevious);
    const int fd = open("/tmp/tail.txt", O_RDONLY);
    ASSERT_TRUE(readLastLogPieces(fd, tailLast, tailPrevious)) << what;
    close(fd);
    EXPECT_EQ(tailLast, wholeLast) << what;
    EXPECT_EQ(tailPrevious, wholePrevious) << what;
}

const std::string kSizeMessage = "mkfs.vfat: Attempting to create a too large file system";

}  // namespace

TEST(Supervisor, StickTextReachesTheShellAsOneLiteralWord) {
    ASSERT_EQ(chdir("/tmp"), 0);   // where an unquoted "touch pwned" would land
    for (const std::string text : {"it's", "$(touch pwned)", "`touch pwned`", "back\\slash \"dq\"",
                                   "new\nline", "a;b|c&d>e", "-p", "$HOME ~ *", ""}) {
        EXPECT_EQ(shellOutput("printf %s " + shellQuote(text)), text);
        const std::string path = "/tmp/made/" + text + "/deeper";
        EXPECT_EQ(createDir(path), 0) << text;
        EXPECT_TRUE(isDir(path)) << text;
    }
    EXPECT_NE(access("/tmp/pwned", F_OK), 0);
}

TEST(Supervisor, CreateDirMakesEveryMissingLevelOrAnswersMinusOne) {
    ASSERT_TRUE(sim::touch("/tmp/plain"));
    std::string deep = "/tmp/long", tooDeep;
    while (deep.size() < 1500) deep += "/" + std::string(120, 'd');
    for (tooDeep = deep; tooDeep.size() < 5000;) tooDeep += "/" + std::string(120, 'e');
    const struct { std::string path; int result; } rows[] = {
        {"/tmp/a/b/c", 0}, {"/tmp/a", 0}, {"/tmp/t/x/", 0}, {"/tmp/plain/sub", -1}, {deep, 0}, {tooDeep, -1}};
    for (const auto& row : rows) {
        EXPECT_EQ(createDir(row.path), row.result) << row.path.substr(0, 30);
        EXPECT_EQ(isDir(row.path), row.result == 0) << row.path.substr(0, 30);
    }
}

TEST(Supervisor, TextHelpersStayInsideTheirText) {
    const struct { const char* text; int begin, len; const char* expected; } subs[] = {
        {"abcdef", 2, 3, "cde"}, {"abc", 3, 0, ""},       {"abc", 4, 0, nullptr},  {"abc", 1, 3, nullptr},
        {"", 0, 0, nullptr},     {nullptr, 0, 0, nullptr}, {"abc", -1, 1, nullptr}, {"abcdef", 4, -3, "ef"},
        {"abcdef", 2, -5, nullptr}};
    for (const auto& row : subs) {
        std::unique_ptr<char, decltype(&free)> got(substring(row.text, row.begin, row.len), &free);
        EXPECT_EQ(got ? got.get() : "(null)", std::string(row.expected ? row.expected : "(null)"))
            << row.begin << " " << row.len;
    }
    for (auto [text, expected] : {std::pair{"  a  ", "a"}, {"   ", ""}, {"", ""}, {"\t\r\n x y \v\f", "x y"}}) {
        std::string buffer = text;
        EXPECT_STREQ(trim(buffer.data()), expected);
    }
    EXPECT_EQ(trim(nullptr), nullptr);
    for (auto [name, out] : {std::pair{"Maths-OUT", 1}, {"Maths-outx", 0}, {"abc", 0}, {"-out", 1}})
        EXPECT_EQ(EndsWithOut(name), out) << name;
    EXPECT_EQ(EndsWith(nullptr, "-out"), 0);
}

TEST(Supervisor, TailReaderAgreesWithAWholeLogReader) {
    const std::string x299(299, 'x');
    for (const std::string& log :
         {std::string(), std::string("abc"), std::string("\n\n"), x299, x299 + "\n", std::string(298, 'y') + "\n",
          "first\n" + x299 + x299 + "\n", "first\n" + x299 + x299, std::string(200000, 'z') + "\nlast\n",
          "a\n" + std::string(200001, 'w') + "\n", "a\n" + std::string(70000, 'v'),
          std::string("ab\0cd\nef\0gh\n", 12), "p\n" + kSizeMessage + "\nrm ok\n"})
        expectTailMatchesWholeLog(log, log.substr(0, 20));
    // Generated logs: line lengths around the piece size and the tail reader's block.
    std::mt19937 random(20261206);
    const int lengths[] = {0, 1, 298, 299, 300, 597, 598, 599, 65535, 65536, 65537, 70000};
    for (int round = 0; round < 150; ++round) {
        std::string log;
        for (int i = 0, count = 1 + static_cast<int>(random() % 4); i < count; ++i) {
            log += std::string(lengths[random() % 12], static_cast<char>('a' + i));
            if (i + 1 < count || random() % 2) log += '\n';
        }
        expectTailMatchesWholeLog(log, "generated log " + std::to_string(round));
    }
}

TEST(Supervisor, VerdictFromTheLastTwoPieces) {
    const struct { std::string last, previous, cmd; int result; const char* text; } rows[] = {
        {"mount /dev/x 1700000000\n", "", "mount /dev/x", 0, "succes checkLog"},
        {"MOUNT /DEV/x 17\n", "", "mount /dev/y", 0, "succes checkLog"},   // ten characters, any case
        {"mount: bad superblock\n", "", "mount /dev/x", -1, "failed checkLog"},
        {"reboot 1700000000\n", "", "reboot", -1, "failed checkLog"},      // short: the bare command only
        {"reboot", "", "reboot", 0, "succes checkLog"},
        {"rm: cannot remove '/tmp/bt4.cmd': No such file or directory\n", "", "rm /tmp/bt4.cmd", 0, "succes"},
        {"rm: cannot remove 'x': Permission denied\n", "", "rm x", -1, "failed checkLog"},
        {kSizeMessage + "\n", "", "mkfs.vfat x", -2, ""},
        {"next\n", "MKFS.VFAT: attempting to create a too large FILE SYSTEM (x)\n", "mkfs.vfat x", -2, ""},
        {"x\n", " " + kSizeMessage, "x", -1, "failed checkLog"}};
    for (const auto& row : rows) {
        const char* text = nullptr;
        EXPECT_EQ(judgeLogPieces(row.last, row.previous, row.cmd, &text), row.result) << row.last;
        EXPECT_STREQ(text, row.text) << row.last;
    }
    (void)unlink("/tmp/log.txt");
    EXPECT_EQ(checkLogLastLine("anything at all"), -1);
}

// The console goes to /tmp/log.txt, as init sends it, for the commands run here.
TEST(Supervisor, CommandRunsAfterItsEchoAndIsJudgedByItsOwnOutput) {
    processId = 0;
    const std::string longArgument(240, 'L');
    fflush(stdout);
    const int savedOut = dup(1), log = open("/tmp/log.txt", O_RDWR | O_CREAT | O_TRUNC, 0644);
    dup2(log, 1);
    const int echoStatus = to_system("echo marker");
    const int longStatus = to_system("echo " + longArgument);
    const int sizeStatus = to_system("printf '" + kSizeMessage + "\\nsecond line\\n'");
    fflush(stdout);
    dup2(savedOut, 1);
    close(log);
    const std::string console = sim::readFile("/tmp/log.txt");
    EXPECT_EQ(console.find("echo marker "), 0u);   // the echo line, then the output
    EXPECT_NE(console.find("\nmarker\n"), std::string::npos);
    EXPECT_NE(console.find("\n" + longArgument + "\n"), std::string::npos) << "run in full";
    EXPECT_EQ(echoStatus, 0);
    EXPECT_EQ(longStatus, 0);
    EXPECT_EQ(sizeStatus, -2);
    // Only the event text is cut: 199 characters of "to_system " and the command.
    const std::string events = sim::readFile("/tmp/logM.txt");
    EXPECT_NE(events.find("0 = " + ("to_system echo " + longArgument).substr(0, 199) + "\n"), std::string::npos);
}
