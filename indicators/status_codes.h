// Per-slot stick status codes in the shared status words, and the presence refresh.
#pragma once

void changeLedStatus(int slot, int code);
void checkLedStatus();
