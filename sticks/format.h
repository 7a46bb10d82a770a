// Formatting a student stick, or emptying it where its size is not formatted.
#pragma once
#include <cstdint>
#include <string>

// 1 when the stick was formatted or emptied, -1 when it was not: mkfs.vfat left
// the volume serial as it was, or the content could not be deleted.
int formatUSB(int slot, int fn, const char* label);
void remove_directory3(const std::string& path);
// Writes out what a delete changed on the stick mounted at root: false when the stick
// refuses it, so such a stick is never reported as emptied.
bool flushedToStick(const std::string& root);

// A student stick's node: partIndex 0 the whole device ("/dev/tmvl3-part"), else that partition.
std::string studentNode(int slot, int partIndex);
// FAT width for a measured stick size in KiB: 16 or 32, or -1 where the stick is
// emptied instead of formatted.
int fatSizeForStick(uint32_t sizeKiB);
// FAT width for the second try after the formatter's size complaint: the ranges
// that are emptied no longer apply.
int fatSizeForRetry(uint32_t sizeKiB);
// The formatter's command line for the node of partIndex (0: the whole device).
// Whole-stick mode (fn not 0) sets no label and always passes -I. The label
// reaches mkfs.vfat as one literal word.
std::string mkfsCommand(int slot, int fn, const char* label, int partIndex, int fatSize);
// The value of KEY="value" on a blkid output line ("" when the key is absent);
// backslash escapes inside the value are undone.
std::string blkidValue(const std::string& line, const std::string& key);
