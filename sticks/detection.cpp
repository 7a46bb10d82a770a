// Device nodes of the slots, presence, partition choice and volume label. The
// nodes are made by the platform's device manager; we only test that they exist.
#include "sticks/detection.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "supervisor/base/file_handles.h"
#include "supervisor/base/file_helpers.h"
#include "supervisor/base/globals.h"
#include "supervisor/base/shell_runner.h"

namespace {

constexpr int kMaxPartition = 5;                // partitions above 5 are never used
constexpr useconds_t kDetectRetry = 10000000;   // a stick may still be settling: 10 s
constexpr const char* kLabelScratch = "/tmp/partLabel";
constexpr int kLabelLine = 150;   // blkid's first line, at most 149 characters
constexpr std::string_view kLabelKey = "LABEL=";

// The master's nodes carry the number 1, never its slot number 0.
std::string numberedNode(int slot, int partition) {
    char node[64];
    if (slot <= 0)
        snprintf(node, sizeof node, "/dev/tmvm%d-part%d", 1, partition);
    else
        snprintf(node, sizeof node, "/dev/tmvl%d-part%d", slot, partition);
    return node;
}

std::string wholeNode(int slot) {
    char node[64];
    if (slot <= 0)
        snprintf(node, sizeof node, "/dev/tmvm%d-part", 1);
    else
        snprintf(node, sizeof node, "/dev/tmvl%d-part", slot);
    return node;
}

// The node the slot's entry of sticksPartition names; -1 gives "-part-1", which
// never exists, so an unknown stick reads as absent.
std::string chosenNode(int slot) {
    const int entry = sticksPartition[slot < 0 ? 0 : slot];
    return entry != 0 ? numberedNode(slot, entry) : wholeNode(slot);
}

// A slot's candidate nodes: index 0 the whole device, 1 to 5 the numbered partitions.
using SlotNodes = std::array<std::string, kMaxPartition + 1>;

SlotNodes nodesOf(int slot) {
    SlotNodes nodes;
    nodes[0] = wholeNode(slot);
    for (int i = 1; i <= kMaxPartition; ++i) nodes[i] = numberedNode(slot, i);
    return nodes;
}

// The board's slots are named once: the presence refresh tests them every
// millisecond and should not build a string for each test.
const SlotNodes& boardNodes(int slot) {
    static const std::array<SlotNodes, kSlots> table = [] {
        std::array<SlotNodes, kSlots> nodes;
        for (int s = 0; s < kSlots; ++s) nodes[s] = nodesOf(s);
        return nodes;
    }();
    return table[slot <= 0 ? 0 : slot];
}

// A numbered partition wins over the whole device, a lower number over a higher.
int firstPresent(const SlotNodes& nodes) {
    for (int i = 1; i <= kMaxPartition; ++i)
        if (fileexist(nodes[i]) == 0) return i;
    return fileexist(nodes[0]) == 0 ? 0 : -1;
}

}   // namespace

int selectPart(int slot) {
    if (slot >= kSlots) return firstPresent(nodesOf(slot));
    return firstPresent(boardNodes(slot));
}

std::string detectionLines(int slot) {
    if (slot <= 0) return "isUsbDetected\n";
    return "isUsbDetected\nnbPort > 0\n" + chosenNode(slot) + "\n";
}

bool nodeGone(int slot) { return fileexist(chosenNode(slot)) != 0; }

namespace {

// The kernel's folder of the slot's whole stick; empty when the stick is not there.
std::string stickSysfs(int slot) {
    struct stat node {};
    if (stat(boardNodes(slot)[0].c_str(), &node) != 0 || !S_ISBLK(node.st_mode)) return "";
    return "/sys/dev/block/" + std::to_string(major(node.st_rdev)) + ":" +
           std::to_string(minor(node.st_rdev));
}

// The count kept at path; -1 when it cannot be read (the stick went).
long ioErrorCount(const std::string& path) {
    if (path.empty()) return -1;
    File counter(fopen(path.c_str(), "r"));
    unsigned long count = 0;   // written as hexadecimal, "0x2"
    if (!counter || fscanf(counter.get(), "%lx", &count) != 1) return -1;
    return static_cast<long>(count);
}

}   // namespace

std::string ioErrorCounter(int slot) {
    const std::string stick = stickSysfs(slot);
    return stick.empty() ? "" : stick + "/device/ioerr_cnt";
}

std::string writeCounter(int slot) {
    const std::string stick = stickSysfs(slot);
    return stick.empty() ? "" : stick + "/stat";
}

long sectorsWritten(const std::string& counter) {
    if (counter.empty()) return -1;
    File stat(fopen(counter.c_str(), "r"));
    long field[7] = {};   // reads: 4 fields, then writes: I/Os, merged, sectors
    for (long& value : field)
        if (!stat || fscanf(stat.get(), "%ld", &value) != 1) return -1;
    return field[6];
}

ErrorWatch::ErrorWatch(const std::string& watched)
    : counter(watched), before(ioErrorCount(watched)) {}

bool ErrorWatch::errorsSince() const { return ioErrorCount(counter) != before; }

int ensureFolder(int slot, const std::string& path) {
    constexpr int kCreateAttempts = 3;
    const ErrorWatch watch(ioErrorCounter(slot));
    const bool there = direxist(path) == 0;
    if (watch.errorsSince()) {
        printf("cannot look up %s\n", path.c_str());
        return kFolderUnreadable;
    }
    if (there) return 0;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        if (createDir(path) == 0) return 0;
    }
    return -1;
}

int isUsbDetected(int slot) {
    const std::string node = chosenNode(slot);
    // One write: a copy makes these checks for every folder.
    fputs(detectionLines(slot).c_str(), stdout);
    if (fileexist(node) == 0) return 0;
    usleep(kDetectRetry);
    return fileexist(node) == 0 ? 0 : -1;
}

// blkid writes a quote or a backslash inside the value as \" and \\: the label is
// the text up to the first unescaped quote, with those escapes undone, so a label
// holding a quote comes back whole and not cut at it.
void appendBlkidLabel(const char* line, char* label, size_t labelSize) {
    const std::string_view text(line);
    const size_t key = text.find(kLabelKey);
    // The label starts after the key and its opening quote.
    const size_t begin = key + kLabelKey.size() + 1;
    if (key == std::string_view::npos || begin > text.size()) return;
    std::string value;
    size_t at = begin;
    for (; at < text.size() && text[at] != '"'; ++at) {
        if (text[at] == '\\' && at + 1 < text.size()) ++at;
        value += text[at];
    }
    if (at == text.size() || value.empty()) return;   // no closing quote, or empty
    const size_t used = strnlen(label, labelSize);
    if (labelSize == 0 || used >= labelSize - 1) return;
    const size_t count = std::min(value.size(), labelSize - 1 - used);
    memcpy(label + used, value.data(), count);
    label[used + count] = '\0';
}

void getPartitionLabel(int slot, int partIndex, char* label, size_t labelSize) {
    char command[96];
    if (partIndex != 0)
        snprintf(command, sizeof command, "blkid /dev/tmvl%d-part%d > %s", slot, partIndex,
                 kLabelScratch);
    else
        snprintf(command, sizeof command, "blkid /dev/tmvl%d-part > %s", slot, kLabelScratch);
    (void)to_system(command);   // judged by the scratch file it leaves
    FILE* scratch = fopen(kLabelScratch, "r");
    if (!scratch) return;
    char line[kLabelLine] = {};
    const bool read = fgets(line, sizeof line, scratch) != nullptr;
    fclose(scratch);
    if (read) appendBlkidLabel(line, label, labelSize);
    printf("LABEL: %s\n\n", label);
}
