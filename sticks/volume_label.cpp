// Reading a stick's label undecoded and writing one byte for byte into a volume
// mkfs.vfat has just made.
#include "sticks/volume_label.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>

#include "sticks/format.h"
#include "supervisor/base/file_handles.h"
#include "supervisor/base/shell_runner.h"

namespace {

constexpr size_t kLabelBytes = 11;
constexpr size_t kSector = 512;
constexpr size_t kEntry = 32;
constexpr uint8_t kVolumeEntry = 0x08;
constexpr const char* kRawLabelScratch = "/tmp/partLabelRaw";

using Label = std::array<char, kLabelBytes>;

uint32_t le16(const unsigned char* at) { return at[0] | at[1] << 8; }
uint32_t le32(const unsigned char* at) { return le16(at) | le16(at + 2) << 16; }

Label padded(const std::string& text) {
    Label label;
    label.fill(' ');
    memcpy(label.data(), text.data(), std::min(text.size(), kLabelBytes));
    return label;
}

bool holds(int fd, off_t offset, const Label& expected) {
    Label seen;
    const ssize_t got = pread(fd, seen.data(), seen.size(), offset);
    return got == static_cast<ssize_t>(seen.size()) && seen == expected;
}

bool put(int fd, off_t offset, const Label& label) {
    return pwrite(fd, label.data(), label.size(), offset) == static_cast<ssize_t>(label.size());
}

// Where the volume keeps its label: the boot sector's field, the FAT32 backup
// boot sector's (0 when none) and the root folder's first entry.
struct Places {
    off_t boot = 0, backup = 0, entry = 0;
};

bool findPlaces(const unsigned char* boot, Places& places) {
    const uint32_t bytes = le16(boot + 11), perCluster = boot[13], reserved = le16(boot + 14);
    const uint32_t fats = boot[16], fat16 = le16(boot + 22), fat32 = le32(boot + 36);
    if (bytes < kSector || bytes % kSector != 0 || perCluster == 0 || fats == 0) return false;
    const bool isFat32 = fat16 == 0;
    const uint64_t fatEnd = (reserved + uint64_t{fats} * (isFat32 ? fat32 : fat16)) * bytes;
    const uint32_t rootCluster = isFat32 ? le32(boot + 44) : 2;
    if (rootCluster < 2) return false;
    places.boot = isFat32 ? 71 : 43;
    places.backup = isFat32 && le16(boot + 50) != 0 ? le16(boot + 50) * bytes + 71 : 0;
    places.entry = static_cast<off_t>(fatEnd + (rootCluster - 2) * uint64_t{perCluster} * bytes);
    return true;
}

}   // namespace

std::string rawPartitionLabel(int slot, int partIndex) {
    const std::string node = studentNode(slot, partIndex);
    // -d: the bytes as they are, not blkid's M- and ^ notation; no cache, which may
    // still hold the label of before.
    (void)to_system("blkid -c /dev/null -d -s LABEL -o value " + node + " > " + kRawLabelScratch);
    std::ifstream scratch(kRawLabelScratch, std::ios::binary);
    std::string label(std::istreambuf_iterator<char>(scratch), {});
    if (!label.empty() && label.back() == '\n') label.pop_back();
    printf("LABEL: %s\n\n", label.c_str());
    return label.size() <= kLabelBytes ? label : "";
}

bool formatterTakesLabel(const std::string& label) {
    // mkfs.vfat refuses these, and a label beginning with a space, and formats nothing.
    constexpr std::string_view kRefused = "*?.,;:/\\|+=<>[]\"";
    if (!label.empty() && label[0] == ' ') return false;
    for (unsigned char c : label)
        if (c < 0x20 || c > 0x7e || kRefused.find(static_cast<char>(c)) != kRefused.npos)
            return false;
    return true;
}

bool writeVolumeLabel(const std::string& node, const std::string& label) {
    if (label.size() > kLabelBytes) return false;
    Fd device{open(node.c_str(), O_RDWR | O_CLOEXEC)};
    unsigned char boot[kSector];
    if (device.fd < 0) return false;
    if (pread(device.fd, boot, sizeof boot, 0) != static_cast<ssize_t>(sizeof boot)) return false;
    Places places;
    if (!findPlaces(boot, places)) return false;
    const Label marker = padded(kLabelPlaceholder), wanted = padded(label);
    unsigned char entry[kEntry];
    if (pread(device.fd, entry, sizeof entry, places.entry) != static_cast<ssize_t>(sizeof entry))
        return false;
    if (entry[11] != kVolumeEntry || !holds(device.fd, places.entry, marker)) return false;
    if (!holds(device.fd, places.boot, marker)) return false;
    if (places.backup != 0 && !holds(device.fd, places.backup, marker)) return false;
    bool written = put(device.fd, places.boot, wanted) && put(device.fd, places.entry, wanted);
    if (places.backup != 0) written = put(device.fd, places.backup, wanted) && written;
    return fsync(device.fd) == 0 && written;
}
