// Judgements about sticks that need no real one: the mount table, the label, the space.
#include <gtest/gtest.h>

#include "sticks/format.h"
#include "sticks/space.h"
#include "sticks/volume_label.h"
#include "supervisor/base/globals.h"
#include "tests/support/appliance.h"

// A label mkfs.vfat cannot take is written into the new volume byte for byte, in every FAT
// width; a volume without the placeholder where a label belongs is left untouched.
TEST(Sticks, LabelWrittenByteForByte) {
    const std::string raw = "CAF\x90 \x01\xff";
    for (const char* width : {"12", "16", "32"}) {
        const std::string made = std::string("rm -f /tmp/v.img && mkfs.vfat -C -F ") + width +
                                 " -n " + kLabelPlaceholder + " /tmp/v.img 40960 >/dev/null";
        ASSERT_EQ(system(made.c_str()), 0) << width;
        EXPECT_TRUE(writeVolumeLabel("/tmp/v.img", raw)) << width;
        EXPECT_EQ(sim::shellOutput("blkid -c /dev/null -d -s LABEL -o value /tmp/v.img"),
                  raw + "\n");
        EXPECT_FALSE(writeVolumeLabel("/tmp/v.img", "AGAIN")) << "no placeholder any more";
    }
    const std::string zeros(1 << 20, '\0');
    ASSERT_TRUE(sim::writeFile("/tmp/zero.img", zeros));
    EXPECT_FALSE(writeVolumeLabel("/tmp/zero.img", raw));
    EXPECT_TRUE(sim::readFile("/tmp/zero.img") == zeros) << "not a FAT volume, written";
}

TEST(Sticks, SpaceCountsAndFreeSpace) {
    for (auto [count, unit, kib] : {std::tuple{1u, 512u, 1u},
                                    {1u, 511u, 0u},
                                    {3u, 512u, 2u},
                                    {4194305u, 1048576u, 1024u},
                                    {0xFFFFFFFFu, 1024u, 0xFFFFFFFFu}})
        EXPECT_EQ(kscale(count, unit), kib) << count << " x " << unit;
    EXPECT_EQ(std::pair(df_main("/tmp") > 0, df_main("/tmp/missing/x")), std::pair(true, 0u))
        << "unknown free space is no room";

    // Links count, not what they point at nor hidden entries; a 3 GiB film needs 64-bit offsets.
    const auto blocks = [](const std::string& path) {
        return static_cast<int>(sim::lstatOf("/tmp/" + path).st_blocks);
    };
    ASSERT_EQ(system("mkdir -p /tmp/tree/sub /tmp/tree/.hd /tmp/m/abcdir && cd /tmp/tree"
                     " && echo x > one && : > empty && head -c 100000 /dev/zero > sub/big"
                     " && truncate -s 3G sub/big && echo h > .hidden && echo i > .hd/in"
                     " && ln -s sub link && ln -s loop loop && cd /tmp/m"
                     " && head -c 5000 /dev/zero > ABC.wav && head -c 9000 /dev/zero > abc.txt"
                     " && head -c 13000 /dev/zero > ab.wav && echo i > abcdir/in"),
              0);
    fileCntG = 0;
    EXPECT_EQ(getDocFiles("/tmp/tree"), blocks("tree") + blocks("tree/sub") + blocks("tree/one") +
                                            blocks("tree/sub/big") + blocks("tree/link") +
                                            blocks("tree/loop"));
    EXPECT_EQ(fileCntG, 5);

    // Listed files count once a line, folders never.
    const unsigned wav = blocks("m/ABC.wav"), abc = wav + blocks("m/abc.txt");
    for (auto [list, audioOnly, total] :
         {std::tuple{"abcd\n", 1, wav}, {"abcd\n", 0, abc}, {"ABC.wavx\r\nABC.\n", 1, 2 * wav}})
        EXPECT_EQ(sim::writeFile("/filelist", list) ? duwav("/tmp/m", audioOnly) : ~0u, total)
            << list;
}
