// A FAT volume's label, kept byte for byte across a format. mkfs.vfat takes only
// printable ASCII for a label, and refuses some of that (a dot, a plus, a leading
// space); a stick may carry any bytes in it (an accent in the DOS code page, a
// control byte, a label made by another system), and clearing the stick must not
// change them.
#pragma once
#include <string>

// The label as the volume holds it: no decoding, no escapes ("" when none).
std::string rawPartitionLabel(int slot, int partIndex);
// True when mkfs.vfat can be given the label as it is.
bool formatterTakesLabel(const std::string& label);
// What mkfs.vfat is given instead of a label it cannot take; writeVolumeLabel
// then finds it in the new volume and puts the real bytes in its place.
constexpr const char* kLabelPlaceholder = "LABELMARKER";
// Overwrites the placeholder label of a volume mkfs.vfat just made on node with
// label (at most 11 bytes): in the boot sector, its FAT32 backup and the root
// folder's volume entry. False, with nothing written, when the volume does not
// hold the placeholder where a FAT volume keeps its label.
bool writeVolumeLabel(const std::string& node, const std::string& label);
