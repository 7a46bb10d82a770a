// The supervisor's helpers: quoting and folder creation against hostile names, the
// text helpers' bounds, the verdict from the console log's last two pieces, the
// reader of the log's tail, and the self-update from the master stick.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <random>

#include "copy/watchdog.h"
#include "supervisor/file_helpers.h"
#include "supervisor/self_update.h"
#include "supervisor/shell_runner.h"
#include "supervisor/text_utils.h"
#include "tests/support/appliance.h"
#include "tests/unit/unit_support.h"

namespace {

// The whole log read in pieces of at most 299 characters, as the verdict is defined.
void expectTailMatchesWholeLog(const std::string& content, const std::string& what) {
    ASSERT_TRUE(unit::writeFile("/tmp/tail.txt", content));
    std::string last, previous, tailLast, tailPrevious;
    FILE* f = fopen("/tmp/tail.txt", "r");
    for (char piece[300]; fgets(piece, sizeof piece, f);) previous = std::exchange(last, std::string(piece));
    fclose(f);
    const int fd = open("/tmp/tail.txt", O_RDONLY);
    ASSERT_TRUE(readLastLogPieces(fd, tailLast, tailPrevious)) << what;
    close(fd);
    EXPECT_EQ(tailLast, last) << what;
    EXPECT_EQ(tailPrevious, previous) << what;
}

const std::string kSizeMessage = "mkfs.vfat: Attempting to create a too large file system";

}  // namespace

TEST(Supervisor, StickTextReachesTheShellAsOneLiteralWord) {
    ASSERT_EQ(chdir("/tmp"), 0);   // where an unquoted "touch pwned" would land
    for (const std::string text : {"it's", "$(touch pwned)", "`touch pwned`", "back\\slash \"dq\"",
                                   "new\nline", "a;b|c&d>e", "-p", "$HOME ~ *", ""}) {
        EXPECT_EQ(unit::shellOutput("printf %s " + shellQuote(text)), text);
        EXPECT_EQ(createDir("/tmp/made/" + text + "/deeper"), 0) << text;
        EXPECT_TRUE(unit::isDir("/tmp/made/" + text + "/deeper")) << text;
    }
    EXPECT_NE(access("/tmp/pwned", F_OK), 0);

    // Every missing level, any length the system takes; -1 where it cannot be made.
    std::string deep = "/tmp/long", tooDeep;
    while (deep.size() < 1500) deep += "/" + std::string(120, 'd');
    for (tooDeep = deep; tooDeep.size() < 5000;) tooDeep += "/" + std::string(120, 'e');
    ASSERT_TRUE(unit::writeFile("/tmp/plain", ""));
    for (auto [path, result] : {std::pair{std::string("/tmp/t/x/"), 0}, {"/tmp/plain/sub", -1}, {deep, 0}, {tooDeep, -1}}) {
        EXPECT_EQ(createDir(path), result) << path.substr(0, 30);
        EXPECT_EQ(unit::isDir(path), result == 0) << path.substr(0, 30);
    }
}

TEST(Supervisor, SubstringNeverReadsOutsideTheText) {
    const struct { const char* text; int begin, len; const char* expected; } rows[] = {
        {"abcdef", 2, 3, "cde"}, {"abc", 3, 0, ""},       {"abc", 4, 0, nullptr},  {"abc", 1, 3, nullptr},
        {"", 0, 0, nullptr},     {nullptr, 0, 0, nullptr}, {"abc", -1, 1, nullptr}, {"abcdef", 4, -3, "ef"},
        {"abcdef", 2, -5, nullptr}};
    for (const auto& row : rows) {
        std::unique_ptr<char, decltype(&free)> got(substring(row.text, row.begin, row.len), &free);
        EXPECT_STREQ(got.get(), row.expected) << row.begin << " " << row.len;
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

TEST(Supervisor, TailReaderAgreesWithAWholeLogReader) {
    const std::string x299(299, 'x');
    for (const std::string& log :
         {std::string(), std::string("abc"), std::string("\n\n"), x299, x299 + "\n", std::string(298, 'y') + "\n",
          "first\n" + x299 + x299 + "\n", "first\n" + x299 + x299, std::string(200000, 'z') + "\nlast\n",
          "a\n" + std::string(200001, 'w') + "\n", "a\n" + std::string(70000, 'v'),
          std::string("ab\0cd\nef\0gh\n", 12), "p\n" + kSizeMessage + "\nrm ok\n"})
        expectTailMatchesWholeLog(log, log.substr(0, 20));
    // Generated logs of random letters (every piece differs from its neighbours), with
    // line lengths around the piece size and the tail reader's block.
    std::mt19937 random(20261206);
    const int lengths[] = {0, 1, 298, 299, 300, 597, 598, 599, 65535, 65536, 65537, 70000};
    for (int round = 0; round < 150; ++round) {
        std::string log;
        for (int i = 0, count = 1 + static_cast<int>(random() % 4); i < count; ++i) {
            for (int n = lengths[random() % 12]; n > 0; --n) log += static_cast<char>('a' + random() % 26);
            if (i + 1 < count || random() % 2) log += '\n';
        }
        expectTailMatchesWholeLog(log, "generated log " + std::to_string(round));
    }
}

// Each row: a master (listed as mounted) holding one archive, with or without the
// update script, then one update. A version is recorded only after the script ran,
// and nothing of an archive's name is read by the shell.
TEST(SelfUpdate, VersionOnlyAfterTheScriptAndNamesNeverRun) {
    ASSERT_TRUE(ensureSegment());
    ASSERT_TRUE(unit::listAsMounted({0}));
    ASSERT_EQ(chdir("/tmp"), 0);   // where an unquoted "touch pwned" would land
    for (auto [name, script] : {std::pair{std::string("dododirezeva_20.tar"), false},
                                {"dododirezeva_13;touch pwned;.tar", true}, {"dododirezeva_14$(touch pwned).tar", true},
                                {"dododirezeva_16' && touch pwned '.tar", true}}) {
        ASSERT_EQ(system("rm -rf /tmp/tamvikma1/* /tmp/pkg /tmp/trace /dazuzorizizar && mkdir /tmp/pkg"
                         " && echo doc > /tmp/pkg/readme"), 0);
        ASSERT_TRUE(!script || unit::writeFile("/tmp/pkg/ruzedirevora.sh", "#!/bin/sh\necho ran >> /tmp/trace\n"));
        ASSERT_EQ(system("chmod +x /tmp/pkg/* && tar -cf /tmp/pkg.tar -C /tmp/pkg ."), 0);
        ASSERT_EQ(rename("/tmp/pkg.tar", ("/tmp/tamvikma1/" + name).c_str()), 0);
        const int reboots = sim::shimCalls("reboot");
        updateDup();
        EXPECT_EQ(sim::readFile("/tmp/trace"), script ? "ran\n" : "") << name;
        EXPECT_EQ(unit::exists("/dazuzorizizar"), script) << name;
        EXPECT_EQ(sim::readFile("/dazuzorizizar"), script ? name.substr(13, name.size() - 17) + "\n" : "");
        EXPECT_EQ(sim::shimCalls("reboot") - reboots, script ? 1 : 0) << name;
        EXPECT_FALSE(unit::exists("/tmp/pwned")) << name;
    }
}
