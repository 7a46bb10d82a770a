// resetDuplicator: removes the job files that exist, in job order, and shows the
// ready pattern; with none present it only shows the pattern.
#include "supervisor/operation_runner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "indicators/function_leds.h"
#include "supervisor/globals.h"
#include "tests/support/appliance.h"

namespace {

size_t eventAt(const std::string& log, const std::string& text) {
    return log.find(" = to_system " + text + "\n");
}

TEST(OperationRunner, ResetRemovesExistingJobFilesInOrder) {
    processId = 0;
    (void)unlink("/tmp/logM.txt");
    cmdLed4("1");
    EXPECT_EQ(resetDuplicator(), 0);
    EXPECT_EQ(sim::functionLeds(), "0011");
    EXPECT_EQ(sim::readFile("/tmp/logM.txt"), "");    // no command for absent files

    for (const char* job : {"6", "2", "4"}) ASSERT_TRUE(sim::touch(std::string("/tmp/bt") + job + ".cmd"));
    cmdLed4("1");
    EXPECT_EQ(resetDuplicator(), 0);
    EXPECT_EQ(sim::functionLeds(), "0011");
    EXPECT_NE(access("/tmp/bt2.cmd", F_OK), 0);
    EXPECT_NE(access("/tmp/bt6.cmd", F_OK), 0);
    EXPECT_EQ(access("/tmp/bt4.cmd", F_OK), 0);       // the cancel request is the job's to drop
    const std::string log = sim::readFile("/tmp/logM.txt");
    EXPECT_LT(eventAt(log, "rm /tmp/bt2.cmd"), eventAt(log, "rm /tmp/bt6.cmd"));
    EXPECT_NE(eventAt(log, "rm /tmp/bt6.cmd"), std::string::npos);
    EXPECT_EQ(log.find("bt1.cmd"), std::string::npos);
}

}  // namespace
