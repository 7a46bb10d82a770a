// The LED process: stick LEDs (gpio71 and the I2C expander) and result patterns.
#pragma once

[[noreturn]] void mainhubctrl();
void tmpToReal();
void optiswitchled();
