// The LED process: stick LEDs (gpio71 and the I2C expander) and result patterns.
#include "indicators/led_board.h"
#include <unistd.h>
#include "supervisor/process_frame.h"
void mainhubctrl() { attachSegment(); for (;;) pause(); }
void tmpToReal() {}
void optiswitchled() {}
