// Which names on the master stick are update archives, which version they carry,
// and which version the appliance has installed.
#include "supervisor/self_update.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

namespace {

void writeVersionFile(const char* text) {
    FILE* f = fopen("/dazuzorizizar", "w");
    ASSERT_NE(f, nullptr);
    fputs(text, f);
    fclose(f);
}

TEST(SelfUpdate, ArchiveNameRuleAndVersionText) {
    EXPECT_TRUE(isUpdateArchiveName("dododirezeva_12.tar"));
    EXPECT_TRUE(isUpdateArchiveName("DODODIREZEVA_3.TAR"));
    EXPECT_TRUE(isUpdateArchiveName("dododirezeva_7"));
    EXPECT_FALSE(isUpdateArchiveName("dododirezeva_"));
    EXPECT_FALSE(isUpdateArchiveName("dododirezeva12.tar"));
    EXPECT_FALSE(isUpdateArchiveName("update_dododirezeva_1.tar"));

    EXPECT_EQ(archiveVersionText("dododirezeva_0012.tar"), "0012");
    EXPECT_EQ(archiveVersionText("dododirezeva_.tar"), "");      // 17 characters: empty
    EXPECT_EQ(archiveVersionText("dododirezeva_1"), "1");        // 14 to 16: the whole rest
    EXPECT_EQ(archiveVersionText("dododirezeva_123"), "123");
    EXPECT_EQ(archiveVersionText("dododirezeva_1;reboot;.tar"), "1;reboot;");

    EXPECT_EQ(versionNumber("0012"), 12);
    EXPECT_EQ(versionNumber(" +7b"), 7);
    EXPECT_EQ(versionNumber("-3"), -3);
    EXPECT_EQ(versionNumber("v5"), 0);
    EXPECT_EQ(versionNumber(""), 0);
    EXPECT_EQ(versionNumber("99999999999999999999999"), LLONG_MAX);   // no overflow
}

TEST(SelfUpdate, InstalledVersion) {
    (void)remove("/dazuzorizizar");
    EXPECT_EQ(installedVersion(), 0);
    writeVersionFile("42");              // no line end
    EXPECT_EQ(installedVersion(), 42);
    writeVersionFile("0007\nrest\n");
    EXPECT_EQ(installedVersion(), 7);
    writeVersionFile("abc\n");
    EXPECT_EQ(installedVersion(), 0);
    (void)remove("/dazuzorizizar");
}

}  // namespace
