// The simulated appliance on this machine's kernel: the sandbox's own files, shims
// and shared memory, as the daemon's HOST unit tests rely on them.
#include "tests/support/appliance.h"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>

using namespace std::chrono_literals;

TEST(ApplianceHost, SandboxFilesShimsAndSegmentAreItsOwn) {
    // Buttons released, every LED dark, nothing left from an earlier run.
    for (int gpio : {sim::kButtonDistribute, sim::kButtonCollect, sim::kButtonClear, sim::kButtonShift})
        EXPECT_EQ(sim::gpioValue(gpio), "1") << "gpio" << gpio;
    EXPECT_EQ(sim::functionLeds(), "0000");
    EXPECT_EQ(sim::gpioValue(sim::kMasterLed), "0");
    EXPECT_EQ(sim::readFile("/sim/mode"), "host\n");
    EXPECT_FALSE(sim::readFile("/proc/self/mountinfo").empty());
    EXPECT_EQ(sim::readFile("/tmp/log.txt"), "");
    EXPECT_EQ(access("/dazuzorizizar", F_OK), -1);
    EXPECT_EQ(access("/replist", F_OK), 0);

    sim::pressButton(sim::kButtonCollect);
    EXPECT_EQ(sim::gpioValue(sim::kButtonCollect), "0");
    sim::releaseButton(sim::kButtonCollect);
    EXPECT_EQ(sim::readFile("/sys/class/gpio/gpio6/value"), "1\n");

    // The appliance's own writable places; the host's /usr stays untouched.
    EXPECT_TRUE(sim::touch("/bin/dev.cmd"));
    EXPECT_EQ(unlink("/bin/dev.cmd"), 0);   // the daemon's console must be redirected later on
    EXPECT_TRUE(sim::touch("/tmp/bt1.cmd"));
    EXPECT_TRUE(sim::touch("/dev/tmvl3-part3"));
    EXPECT_NE(system("touch /usr/stickdup-probe 2>/dev/null"), 0);

    // Shims stand in for the board: found by PATH as the daemon's shell finds them.
    ASSERT_EQ(system("i2cset -y -f 0 0x27 0xfe 0x7f && reboot && sh /etc/init.d/tamvik_shutdown.sh"), 0);
    auto bytes = sim::boardBytes();
    ASSERT_EQ(bytes.size(), 1u);
    EXPECT_EQ(bytes[0], std::make_pair(0xfe, 0x7f));
    EXPECT_EQ(sim::shimCalls("reboot"), 1);
    EXPECT_EQ(sim::shimCalls("shutdown"), 1);

    // A segment of the sandbox's own: words start at zero and a child sees ours.
    EXPECT_EQ(sim::word(3), 0);
    sim::setWord(3, -5);
    EXPECT_EQ(system("ipcs -m | grep -q 0x0001e306"), 0);
    EXPECT_EQ(sim::word(3), -5);
}

TEST(ApplianceHost, DaemonStartsAtRootAndStopsWithItsFamily) {
    pid_t pid = sim::startDaemon();
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(sim::waitFor([] { return sim::consoleLog().find("ouverture du fichier log") != std::string::npos; }, 20s))
        << sim::consoleLog();
    EXPECT_TRUE(sim::daemonRunning());
    sim::stopDaemon();
    EXPECT_FALSE(sim::daemonRunning());
    EXPECT_NE(kill(-pid, 0), 0);   // no process of its group is left
}

TEST(ApplianceHost, HelpersFailLoudly) {
    // A helper that cannot do its work must fail the test, never pass it quietly.
    EXPECT_NONFATAL_FAILURE(sim::plugStick(1), "KERNEL test");
    EXPECT_NONFATAL_FAILURE(sim::plugStick(17), "slot 17");
    EXPECT_NONFATAL_FAILURE((void)sim::word(109), "outside the segment");
    sim::removeGpio(sim::kLed3);
    EXPECT_EQ(sim::functionLeds(), "0?00");
    EXPECT_NONFATAL_FAILURE(sim::pressButton(sim::kLed3), "gpio14");
}
