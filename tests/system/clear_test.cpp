// Clear end to end: the real daemon in the simulated appliance with FAT sticks, the
// job requested through its command file as the button panel does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/appliance.h"
#include "tests/system/job_run.h"

namespace {

using namespace std::chrono_literals;
using Entries = std::vector<std::string>;
using jobtest::Tree;

class Clear : public jobtest::JobTest {};

TEST_F(Clear, FolderModeWithoutMasterFormatsKeepingTheLabel) {
    ASSERT_TRUE(sim::plugStick(1, jobtest::stick(100 * 1024, "CLASS B")));   // formatted
    ASSERT_TRUE(sim::plugStick(2));                                          // emptied
    for (int slot : {1, 2}) ASSERT_TRUE(sim::putFile(slot, "TAMVIK-OUT/old/w.txt", "old"));
    ASSERT_TRUE(sim::putFile(2, ".hidden", "stays"));
    ASSERT_TRUE(sim::plugStick(5));
    ASSERT_TRUE(sim::putFile(5, "w.txt", "w"));
    sim::failWrites(5);                                   // a worn-out stick
    ASSERT_TRUE(jobtest::run(3, 2));
    EXPECT_EQ(sim::word(5), 7);
    EXPECT_EQ(sim::stickRead(5, "w.txt"), "w");
    EXPECT_EQ(Tree(1).entries, (Entries{"TAMVIK-IN/", "TAMVIK-OUT/"}));
    EXPECT_EQ(sim::stickLabel(1), "CLASS B");
    EXPECT_EQ(Tree(2).entries, (Entries{".hidden", "TAMVIK-IN/", "TAMVIK-OUT/"}));
    EXPECT_EQ(sim::word(1), 4);
    EXPECT_EQ(sim::word(2), 4);
    EXPECT_EQ(sim::word(0), 0);                            // no master, not touched
}

TEST_F(Clear, SpecialFolderVariantEmptiesOnlyTheSubjectFoldersUntilACancel) {
    ASSERT_TRUE(sim::plugStick(0));
    ASSERT_TRUE(sim::putDir(0, "TELVO/Maths-out"));
    for (int slot : {3, 4}) {
        ASSERT_TRUE(sim::plugStick(slot));
        ASSERT_TRUE(sim::putFile(slot, "Maths-in/sheet.txt", "s"));
        ASSERT_TRUE(sim::putFile(slot, "Maths-out/travail/w.txt", "w"));
        ASSERT_TRUE(sim::putFile(slot, "keep.txt", "k"));
    }
    sim::setWord(3, -1);
    auto run = jobtest::request(3);
    ASSERT_TRUE(sim::waitFor([] { return sim::word(3) == 4; }, 200s));
    sim::touch("/tmp/bt4.cmd");                           // looked at between sticks only
    ASSERT_TRUE(jobtest::finished(run, 3));
    EXPECT_EQ(Tree(3).entries, (Entries{"Maths-in/", "Maths-out/", "keep.txt"}));
    EXPECT_TRUE(Tree(4).has("Maths-out/travail/w.txt"));
    EXPECT_EQ(sim::word(4), 2);
}

TEST_F(Clear, WholeStickModeFormatsTheWholeDeviceEvenWithSubjectsOnTheMaster) {
    ASSERT_TRUE(sim::plugStick(0));
    ASSERT_TRUE(sim::putDir(0, "TELVO/Maths-out"));
    ASSERT_TRUE(sim::plugStick(4, jobtest::stick(100 * 1024, "GONE", 0)));
    ASSERT_TRUE(sim::putFile(4, "Maths-out/w.txt", "w"));
    ASSERT_TRUE(jobtest::run(7, 1));
    EXPECT_EQ(Tree(4).entries, Entries{});
    EXPECT_EQ(sim::stickLabel(4), "");
    EXPECT_EQ(sim::word(4), 4);
}

}  // namespace
