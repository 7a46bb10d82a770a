// The four function LEDs on their GPIO value files. A value file that cannot be
// opened ends the calling process with status 1. Every process calls these; the
// LED's state is the GPIO line's value itself, so the last write wins.
#include "indicators/function_leds.h"

#include <cstdio>
#include <cstdlib>

namespace {

struct LedLine {
    int number;
    const char* valueFile;
    const char* gpioName;
};

constexpr LedLine kLed[] = {
    {1, "/sys/class/gpio/gpio68/value", "gpio68"},
    {2, "/sys/class/gpio/gpio110/value", "gpio110"},
    {3, "/sys/class/gpio/gpio14/value", "gpio14"},
    {4, "/sys/class/gpio/gpio13/value", "gpio13"},
};

int writeLed_or_exit(const LedLine& led, const char* value) {
    FILE* f = fopen(led.valueFile, "r+");   // sysfs value files are never truncated
    if (!f) {
        printf("value led %d error.\n", led.number);
        exit(1);
    }
    rewind(f);
    fputs(value, f);
    return fclose(f);
}

int toggleLed_or_exit(const LedLine& led) {
    FILE* f = fopen(led.valueFile, "r");
    if (!f) {
        printf("Cannot open value file %s.\n", led.gpioName);
        exit(1);
    }
    char value[5] = {};
    (void)!fread(value, 1, 4, f);
    fclose(f);
    // Anything but a leading "0" counts as lit. Another process may write between
    // our read and our write; the last write wins, as for every LED write.
    return writeLed_or_exit(led, value[0] == '0' ? "1" : "0");
}

void writePattern(const char* led4, const char* led3, const char* led2, const char* led1) {
    cmdLed4(led4);
    cmdLed3(led3);
    cmdLed2(led2);
    cmdLed1(led1);
}

}   // namespace

int cmdLed1(const char* value) { return writeLed_or_exit(kLed[0], value); }
int cmdLed2(const char* value) { return writeLed_or_exit(kLed[1], value); }
int cmdLed3(const char* value) { return writeLed_or_exit(kLed[2], value); }
int cmdLed4(const char* value) { return writeLed_or_exit(kLed[3], value); }
int blinkLed1() { return toggleLed_or_exit(kLed[0]); }
int blinkLed2() { return toggleLed_or_exit(kLed[1]); }
int blinkLed3() { return toggleLed_or_exit(kLed[2]); }
int blinkLed4() { return toggleLed_or_exit(kLed[3]); }

void showReadyPattern() { writePattern("0", "0", "1", "1"); }
void showBusyPattern() { writePattern("0", "0", "0", "0"); }
void showErrorPattern() { writePattern("1", "1", "1", "1"); }
