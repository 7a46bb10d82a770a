// Per-slot stick status codes in the shared status words, and the presence refresh.
#include "indicators/status_codes.h"
void changeLedStatus(int, int) {}
void checkLedStatus() {}
