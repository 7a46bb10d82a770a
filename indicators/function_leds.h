// The four function LEDs on their GPIO value files, and the patterns shown on them.
// A value file that cannot be opened ends the calling process with status 1.
#pragma once

int cmdLed1(const char* value);
int cmdLed2(const char* value);
int cmdLed3(const char* value);
int cmdLed4(const char* value);
int blinkLed1();
int blinkLed2();
int blinkLed3();
int blinkLed4();
// The function-LED patterns, written in the order LED4, LED3, LED2, LED1.
void showReadyPattern();
void showBusyPattern();
void showErrorPattern();
