// Per-slot stick status codes in the shared status words, and the presence refresh.
#pragma once

void changeLedStatus(int slot, int code);
// The slots' nodes are tested again only when they may have moved since the last
// refresh; the status words are written in every case.
void checkLedStatus(bool nodesMayHaveMoved = true);
