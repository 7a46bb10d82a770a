// Job pieces that need no stick, on the appliance's /tmp.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "copy/watchdog.h"
#include "operations/job_common.h"
#include "operations/receipt.h"
#include "copy/read_back.h"
#include "copy/tree_copy.h"
#include "tests/support/appliance.h"

TEST(Jobs, SpaceRuleIsExactForSticksOfSeveralGiB) {
    // need x 520 <= free x 1000; 16 GiB against 8 GiB would wrap in 32 bits and fit.
    for (auto [need, freeKiB, fits] : {std::tuple{1000ull, 520ull, true},
                                       {1001ull, 520ull, false},
                                       {33554432ull, 8388608ull, false},
                                       {33554432ull, 17448305ull, true}})
        EXPECT_EQ(jobs::spaceRuleHolds(need, freeKiB), fits) << need << " in " << freeKiB;
}

// Students 1 and 2 collected, then 1's work damaged on the master (as a later student's writes
// can on a counterfeit one): the last read-back fails 1 alone; `sha256sum -c` checks 2's names
// with a line break, a backslash or a leading blank, escaped as sha256sum escapes them.
TEST(Jobs, SessionReadBackAtTheEndAndItsReceipt) {
    const std::string session = "/tmp/tamvikma1/TAMVIK-IN/SESSION1/";
    ASSERT_TRUE(ensureSegment());
    ASSERT_EQ(system(("mkdir -p " + session + "UE1 " + session + "UE2/sub").c_str()), 0);
    startReceipt();
    for (auto [slot, name] : {std::pair{1, "UE1/a.txt"},
                              {2, "UE2/line\nbreak"},
                              {2, "UE2/back\\slash"},
                              {2, "UE2/ lead"},
                              {2, "UE2/sub/d.txt"}}) {
        ASSERT_TRUE(sim::writeFile("/tmp/work", std::string("work of ") + name));
        const pid_t worker = fork();   // a worker records only the files it copied itself
        if (worker == 0)
            _exit(copier_fichier("/tmp/work", session + name) != 0 ||
                  !recordVerified("/tmp/tamvikma1", slot));
        int status = -1;
        ASSERT_TRUE(waitpid(worker, &status, 0) == worker && status == 0) << name;
        noteStudentFolder(slot, slot == 1 ? "UE1" : "UE2");
        storeWord(slot, 4);
    }
    ASSERT_TRUE(sim::writeFile(session + "UE1/a.txt", "damaged"));
    EXPECT_FALSE(sessionReadsBack("/tmp/tamvikma1"));
    EXPECT_EQ(std::make_pair(loadWord(1), loadWord(2)), std::make_pair(7, 4));
    ASSERT_TRUE(writeReceipt({session, "TAMVIK-IN/SESSION1/", "", 1}));
    EXPECT_EQ(sim::shellOutput("cd " + session + " && sha256sum -c SHA256SUMS | grep -c ': OK$'"),
              "4\n");
    const std::string receipt = sim::readFile(session + "RECEIPT.txt");
    EXPECT_NE(receipt.find("slot 1: 0 files, 0 bytes, not collected: its work on the master"),
              std::string::npos)
        << receipt;
}
