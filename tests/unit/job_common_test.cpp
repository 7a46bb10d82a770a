// Pieces of the jobs that need no stick: the space rule, the list reader, the pair
// names, and the recursive delete of the clear workers.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "operations/clear.h"
#include "operations/job_common.h"
#include "tests/support/appliance.h"

TEST(JobCommon, SpaceRuleIsExactForSticksOfSeveralGiB) {
    EXPECT_TRUE(jobs::spaceRuleHolds(1000, 520));     // need x 520 == free x 1000
    EXPECT_FALSE(jobs::spaceRuleHolds(1001, 520));
    // 16 GiB of data against 8 GiB free: 32-bit products would wrap and say "fits".
    EXPECT_FALSE(jobs::spaceRuleHolds(33554432ull, 8388608ull));
    EXPECT_TRUE(jobs::spaceRuleHolds(33554432ull, 17448305ull));
    EXPECT_EQ(jobs::pairStem("Maths-out"), "Maths-");
    EXPECT_EQ(jobs::pairStem("LAB2-OUT"), "LAB2-");
}

TEST(JobCommon, ListEntriesAreTrimmedPiecesOf149Characters) {
    std::string longLine(160, 'x');
    ASSERT_TRUE(sim::touch("/tmp/list.txt"));
    FILE* f = fopen("/tmp/list.txt", "w");
    ASSERT_NE(f, nullptr);
    fprintf(f, "  Maths-out \t\n\n%s\n", longLine.c_str());
    fclose(f);
    std::vector<std::string> entries;
    EXPECT_TRUE(jobs::forEachListEntry("/tmp/list.txt", [&](const std::string& e) {
        entries.push_back(e);
        return true;
    }));
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0], "Maths-out");
    EXPECT_EQ(entries[1], "");                        // a blank line names the root
    EXPECT_EQ(entries[2], std::string(149, 'x'));
    EXPECT_EQ(entries[3], std::string(11, 'x'));
    EXPECT_FALSE(jobs::forEachListEntry("/tmp/no-such-list", [](const std::string&) { return true; }));
}

TEST(RemoveDirectory, RemovesLinksAsLinksAndNeverWhatTheyPointTo) {
    ASSERT_EQ(system("mkdir -p /tmp/keep/deep /tmp/gone/sub/subsub && echo k > /tmp/keep/deep/k"
                     " && echo a > /tmp/gone/a && echo b > /tmp/gone/sub/subsub/b"
                     " && ln -s /tmp/keep /tmp/gone/sub/dirlink"
                     " && ln -s /tmp/keep/deep/k /tmp/gone/filelink"), 0);
    EXPECT_EQ(remove_directory("/tmp/gone"), 0);
    EXPECT_NE(access("/tmp/gone", F_OK), 0);
    EXPECT_EQ(sim::readFile("/tmp/keep/deep/k"), "k\n");

    // A folder given as a link is not entered at all.
    ASSERT_EQ(system("ln -s /tmp/keep /tmp/keeplink"), 0);
    EXPECT_EQ(remove_directory("/tmp/keeplink"), -1);
    EXPECT_EQ(sim::readFile("/tmp/keep/deep/k"), "k\n");
    EXPECT_EQ(remove_directory("/tmp/no-such-folder"), -1);
}
