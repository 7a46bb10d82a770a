// Pieces of the jobs that need no stick, on the appliance's /tmp standing in for the
// sticks: the space rule, the list reader, the standard and special folders, and
// the deletes of the clear workers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "copy/watchdog.h"
#include "operations/clear.h"
#include "operations/folder_layout.h"
#include "operations/job_common.h"
#include "sticks/format.h"
#include "supervisor/file_helpers.h"
#include "tests/support/appliance.h"
#include "tests/unit/unit_support.h"

namespace {

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool isDir(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::multiset<std::string> listed() {
    std::multiset<std::string> names;
    jobs::forEachListEntry("/tmp/repTelvo.txt", [&](const std::string& e) { return names.insert(e), true; });
    return names;
}

}  // namespace

TEST(Jobs, SpaceRuleIsExactForSticksOfSeveralGiB) {
    // need x 520 <= free x 1000; 16 GiB against 8 GiB would wrap in 32 bits and fit.
    for (auto [need, freeKiB, fits] : {std::tuple{1000ull, 520ull, true}, {1001ull, 520ull, false},
                                       {33554432ull, 8388608ull, false}, {33554432ull, 17448305ull, true}})
        EXPECT_EQ(jobs::spaceRuleHolds(need, freeKiB), fits) << need << " in " << freeKiB;
}

TEST(Jobs, ListEntriesAreTrimmedPiecesOf149Characters) {
    ASSERT_TRUE(unit::writeFile("/tmp/list.txt", "  Maths-out \t\n\n" + std::string(160, 'x') + "\n"));
    std::vector<std::string> entries;
    EXPECT_TRUE(jobs::forEachListEntry("/tmp/list.txt", [&](const std::string& e) {
        entries.push_back(e);
        return true;
    }));
    EXPECT_EQ(entries, (std::vector<std::string>{"Maths-out", "", std::string(149, 'x'), std::string(11, 'x')}));
    EXPECT_FALSE(jobs::forEachListEntry("/tmp/no-such-list", [](const std::string&) { return true; }));
}

// A file where a folder goes: -1; TAMVIK-IN is not tried after TAMVIK-OUT failed.
TEST(Jobs, StandardFoldersOrMinusOne) {
    const struct { const char* blocker; int result; bool out, in; } rows[] = {
        {nullptr, 0, true, true}, {"TAMVIK-OUT", -1, false, false}, {"TAMVIK-IN", -1, true, false}};
    for (const auto& row : rows) {
        ASSERT_EQ(system("rm -rf /tmp/el && mkdir /tmp/el"), 0);
        if (row.blocker) {
            ASSERT_TRUE(sim::touch(std::string("/tmp/el/") + row.blocker));
        }
        EXPECT_EQ(checkTamvikDirs("/tmp/el"), row.result);
        EXPECT_EQ(isDir("/tmp/el/TAMVIK-OUT"), row.out);
        EXPECT_EQ(isDir("/tmp/el/TAMVIK-IN"), row.in);
    }
}

// Only "-out" folders whose names come back unchanged from a 150-byte list line.
TEST(Jobs, SpecialFolderList) {
    const std::string telvo = "/tmp/tamvikma1/TELVO/", fitting = std::string(144, 'F') + "-out";
    for (const std::string& dir : {std::string("Maths-out"), std::string("Maths-in"), std::string("Phys-OUT"),
                                   std::string(145, 'L') + "-out", fitting, std::string(" Pad-out")})
        ASSERT_EQ(createDir(telvo + dir), 0);
    ASSERT_TRUE(sim::touch(telvo + "notes-out"));
    ASSERT_TRUE(unit::writeFile("/tmp/repTelvo.txt", "Stale-out\n"));
    listTelvoFolders();
    EXPECT_EQ(listed(), (std::multiset<std::string>{"Maths-out", "Phys-OUT", fitting}));
    EXPECT_EQ(addTelvoFolder("two\nlines-out"), -1);
    EXPECT_EQ(addTelvoFolder(""), -1);

    ASSERT_EQ(system("rm -rf /tmp/tamvikma1/TELVO && mkdir -p /tmp/tamvikma1/TELVO/Maths-in"), 0);
    listTelvoFolders();
    EXPECT_FALSE(exists("/tmp/repTelvo.txt")) << "no special folder: the variant stays off";
}

TEST(Jobs, DeletesNeverLeaveTheStick) {
    ASSERT_TRUE(ensureSegment());
    ASSERT_EQ(system("mkdir -p /tmp/keep/deep /tmp/gone/sub/subsub && echo k > /tmp/keep/deep/k"
                     " && echo b > /tmp/gone/sub/subsub/b && ln -s /tmp/keep /tmp/gone/sub/dirlink"
                     " && ln -s /tmp/keep/deep/k /tmp/gone/filelink && ln -s /tmp/keep /tmp/keeplink"), 0);
    EXPECT_EQ(remove_directory("/tmp/gone"), 0);
    EXPECT_FALSE(exists("/tmp/gone"));
    EXPECT_EQ(remove_directory("/tmp/keeplink"), -1) << "a folder given as a link is not entered";
    EXPECT_EQ(sim::readFile("/tmp/keep/deep/k"), "k\n");

    // The bulk delete of the emptied sizes: every visible name goes, hidden ones stay.
    ASSERT_EQ(chdir("/tmp"), 0);
    ASSERT_EQ(system("mkdir -p /tmp/st/sub/deeper /tmp/st/.hiddendir && cd /tmp/st && touch -- '$(touch pwned) a'"
                     " -rf \"it's\" sub/deeper/x .keep"), 0);
    remove_directory3("/tmp/st/");
    EXPECT_EQ(sim::word(kNbKey), 240) << "the worker gets 240 s for it";
    for (auto [name, stays] : {std::pair{"$(touch pwned) a", false}, {"-rf", false}, {"it's", false},
                               {"sub", false}, {".keep", true}, {".hiddendir", true}})
        EXPECT_EQ(exists(std::string("/tmp/st/") + name), stays) << name;
    EXPECT_FALSE(exists("/tmp/pwned"));
}
