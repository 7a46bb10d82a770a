// Function LEDs on the GPIO value files, the three patterns, and the fatal path
// when a value file is missing.
#include "indicators/function_leds.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "supervisor/process_frame.h"
#include "tests/support/appliance.h"

namespace {

void writeValue(int gpio, const char* text) {
    const std::string path = "/sys/class/gpio/gpio" + std::to_string(gpio) + "/value";
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr) << path;
    fputs(text, f);
    fclose(f);
}

TEST(FunctionLeds, SetAndToggle) {
    cmdLed1("1");
    cmdLed2("0");
    cmdLed3("1");
    cmdLed4("0");
    EXPECT_EQ(sim::functionLeds(), "0101");
    blinkLed2();
    EXPECT_EQ(sim::gpioValue(sim::kLed2), "1");
    blinkLed2();
    EXPECT_EQ(sim::gpioValue(sim::kLed2), "0");
    writeValue(sim::kLed4, "1\n");                   // as sysfs shows a lit line
    blinkLed4();
    EXPECT_EQ(sim::gpioValue(sim::kLed4), "0");
    writeValue(sim::kLed1, "x");                     // anything but a leading 0 is lit
    blinkLed1();
    EXPECT_EQ(sim::gpioValue(sim::kLed1), "0");
    blinkLed3();
    EXPECT_EQ(sim::gpioValue(sim::kLed3), "0");
}

TEST(FunctionLeds, Patterns) {
    showErrorPattern();
    EXPECT_EQ(sim::functionLeds(), "1111");
    showBusyPattern();
    EXPECT_EQ(sim::functionLeds(), "0000");
    showReadyPattern();
    EXPECT_EQ(sim::functionLeds(), "0011");
}

// The message goes to standard output (the console log); the death test reads
// standard error, so the child points one at the other first.
TEST(FunctionLeds, MissingValueFileEndsTheCallingProcess) {
    sim::removeGpio(sim::kLed3);
    EXPECT_EXIT((dup2(2, 1), cmdLed3("1")), testing::ExitedWithCode(1), "value led 3 error\\.");
    EXPECT_EXIT((dup2(2, 1), blinkLed3()), testing::ExitedWithCode(1),
                "Cannot open value file gpio14\\.");
    writeValue(sim::kLed3, "0\n");
    sim::removeGpio(sim::kLed1);
    EXPECT_EXIT((dup2(2, 1), showReadyPattern()), testing::ExitedWithCode(1), "value led 1 error\\.");
    EXPECT_EXIT((dup2(2, 1), blinkLed1()), testing::ExitedWithCode(1),
                "Cannot open value file gpio68\\.");
    // The other lines still work in this process.
    cmdLed2("1");
    EXPECT_EQ(sim::gpioValue(sim::kLed2), "1");
    writeValue(sim::kLed1, "0\n");                   // the board again, for later tests
}

}  // namespace
