// Device nodes of the slots, presence, partition choice and volume label.
#include "sticks/detection.h"
int selectPart(int) { return -1; }
int isUsbDetected(int) { return -1; }
void getPartitionLabel(int, int, char*, size_t) {}
