// The self-update: which names are archives and which version they carry, and whole
// updates from a master listed as mounted: a version is recorded only after the
// archive's script ran, and nothing of an archive's name is read by the shell.
#include "supervisor/self_update.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "copy/watchdog.h"
#include "tests/support/appliance.h"
#include "tests/unit/unit_support.h"

TEST(SelfUpdate, ArchiveNamesAndVersions) {
    for (auto [name, is] : {std::pair{"dododirezeva_12.tar", true}, {"DODODIREZEVA_3.TAR", true},
                            {"dododirezeva_", false}, {"dododirezeva12.tar", false}, {"x_dododirezeva_1", false}})
        EXPECT_EQ(isUpdateArchiveName(name), is) << name;
    for (auto [name, text] : {std::pair{"dododirezeva_0012.tar", "0012"}, {"dododirezeva_.tar", ""},
                              {"dododirezeva_1", "1"}, {"dododirezeva_123", "123"}})
        EXPECT_EQ(archiveVersionText(name), text) << name;
    for (auto [text, number] : {std::pair{"0012", 12ll}, {" +7b", 7ll}, {"-3", -3ll}, {"v5", 0ll},
                                {"99999999999999999999999", LLONG_MAX}})
        EXPECT_EQ(versionNumber(text), number) << text;
    for (auto [content, number] : {std::pair{"42", 42ll}, {"0007\nrest\n", 7ll}, {"abc\n", 0ll}}) {
        ASSERT_TRUE(unit::writeFile("/dazuzorizizar", content));
        EXPECT_EQ(installedVersion(), number) << content;
    }
    (void)unlink("/dazuzorizizar");
    EXPECT_EQ(installedVersion(), 0);
}

// Each row: a master holding one archive (with or without the update script, which
// appends to /tmp/trace), one update, then what it left.
TEST(SelfUpdate, VersionOnlyAfterTheScriptAndNamesNeverRun) {
    ASSERT_TRUE(ensureSegment());
    ASSERT_TRUE(unit::listAsMounted({0}));
    ASSERT_EQ(chdir("/tmp"), 0);   // where an unquoted "touch pwned" would land
    const struct { std::string name; bool script; const char* version; } rows[] = {
        {"dododirezeva_20.tar", false, nullptr},
        {"dododirezeva_13;touch pwned;.tar", true, "13;touch pwned;"},
        {"dododirezeva_14$(touch pwned).tar", true, "14$(touch pwned)"},
        {"dododirezeva_16' && touch pwned '.tar", true, "16' && touch pwned '"}};
    for (const auto& row : rows) {
        ASSERT_EQ(system("rm -rf /tmp/tamvikma1/* /tmp/pkg /tmp/trace /dazuzorizizar && mkdir /tmp/pkg"
                         " && echo doc > /tmp/pkg/readme"), 0);
        if (row.script) {
            ASSERT_TRUE(unit::writeFile("/tmp/pkg/ruzedirevora.sh", "#!/bin/sh\necho ran >> /tmp/trace\n"));
            ASSERT_EQ(chmod("/tmp/pkg/ruzedirevora.sh", 0755), 0);
        }
        ASSERT_EQ(system("tar -cf /tmp/pkg.tar -C /tmp/pkg ."), 0);
        ASSERT_EQ(rename("/tmp/pkg.tar", ("/tmp/tamvikma1/" + row.name).c_str()), 0);
        const int reboots = sim::shimCalls("reboot");
        updateDup();
        EXPECT_EQ(sim::readFile("/tmp/trace"), row.script ? "ran\n" : "") << row.name;
        EXPECT_EQ(sim::readFile("/dazuzorizizar"), row.version ? std::string(row.version) + "\n" : "") << row.name;
        EXPECT_EQ(access("/dazuzorizizar", F_OK) == 0, row.version != nullptr) << row.name;
        EXPECT_EQ(sim::shimCalls("reboot") - reboots, row.script ? 1 : 0) << row.name;
        EXPECT_NE(access("/tmp/pwned", F_OK), 0) << row.name;
    }
}
