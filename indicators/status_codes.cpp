// Per-slot stick status codes in the shared status words, and the presence
// refresh run by the operation process between jobs.
#include "indicators/status_codes.h"

#include "sticks/detection.h"
#include "supervisor/base/globals.h"

void changeLedStatus(int slot, int code) {
    sticks[slot] = code;
    // One aligned 32-bit store: readers only sample the latest value, no lock.
    ptr_mem_partagee[slot] = code;
}

void checkLedStatus(bool nodesMayHaveMoved) {
    for (int slot = 0; slot < kSlots; ++slot) {
        if (nodesMayHaveMoved) sticksPartition[slot] = selectPart(slot);
        changeLedStatus(slot, sticksPartition[slot] < 0 ? 0 : 2);
    }
}
