// The collect's receipt, from the records the workers left of what they read back.
#include "operations/receipt.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <map>
#include <fstream>
#include <sstream>
#include <vector>

#include "copy/read_back.h"
#include "copy/watchdog.h"
#include "indicators/status_codes.h"
#include "operations/job_common.h"
#include "supervisor/base/file_helpers.h"

namespace {

using jobs::kDone;
using jobs::kFailed;
using jobs::kFirstStudent;
using jobs::kLastStudent;

struct Record {
    int slot;
    std::string hex;
    uint64_t bytes;
    std::string path;   // below the master's root
};

std::map<int, std::string> gFolders, gReasons;

std::vector<Record> readRecords() {
    std::vector<Record> records;
    std::ifstream in(kVerifiedRecords, std::ios::binary);
    for (std::string text; std::getline(in, text, '\0');) {
        std::istringstream fields(text);
        Record r{};
        if (!(fields >> r.slot >> r.hex >> r.bytes) || fields.get() != ' ') continue;
        std::getline(fields, r.path, '\0');
        records.push_back(r);
    }
    return records;
}

std::string boardTime() {
    const time_t now = time(nullptr);
    char text[64] = "";
    struct tm local {};
    (void)strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", localtime_r(&now, &local));
    return std::string(text) + " (the board's clock, which is wrong if it was never set)";
}

std::string outcome(int slot) {
    if (loadWord(slot) == kDone) return "done";
    const auto reason = gReasons.find(slot);
    return "not collected: " + (reason == gReasons.end() ? "the stick failed" : reason->second);
}

std::string receiptText(const ReceiptPlace& place, const std::vector<Record>& records) {
    std::string text = "Receipt of session SESSION" + std::to_string(place.session) + "\n";
    text += "Written " + boardTime() + "\n";
    text += "Check on a computer: sha256sum -c " + place.prefix + "SHA256SUMS\n\n";
    for (int slot = kFirstStudent; slot <= kLastStudent; ++slot) {
        if (!gFolders.count(slot) && !gReasons.count(slot)) continue;
        uint64_t files = 0, bytes = 0;
        for (const Record& r : records) {   // what SHA256SUMS vouches for
            if (r.slot != slot || loadWord(slot) != kDone) continue;
            files += 1;
            bytes += r.bytes;
        }
        char line[160];
        snprintf(line, sizeof line, "slot %d: %" PRIu64 " files, %" PRIu64 " bytes, ", slot, files,
                 bytes);
        text += line + outcome(slot) + "\n  folder: " + gFolders[slot] + "\n";
    }
    return text;
}

// Writes and syncs the file, then reads it back from the stick.
bool writeAndReadBack(const std::string& path, const std::string& text) {
    const bool written = writeSynced(path, text);
    Sha256 sha;
    sha.add(text.data(), text.size());
    if (written && readsBack(path, sha.digest())) return true;
    printf("receipt: %s could not be written and read back\n", path.c_str());
    return false;
}

}   // namespace

void startReceipt() {
    (void)unlink(kVerifiedRecords);
    gFolders.clear();
    gReasons.clear();
}

void noteStudentFolder(int slot, const std::string& folder) { gFolders[slot] = folder; }

void noteNotCollected(int slot, const std::string& reason) { gReasons[slot] = reason; }

std::string sumsLine(const std::string& hex, const std::string& name) {
    std::string escaped;
    for (char c : name) escaped += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : std::string(1, c);
    return (escaped.size() != name.size() ? "\\" : "") + hex + "  " + escaped + "\n";
}

bool sessionReadsBack(const std::string& masterRoot) {
    bool intact = true;
    for (const Record& r : readRecords()) {
        Digest onStick{};
        const std::string path = masterRoot + "/" + r.path;
        if (loadWord(r.slot) != kDone ||
            (digestOnStick(path, onStick) && hexDigest(onStick) == r.hex))
            continue;
        printf("read back: stick 0: %s no longer holds what was collected\n", path.c_str());
        changeLedStatus(r.slot, kFailed);
        noteNotCollected(r.slot, "its work on the master was damaged by a later one");
        intact = false;
    }
    return intact;
}

bool writeReceipt(const ReceiptPlace& place) {
    const std::vector<Record> records = readRecords();
    std::string sums;
    for (const Record& r : records)
        if (loadWord(r.slot) == kDone && r.path.compare(0, place.below.size(), place.below) == 0)
            sums += sumsLine(r.hex, r.path.substr(place.below.size()));
    const std::string base = place.folder + "/" + place.prefix;
    if (writeAndReadBack(base + "SHA256SUMS", sums) &&
        writeAndReadBack(base + "RECEIPT.txt", receiptText(place, records)))
        return true;
    // A cut receipt would vouch for part of the session only: none is left.
    (void)unlink((base + "SHA256SUMS").c_str());
    (void)unlink((base + "RECEIPT.txt").c_str());
    return false;
}
