// The self-update, started by the distribute button with the master stick alone:
// a real tar archive whose script leaves a trace, an older archive, no archive,
// and archive names that would run commands if the shell were allowed to read them.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

#include "tests/support/appliance.h"

namespace {

using namespace std::chrono_literals;

constexpr int kDistribute = 6;
constexpr auto kLong = 120s;
constexpr const char* kTrace = "/tmp/update-trace";
constexpr const char* kVersionFile = "/dazuzorizizar";

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool writeFile(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "w");
    if (!f) return false;
    fputs(text.c_str(), f);
    return fclose(f) == 0;
}

// A tar archive holding an executable update script that appends `line` to the trace.
std::string updateArchive(const std::string& line) {
    (void)mkdir("/tmp/pkg", 0755);
    EXPECT_TRUE(writeFile("/tmp/pkg/ruzedirevora.sh", "#!/bin/sh\necho " + line + " >> " + kTrace + "\n"));
    EXPECT_EQ(chmod("/tmp/pkg/ruzedirevora.sh", 0755), 0);
    EXPECT_EQ(system("tar -cf /tmp/pkg.tar -C /tmp/pkg ruzedirevora.sh"), 0);
    return sim::readFile("/tmp/pkg.tar");
}

// A new master stick, alone in the appliance, holding one file at its root. The
// daemon's own mount of the previous master is released first.
void freshMaster(const std::string& name, const std::string& content) {
    static bool plugged = false;
    (void)system("umount /tmp/tamvikma1 2>/dev/null");
    if (plugged) sim::pullStick(0);
    plugged = true;
    sim::StickSpec stick;
    stick.sizeKiB = 16 * 1024;
    ASSERT_TRUE(sim::plugStick(0, stick));
    ASSERT_TRUE(sim::putFile(0, name, content)) << name;
    ASSERT_TRUE(sim::waitFor([] { return sim::word(0) == 2; }, kLong));
}

// One press: the attention signal lights all four LEDs, and the update ends with
// the ready pattern, after a reboot request or without one.
void pressForUpdate() {
    sim::pressButton(kDistribute);
    EXPECT_TRUE(sim::waitFor([] { return sim::functionLeds() == "1111"; }, kLong));
    sim::releaseButton(kDistribute);
    // The four LEDs are written one after the other: a read in the middle of the
    // signal's step from all lit to all dark shows "0011" for an instant. The
    // ready pattern at the end is the one that stays.
    EXPECT_TRUE(sim::waitFor([] {
        if (sim::functionLeds() != "0011") return false;
        std::this_thread::sleep_for(300ms);
        return sim::functionLeds() == "0011";
    }, kLong));
}

class SelfUpdate : public testing::Test {
protected:
    static void SetUpTestSuite() { sim::startDaemon(); }
    static void TearDownTestSuite() { sim::stopDaemon(); }
};

TEST_F(SelfUpdate, NoArchiveChangesNothing) {
    freshMaster("notes.txt", "no update here\n");
    pressForUpdate();
    EXPECT_FALSE(exists(kTrace));
    EXPECT_FALSE(exists(kVersionFile));
    EXPECT_EQ(sim::shimCalls("reboot"), 0);
}

TEST_F(SelfUpdate, ArchiveIsUnpackedItsScriptRunAndVersionRecorded) {
    freshMaster("dododirezeva_0012.tar", updateArchive("v12"));
    pressForUpdate();
    EXPECT_EQ(sim::readFile(kTrace), "v12\n");
    EXPECT_EQ(sim::readFile(kVersionFile), "0012\n");
    EXPECT_EQ(sim::shimCalls("reboot"), 1);
    EXPECT_EQ(sim::readFile("/proc/mounts").find("/tmp/tamvikma1"), std::string::npos);

    freshMaster("dododirezeva_5.tar", updateArchive("v5"));    // older: ignored
    pressForUpdate();
    EXPECT_EQ(sim::readFile(kTrace), "v12\n");
    EXPECT_EQ(sim::readFile(kVersionFile), "0012\n");
    EXPECT_EQ(sim::shimCalls("reboot"), 1);
}

// The archive without its script is a failed update: no version, no reboot.
TEST_F(SelfUpdate, ArchiveWithoutScriptIsNotRecorded) {
    ASSERT_TRUE(writeFile("/tmp/readme", "nothing to run\n"));
    ASSERT_EQ(system("tar -cf /tmp/empty.tar -C /tmp readme"), 0);
    freshMaster("dododirezeva_20.tar", sim::readFile("/tmp/empty.tar"));
    pressForUpdate();
    EXPECT_EQ(sim::readFile(kVersionFile), "0012\n");
    EXPECT_EQ(sim::shimCalls("reboot"), 1);
}

// Names a FAT stick can carry ( " * / : < > ? \ | it cannot) reach tar and the
// version file literally: the commands inside them never run.
TEST_F(SelfUpdate, HostileArchiveNamesRunNothingButTar) {
    const std::string names[] = {"dododirezeva_13;touch pwned1;.tar", "dododirezeva_14$(touch pwned2).tar",
                                 "dododirezeva_15`touch pwned3`.tar", "dododirezeva_16' && touch pwned4 '.tar",
                                 "dododirezeva_17 & touch pwned5 #.tar"};
    int reboots = sim::shimCalls("reboot");
    std::string trace = sim::readFile(kTrace);
    for (const std::string& name : names) {
        const std::string version = name.substr(13, name.size() - 17);
        const std::string line = "v" + name.substr(13, 2);
        freshMaster(name, updateArchive(line));
        pressForUpdate();
        trace += line + "\n";
        EXPECT_EQ(sim::readFile(kTrace), trace) << name;
        EXPECT_EQ(sim::readFile(kVersionFile), version + "\n") << name;
        EXPECT_EQ(sim::shimCalls("reboot"), ++reboots) << name;
    }
    for (const char* trap : {"pwned1", "pwned2", "pwned3", "pwned4", "pwned5"}) {
        EXPECT_FALSE(exists(std::string("/") + trap)) << trap;
        EXPECT_FALSE(exists(std::string("/tmp/update/") + trap)) << trap;
    }
    // What the file system refuses never reaches the daemon.
    EXPECT_NONFATAL_FAILURE(sim::putFile(0, "dododirezeva_18|reboot.tar", "x"), "cannot write");
}

}  // namespace
