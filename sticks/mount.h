// Mounting and unmounting at the slots' mount points, judged by the mount table.
#pragma once

int isUsbMounted(int slot);
int umountUsb(int slot);
