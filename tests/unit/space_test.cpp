// Space accounting on the appliance's own tmpfs: block counts, file counts, the
// file-list selection and the free-space query.
#include "sticks/space.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "supervisor/globals.h"

namespace {

const std::string kBase = "/tmp/sticks_space";

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

int blocksOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return static_cast<int>(st.st_blocks);
}

int countLines(const std::string& path, const std::string& text) {
    std::ifstream in(path);
    int n = 0;
    for (std::string line; std::getline(in, line);) n += line.find(text) != std::string::npos;
    return n;
}

class SpaceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(system(("rm -rf " + kBase + " && mkdir -p " + kBase).c_str()), 0);
        processId = 0;   // events land in /tmp/logM.txt
        fileCntG = 0;
    }
};

TEST_F(SpaceTest, KscaleRoundsHalvesUpAndCutsTo32Bits) {
    EXPECT_EQ(kscale(1, 512), 1u);     // half a KiB rounds up
    EXPECT_EQ(kscale(1, 511), 0u);
    EXPECT_EQ(kscale(3, 1024), 3u);
    EXPECT_EQ(kscale(3, 512), 2u);     // 1.5 KiB
    EXPECT_EQ(kscale(0, 4096), 0u);
    // 2^22 blocks of 1 MiB are 2^32 KiB: the product needs 64 bits, the result
    // keeps only its low 32 bits.
    EXPECT_EQ(kscale(4194304u, 1048576u), 0u);
    EXPECT_EQ(kscale(4194305u, 1048576u), 1024u);
    EXPECT_EQ(kscale(0xFFFFFFFFu, 1024u), 0xFFFFFFFFu);
}

TEST_F(SpaceTest, DuCountsAllocatedBlocksAndFilesButNoHiddenEntriesOrLinkTargets) {
    const std::string tree = kBase + "/tree";
    ASSERT_EQ(mkdir(tree.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((tree + "/sub").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((tree + "/.hiddendir").c_str(), 0755), 0);
    writeFile(tree + "/one", "x");
    writeFile(tree + "/empty", "");
    writeFile(tree + "/sub/big", std::string(100000, 'b'));
    writeFile(tree + "/.hidden", std::string(50000, 'h'));
    writeFile(tree + "/.hiddendir/inside", std::string(50000, 'i'));
    ASSERT_EQ(symlink("sub", (tree + "/link").c_str()), 0);
    ASSERT_EQ(symlink("loop", (tree + "/loop").c_str()), 0);   // points at itself

    // A one-byte file counts what the file system allocated for it, not its length.
    EXPECT_GT(blocksOf(tree + "/one"), 0);
    EXPECT_EQ(du(tree + "/one"), blocksOf(tree + "/one"));
    EXPECT_EQ(fileCntG, 1);

    // A file past 2 GiB (a film on a FAT32 stick) is measured and counted too:
    // a 32-bit board needs 64-bit file offsets for that.
    fileCntG = 0;
    writeFile(tree + "/film", "x");
    ASSERT_EQ(truncate((tree + "/film").c_str(), 3LL << 30), 0);
    EXPECT_EQ(du(tree + "/film"), blocksOf(tree + "/film"));
    EXPECT_EQ(fileCntG, 1);
    ASSERT_EQ(unlink((tree + "/film").c_str()), 0);

    // An empty file: no blocks, still one file.
    fileCntG = 0;
    EXPECT_EQ(du(tree + "/empty"), 0);
    EXPECT_EQ(fileCntG, 1);

    // The tree: folders, files and the links' own blocks; hidden entries and what
    // the links point at are not counted.
    fileCntG = 0;
    const int expected = blocksOf(tree) + blocksOf(tree + "/sub") + blocksOf(tree + "/one") +
                         blocksOf(tree + "/sub/big") + blocksOf(tree + "/link") +
                         blocksOf(tree + "/loop");
    EXPECT_EQ(du(tree), expected);
    EXPECT_EQ(fileCntG, 5);   // one, empty, sub/big, link, loop
    EXPECT_EQ(getDocFiles(tree), expected);

    // A hidden name given directly is counted.
    fileCntG = 0;
    EXPECT_EQ(du(tree + "/.hidden"), blocksOf(tree + "/.hidden"));
    EXPECT_EQ(fileCntG, 1);

    // An empty folder counts its own blocks and no file.
    fileCntG = 0;
    ASSERT_EQ(mkdir((kBase + "/emptydir").c_str(), 0755), 0);
    EXPECT_EQ(du(kBase + "/emptydir"), blocksOf(kBase + "/emptydir"));
    EXPECT_EQ(fileCntG, 0);
}

TEST_F(SpaceTest, DuOfAPathThatCannotBeExaminedAddsNothing) {
    fileCntG = 7;
    EXPECT_EQ(du(kBase + "/missing"), 0);
    EXPECT_EQ(du(kBase + "/missing/deeper"), 0);
    EXPECT_EQ(fileCntG, 7);
}

TEST_F(SpaceTest, DuwavCountsWhatTheFileListSelects) {
    const std::string master = kBase + "/master";
    ASSERT_EQ(mkdir(master.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((master + "/abcfolder").c_str(), 0755), 0);
    writeFile(master + "/ABC.wav", std::string(5000, 'a'));
    writeFile(master + "/abc.txt", std::string(9000, 't'));
    writeFile(master + "/ab.wav", std::string(13000, 'w'));
    writeFile(master + "/abcfolder/inner", std::string(17000, 'f'));
    // Beside the folder: counted only if the parent folder were taken for an entry.
    writeFile(kBase + "/beside", std::string(300000, 'z'));

    // "abcd" selects names beginning with "abc", case ignored.
    writeFile("/filelist", "abcd\n");
    fileCntG = 0;
    EXPECT_EQ(duwav(master, 1), static_cast<unsigned>(blocksOf(master + "/ABC.wav")));
    EXPECT_EQ(fileCntG, 1);
    fileCntG = 0;
    const unsigned all = blocksOf(master + "/ABC.wav") + blocksOf(master + "/abc.txt") +
                         blocksOf(master + "/abcfolder") + blocksOf(master + "/abcfolder/inner");
    EXPECT_EQ(duwav(master, 0), all);   // a selected folder counts with its content
    EXPECT_EQ(fileCntG, 3);

    // Two lines selecting one name count it twice, as the copy copies it twice;
    // CR LF line ends are not part of the entry.
    writeFile("/filelist", "ABC.wavx\r\nABC.\n");
    EXPECT_EQ(duwav(master, 1), static_cast<unsigned>(2 * blocksOf(master + "/ABC.wav")));

    // A one-character line selects every entry, but never the folder itself or its
    // parent (where the other sticks are mounted).
    writeFile("/filelist", "x\n");
    fileCntG = 0;
    const unsigned everything = all + blocksOf(master + "/ab.wav");
    EXPECT_EQ(duwav(master, 0), everything);
    EXPECT_EQ(fileCntG, 4);

    // An empty line selects nothing.
    writeFile("/filelist", "\n");
    EXPECT_EQ(duwav(master, 0), 0u);

    // Without the list nothing is counted and every entry records the fact.
    ASSERT_EQ(unlink("/filelist"), 0);
    const int before = countLines("/tmp/logM.txt", "no file list");
    fileCntG = 0;
    EXPECT_EQ(duwav(master, 0), 0u);
    EXPECT_EQ(fileCntG, 0);
    EXPECT_EQ(countLines("/tmp/logM.txt", "no file list") - before, 6);   // 4 entries, . and ..

    EXPECT_EQ(duwav(kBase + "/nofolder", 0), 0u);
}

TEST_F(SpaceTest, DfMainReportsFreeKiBOrZeroWhenUnknown) {
    EXPECT_GT(df_main(kBase), 0u);
    // A file system that cannot be queried has no room to offer.
    EXPECT_EQ(df_main(kBase + "/missing/x"), 0u);
}

}  // namespace
