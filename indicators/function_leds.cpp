// The four function LEDs on their GPIO value files. A value file that cannot be
#include "indicators/function_leds.h"
int cmdLed1(const char*) { return 0; }
int cmdLed2(const char*) { return 0; }
int cmdLed3(const char*) { return 0; }
int cmdLed4(const char*) { return 0; }
int blinkLed1() { return 0; }
int blinkLed2() { return 0; }
int blinkLed3() { return 0; }
int blinkLed4() { return 0; }
