// Mounting and unmounting at the slots' mount points, judged by the mount table.
#pragma once
#include <string>
#include <string_view>

int isUsbMounted(int slot);
// isUsbMounted for a stick that is normally mounted already (the checks between
// folders and files of a copy): when the kernel's mount table shows the mount
// point, 1 at once, without a shell listing; otherwise isUsbMounted itself.
int isUsbStillMounted(int slot);
// The event log's lines of isUsbStillMounted finding the stick mounted.
void logStillMounted(int slot);
int umountUsb(int slot);
// umountUsb for a student the watchdog gave up on, which may not answer: returns once
// the mount point is free, leaving the kernel's last write to the stick to finish
// on its own.
int detachUsb(int slot);

// The slot's mount point: /tmp/tamvikma1 for the master (slot 0 and below),
// /tmp/tamvikel{slot} for a student.
std::string mountPointOf(int slot);
// A line of the mount listing shows the mount point only as a whole path, with a
// blank or the line's end on either side: /tmp/tamvikel1 must not match a line
// of /tmp/tamvikel12.
bool pieceShowsMountPoint(std::string_view piece, std::string_view mountPoint);
