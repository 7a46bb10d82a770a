// The standard folders and the special-folder list, on the appliance's tmpfs
// standing in for a mounted master stick.
#include "operations/folder_layout.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

namespace {

const std::string kMaster = "/tmp/tamvikma1";
const std::string kTelvo = kMaster + "/TELVO";
const std::string kList = "/tmp/repTelvo.txt";

bool isDir(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::multiset<std::string> listed() {
    std::multiset<std::string> names;
    std::ifstream in(kList);
    for (std::string line; std::getline(in, line);) names.insert(line);
    return names;
}

void fresh(const std::string& path) {
    ASSERT_EQ(system(("rm -rf '" + path + "' && mkdir -p '" + path + "'").c_str()), 0);
}

TEST(FolderLayoutTest, CheckTamvikDirsCreatesBothFoldersOrFailsWithoutTryingTheSecond) {
    fresh("/tmp/tamvikel3");
    EXPECT_EQ(checkTamvikDirs("/tmp/tamvikel3"), 0);
    EXPECT_TRUE(isDir("/tmp/tamvikel3/TAMVIK-OUT"));
    EXPECT_TRUE(isDir("/tmp/tamvikel3/TAMVIK-IN"));

    // Already there: nothing changes, the work inside stays.
    std::ofstream("/tmp/tamvikel3/TAMVIK-OUT/work.txt") << "essay";
    EXPECT_EQ(checkTamvikDirs("/tmp/tamvikel3"), 0);
    EXPECT_EQ(access("/tmp/tamvikel3/TAMVIK-OUT/work.txt", F_OK), 0);

    // TAMVIK-OUT cannot be made (a file holds its name): -1, TAMVIK-IN never tried.
    fresh("/tmp/tamvikel4");
    std::ofstream("/tmp/tamvikel4/TAMVIK-OUT") << "in the way";
    EXPECT_EQ(checkTamvikDirs("/tmp/tamvikel4"), -1);
    EXPECT_FALSE(isDir("/tmp/tamvikel4/TAMVIK-IN"));

    // TAMVIK-IN blocked: -1 after TAMVIK-OUT was made.
    fresh("/tmp/tamvikel5");
    std::ofstream("/tmp/tamvikel5/TAMVIK-IN") << "in the way";
    EXPECT_EQ(checkTamvikDirs("/tmp/tamvikel5"), -1);
    EXPECT_TRUE(isDir("/tmp/tamvikel5/TAMVIK-OUT"));
}

TEST(FolderLayoutTest, ListTelvoFoldersListsOnlyOutFoldersThatComeBackUnchanged) {
    fresh(kTelvo);
    for (const char* dir : {"Maths-out", "Maths-in", "Phys-OUT", "-out", "LAB2-Out"})
        ASSERT_EQ(mkdir((kTelvo + "/" + dir).c_str(), 0755), 0);
    std::ofstream(kTelvo + "/notes-out") << "a file, not a folder";
    // Names the 150-byte list line would cut or its trimming would change: listing
    // them would send the workers to a different folder.
    const std::string longName = std::string(145, 'L') + "-out";   // 149 characters
    const std::string fitting = std::string(144, 'F') + "-out";    // 148 characters
    for (const std::string& dir : {longName, fitting, std::string(" Pad-out")})
        ASSERT_EQ(mkdir((kTelvo + "/" + dir).c_str(), 0755), 0);
    std::ofstream(kList) << "Stale-out\n";   // from an earlier master

    listTelvoFolders();
    EXPECT_EQ(listed(), (std::multiset<std::string>{"Maths-out", "Phys-OUT", "-out", "LAB2-Out",
                                                     fitting}));

    // No qualifying folder: the list is gone, so the variant stays off.
    fresh(kTelvo);
    ASSERT_EQ(mkdir((kTelvo + "/Maths-in").c_str(), 0755), 0);
    listTelvoFolders();
    EXPECT_NE(access(kList.c_str(), F_OK), 0);

    // No TELVO at all: the same.
    std::ofstream(kList) << "Stale-out\n";
    ASSERT_EQ(system(("rm -rf " + kTelvo).c_str()), 0);
    listTelvoFolders();
    EXPECT_NE(access(kList.c_str(), F_OK), 0);
}

TEST(FolderLayoutTest, AddTelvoFolderAppendsOneLinePerName) {
    (void)unlink(kList.c_str());
    EXPECT_EQ(addTelvoFolder("Maths-out"), 0);
    EXPECT_EQ(addTelvoFolder("Maths-out"), 0);
    EXPECT_EQ(addTelvoFolder("two\nlines-out"), -1);
    EXPECT_EQ(addTelvoFolder(""), -1);
    EXPECT_EQ(listed(), (std::multiset<std::string>{"Maths-out", "Maths-out"}));
}

}  // namespace
