// The receipt of a collect, written last on the master beside what was collected:
// SHA256SUMS, one line per collected file in the form `sha256sum -c` reads (paths
// from the folder it lies in), and RECEIPT.txt for people: the session, when, and
// each student's folder, files, bytes and outcome. Only work that read back right
// from the master is listed in SHA256SUMS.
#pragma once
#include <string>

// Forgets the last collect's records and reasons (a collect starts).
void startReceipt();
// A student's folder name in this session, and why its work was not collected.
void noteStudentFolder(int slot, const std::string& folder);
void noteNotCollected(int slot, const std::string& reason);

struct ReceiptPlace {
    std::string folder;   // where both files go (on the mounted master)
    std::string below;    // that folder below the master's root, ending in "/"
    std::string prefix;   // before both file names ("" or "SESSION2-")
    int session;
};

// Reads every done student's collected files back from the master once more, after
// the last student: on a counterfeit master a later student's work can land on an
// earlier one's, which read back right in its own turn. A student whose work no
// longer reads back right failed; false when any did.
bool sessionReadsBack(const std::string& masterRoot);

// Writes both files, syncs them and reads them back; false when a step failed.
bool writeReceipt(const ReceiptPlace& place);

// One SHA256SUMS line, escaped as sha256sum escapes a name with a backslash or a
// line break in it.
std::string sumsLine(const std::string& hex, const std::string& name);
