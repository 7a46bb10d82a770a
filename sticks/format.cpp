// Formatting a student stick, or emptying it where its size is not formatted.
// Runs inside a clear worker (or the format worker of a whole-stick distribute)
// whose parent stops it when the countdown in word 17 runs out.
#include "sticks/format.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "sticks/capacity_probe.h"
#include "sticks/mount.h"
#include "sticks/space.h"
#include "sticks/volume_label.h"
#include "supervisor/base/file_handles.h"
#include "supervisor/base/file_helpers.h"
#include "supervisor/base/globals.h"
#include "supervisor/base/shell_runner.h"
#include "supervisor/base/text_utils.h"

namespace {

constexpr int kFirstStudent = 1;
constexpr int kLastStudent = 16;
constexpr int kFormatterTooLarge = -2;        // to_system's verdict on the size message
constexpr uint32_t kFat16LimitKiB = 268434;   // largest size still given FAT16
constexpr uint32_t kSmallLimitKiB = 89999;    // up to here the stick is emptied
constexpr uint32_t kGapLowKiB = 190000;       // above this and up to kGapHighKiB as well
constexpr uint32_t kGapHighKiB = 217999;
constexpr int32_t kClearCountdown = 240;   // seconds the bulk delete may take
constexpr int kEventProcess = 1;           // clear events go to the operation log
constexpr const char* kSerialScratch = "/tmp/partSerial";

// The node mkfs.vfat is given, as a partition index. Whole-stick mode takes the
// whole device; a stick that has no node for it (its device manager named only
// its partition) is formatted through the partition in use rather than not at all.
int formattedIndex(int slot, int fn) {
    if (fn != 0 && fileexist(studentNode(slot, 0)) == 0) return 0;
    return sticksPartition[slot];
}

// Mounts the stick, reads its size and releases it again. False when the stick
// could not be mounted, so nothing is known about its size.
bool measureStick(int slot, uint32_t& sizeKiB) {
    if (isUsbMounted(slot) == -1) return false;
    const std::string mountPoint = mountPointOf(slot);
    sizeKiB = 0;
    struct statfs fs {};
    if (statfs(mountPoint.c_str(), &fs) != 0) {
        printf(" error opening %s\n", mountPoint.c_str());
    } else if (fs.f_blocks != 0 && fs.f_bsize > 0) {
        sizeKiB = kscale(static_cast<uint32_t>(fs.f_blocks), static_cast<uint32_t>(fs.f_bsize));
    }
    (void)umountUsb(slot);
    return true;
}

// The volume serial as the device shows it now. blkid's cache is bypassed: it
// may trust an entry for minutes and would still show the serial of before.
std::string volumeSerial(const std::string& node) {
    (void)to_system("blkid -c /dev/null " + node + " > " + kSerialScratch);
    std::ifstream scratch(kSerialScratch);
    std::string line;
    if (!std::getline(scratch, line)) return "";
    return blkidValue(line, "UUID");
}

// Anything the bulk delete should have taken that is still listed at the root.
bool visibleEntryLeft(const std::string& root) {
    DIR* dir = opendir(root.c_str());
    if (!dir) return true;
    bool left = false;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') left = true;
    }
    (void)closedir(dir);
    return left;
}

// Sizes that are not formatted are emptied instead; hidden entries at the root
// stay. -1 when the stick cannot be mounted or keeps content.
int clearContent(int slot) {
    if (isUsbMounted(slot) == -1) {
        (void)umountUsb(slot);
        printf("formatUSB: stick %d cannot be mounted, nothing deleted\n", slot);
        return -1;
    }
    const std::string root = mountPointOf(slot) + "/";
    logEvt("remove_directory " + root, kEventProcess, slot);
    remove_directory3(root);
    const bool cleared = !visibleEntryLeft(root) && flushedToStick(root);
    (void)umountUsb(slot);
    if (!cleared) {
        printf("formatUSB: stick %d not emptied\n", slot);
        return -1;
    }
    return 1;
}

int runFormatter(int slot, int fn, const char* label, int fatSize) {
    if (fn == 0 && (label == nullptr || label[0] == '\0')) printf("usbLabel == NULL\n");
    return to_system(mkfsCommand(slot, fn, label, formattedIndex(slot, fn), fatSize));
}

}   // namespace

std::string studentNode(int slot, int partIndex) {
    const std::string node = "/dev/tmvl" + std::to_string(slot) + "-part";
    return partIndex != 0 ? node + std::to_string(partIndex) : node;
}

int fatSizeForStick(uint32_t sizeKiB) {
    if (sizeKiB <= kSmallLimitKiB) return -1;   // 0 included: the size is unknown
    if (sizeKiB > kGapLowKiB && sizeKiB <= kGapHighKiB) return -1;
    return sizeKiB <= kFat16LimitKiB ? 16 : 32;
}

int fatSizeForRetry(uint32_t sizeKiB) {
    return sizeKiB != 0 && sizeKiB <= kFat16LimitKiB ? 16 : 32;
}

std::string mkfsCommand(int slot, int fn, const char* label, int partIndex, int fatSize) {
    const std::string width = " -F " + std::to_string(fatSize);
    if (fn != 0) return "mkfs.vfat " + studentNode(slot, partIndex) + " -I" + width;
    const std::string node = studentNode(slot, partIndex);
    const std::string whole = partIndex == 0 ? " -I" : "";
    if (label == nullptr || label[0] == '\0') return "mkfs.vfat " + node + whole + width;
    return "mkfs.vfat " + node + whole + " -n " + shellQuote(label) + width;
}

std::string blkidValue(const std::string& line, const std::string& key) {
    size_t at = line.find(": ");
    if (at == std::string::npos) return "";
    at += 2;
    while (at < line.size()) {
        const size_t equals = line.find("=\"", at);
        if (equals == std::string::npos) return "";
        const std::string name = line.substr(at, equals - at);
        std::string value;
        size_t i = equals + 2;
        for (; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) ++i;
            value += line[i];
        }
        if (name == key) return value;
        at = line.find_first_not_of(' ', i + 1);
        if (at == std::string::npos) return "";
    }
    return "";
}

int formatUSB(int slot, int fn, const char* label) {
    if (slot < kFirstStudent || slot > kLastStudent) {
        printf("formatUSB: %d is not a student slot\n", slot);
        return -1;
    }
    int fatSize = 32;   // a stick that cannot be measured is formatted FAT32
    uint32_t sizeKiB = 0;
    if (measureStick(slot, sizeKiB)) fatSize = fatSizeForStick(sizeKiB);
    if (fatSize == -1) return clearContent(slot);

    // mkfs.vfat writes a new volume serial, so an unchanged serial afterwards
    // means the stick was not formatted, whatever the formatter printed.
    const std::string node = studentNode(slot, formattedIndex(slot, fn));
    // A counterfeit stick would take the new file system and lose what goes past
    // its real size: it fails here, left as it was.
    if (!capacityHolds(slot, node)) return -1;
    const std::string serialBefore = volumeSerial(node);
    // A label mkfs.vfat cannot take is written into the new volume afterwards.
    const bool labelByHand = fn == 0 && label != nullptr && !formatterTakesLabel(label);
    const char* given = labelByHand ? kLabelPlaceholder : label;
    if (runFormatter(slot, fn, given, fatSize) == kFormatterTooLarge) {
        fatSize = 32;
        if (measureStick(slot, sizeKiB)) fatSize = fatSizeForRetry(sizeKiB);
        (void)runFormatter(slot, fn, given, fatSize);
    }
    const std::string serialAfter = volumeSerial(node);
    if (serialAfter.empty() || serialAfter == serialBefore) {
        printf("formatUSB: %s was not formatted\n", node.c_str());
        return -1;
    }
    if (labelByHand && !writeVolumeLabel(node, label)) {
        printf("formatUSB: %s was formatted but its label could not be kept\n", node.c_str());
        return -1;
    }
    return 1;
}

void remove_directory3(const std::string& path) {
    if (ptr_mem_partagee) ptr_mem_partagee[kNbKey] = kClearCountdown;
    // The pattern stays outside the quotes: the shell expands it, and like any
    // * it leaves names beginning with "." alone.
    (void)to_system("rm -r -f " + shellQuote(path) + "*");
    logEvt("remove_directory3", kEventProcess, 0);
}

bool flushedToStick(const std::string& root) {
    Fd dir{open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    return dir.fd >= 0 && syncfs(dir.fd) == 0;
}
