// Device nodes of the slots, presence, partition choice and volume label.
#pragma once
#include <cstddef>
#include <string>

int selectPart(int slot);
int isUsbDetected(int slot);
// True when the node of the slot's chosen partition is not there (the stick went).
bool nodeGone(int slot);
// Where the kernel keeps the count of commands the slot's stick has answered with
// an error since it was plugged; empty when the stick is not there.
std::string ioErrorCounter(int slot);
// A look at a stick bracketed by its error count. The file system hides some read
// errors: a folder block it cannot read ends a listing quietly, and an entry it
// cannot read answers "no such file". Only the count shows them.
struct ErrorWatch {
    explicit ErrorWatch(const std::string& counter);
    // True when the stick answered a command with an error since the watch began, or
    // its count can no longer be read (it went).
    bool errorsSince() const;

    std::string counter;
    long before;
};
// Makes the folder on the slot's mounted stick where it is absent, in a few tries (a stick
// slow to settle after its mount usually takes it at the next): 0 when it is there, -1 when
// it cannot be made, kFolderUnreadable when the stick answered an error while looked at. An
// entry it could not read looks absent, and a folder made then would stand beside the real
// one and hide it: nothing is made.
constexpr int kFolderUnreadable = -2;
int ensureFolder(int slot, const std::string& path);
// Where the kernel counts the sectors written to the slot's stick; empty when the
// stick is not there.
std::string writeCounter(int slot);
// The count kept at that place; -1 when it cannot be read (the stick went).
long sectorsWritten(const std::string& counter);
// The console lines isUsbDetected prints for the slot.
std::string detectionLines(int slot);
// Appends the student's volume label to the text in label, never writing more
// than labelSize bytes (terminator included).
void getPartitionLabel(int slot, int partIndex, char* label, size_t labelSize);
// The label part of getPartitionLabel: appends the text between the quotes after
// the first "LABEL=" of one blkid line to label, blkid's \" and \\ escapes undone,
// cut to fit labelSize bytes. Nothing is appended for a missing key, an empty
// label or a missing closing quote.
void appendBlkidLabel(const char* line, char* label, size_t labelSize);
