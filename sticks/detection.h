// Device nodes of the slots, presence, partition choice and volume label.
#pragma once
#include <cstddef>

int selectPart(int slot);
int isUsbDetected(int slot);
// Appends the student's volume label to the text in label, never writing more
// than labelSize bytes (terminator included).
void getPartitionLabel(int slot, int partIndex, char* label, size_t labelSize);
