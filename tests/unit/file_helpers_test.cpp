// Existence tests and createDir: existing folders, missing parents, names that
// would mean something to the shell, long paths, impossible places.
#include "supervisor/file_helpers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/support/appliance.h"

namespace {

bool isDir(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(FileHelpers, ExistenceAnswersLikeAccess) {
    ASSERT_TRUE(sim::touch("/tmp/fh_file"));
    EXPECT_EQ(fileexist("/tmp/fh_file"), 0);
    EXPECT_EQ(fileexist("/tmp"), 0);
    EXPECT_EQ(fileexist("/tmp/fh_missing"), -1);
    EXPECT_EQ(direxist("/tmp"), 0);
    EXPECT_EQ(direxist("/tmp/fh_file"), -1);
    EXPECT_EQ(direxist("/tmp/fh_missing"), -1);
}

TEST(FileHelpers, CreateDirMakesMissingLevelsAndKeepsExistingOnes) {
    ASSERT_EQ(mkdir("/tmp/fh_keep", 0755), 0);
    ASSERT_TRUE(sim::touch("/tmp/fh_keep/inside"));
    EXPECT_EQ(createDir("/tmp/fh_keep"), 0);
    EXPECT_EQ(fileexist("/tmp/fh_keep/inside"), 0);

    EXPECT_EQ(createDir("/tmp/fh_a/b/c"), 0);
    EXPECT_TRUE(isDir("/tmp/fh_a/b/c"));
    EXPECT_EQ(createDir("/tmp/fh_t/x/"), 0);         // a trailing slash is the same folder
    EXPECT_TRUE(isDir("/tmp/fh_t/x"));

    ASSERT_TRUE(sim::touch("/tmp/fh_plain"));
    EXPECT_EQ(createDir("/tmp/fh_plain/sub"), -1);   // a file is in the way
}

TEST(FileHelpers, CreateDirTakesHostileNamesLiterally) {
    ASSERT_EQ(mkdir("/tmp/fh_h", 0755), 0);
    const std::string names[] = {"it's", "$(touch /tmp/fh_h/pwned1)", "`touch /tmp/fh_h/pwned2`",
                                 "back\\slash", "dq\"uote", "new\nline", "semi;colon &", "-p"};
    for (const std::string& name : names) {
        const std::string path = "/tmp/fh_h/" + name + "/deeper";
        EXPECT_EQ(createDir(path), 0) << name;
        EXPECT_TRUE(isDir(path)) << name;
    }
    EXPECT_NE(fileexist("/tmp/fh_h/pwned1"), 0);
    EXPECT_NE(fileexist("/tmp/fh_h/pwned2"), 0);
}

TEST(FileHelpers, CreateDirServesLongPaths) {
    std::string path = "/tmp/fh_long";
    while (path.size() < 1500) path += "/" + std::string(120, 'd');
    EXPECT_EQ(createDir(path), 0);
    EXPECT_TRUE(isDir(path));
    // Beyond what the system takes in one path the answer is a clean -1.
    while (path.size() < 5000) path += "/" + std::string(120, 'e');
    EXPECT_EQ(createDir(path), -1);
}

}  // namespace
