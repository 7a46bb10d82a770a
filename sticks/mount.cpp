// Mounting and unmounting at the slots' mount points. Whatever the mount and
// umount tools say, the verdict is the system's own table of mounted file
// systems, listed into /tmp/mnt.log before and after every command.
#include "sticks/mount.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "sticks/stick_changes.h"
#include "supervisor/base/file_helpers.h"
#include "supervisor/base/globals.h"
#include "supervisor/base/shell_runner.h"

namespace {

constexpr const char* kListCommand = "mount > /tmp/mnt.log";
constexpr const char* kListFile = "/tmp/mnt.log";
// The kernel's table (kKernelMountTable) is what the mount tool lists: the mount
// point stands in it between blanks as it does in the tool's lines, so one rule
// reads both.
constexpr const char* kLogCopySwitch = "/tmp/tamvikma1/dup.cfg";
constexpr int kDetachPauses = 50;   // 5 s for the unmount to leave the table
constexpr useconds_t kDetachPauseUs = 100000;
constexpr const char* kLogCopyCommand = "cp /tmp/log.txt /tmp/tamvikma1/log.txt";

enum class Listing { shows, missing, unreadable };

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Looks for the slot's mount point in a listing of mounted file systems. Whole
// lines are tested, so a long device name cannot push the mount point out of view.
Listing listingShows(const char* path, int slot) {
    std::ifstream listing(path);
    if (!listing) return Listing::unreadable;
    const std::string mountPoint = mountPointOf(slot);
    std::string line;
    while (std::getline(listing, line)) {
        if (pieceShowsMountPoint(line, mountPoint)) return Listing::shows;
    }
    return Listing::missing;
}

// Lists the mount table afresh through the mount tool and looks for the slot in it.
Listing listMountTable(int slot) {
    (void)to_system(kListCommand);
    return listingShows(kListFile, slot);
}

// The kernel's table as this process last read it, slot by slot, kept while no
// look finds a mount or unmount (or a node moving) since: the same verdicts as a
// fresh read, for one poll.
struct TableCache {
    unsigned long changesSeen = 0;   // no look yet: 0, the first look moves it
    Listing slots[kSlots];           // unreadable: not known, read it
};
TableCache gTable;

bool kernelTableShows(int slot) {
    TableCache& cache = gTable;
    const unsigned long changes = lookForStickChanges();
    if (changes != cache.changesSeen) {
        std::fill(std::begin(cache.slots), std::end(cache.slots), Listing::unreadable);
        cache.changesSeen = changes;
    }
    Listing& known = cache.slots[slot < 0 ? 0 : slot];   // below 0: the master, as slot 0
    if (known == Listing::unreadable) known = listingShows(kKernelMountTable, slot);
    return known == Listing::shows;
}

std::string mountCommand(int slot) {
    const int part = sticksPartition[slot < 0 ? 0 : slot];
    const std::string node =
        slot > 0 ? "/dev/tmvl" + std::to_string(slot) + "-part" : std::string("/dev/tmvm1-part");
    const std::string numbered = part != 0 ? node + std::to_string(part) : node;
    // A stick is data only. Its file system may be one that holds links and device
    // nodes (UDF takes these options as FAT does): the appliance never follows a link
    // there (the log copy would write through it as root), opens a node there, or runs
    // or trusts a program there.
    return "mount -o utf8,nosymfollow,nodev,nosuid,noexec " + numbered + " " + mountPointOf(slot);
}

}   // namespace

std::string mountPointOf(int slot) {
    if (slot <= 0) return "/tmp/tamvikma1";
    return "/tmp/tamvikel" + std::to_string(slot);
}

bool pieceShowsMountPoint(std::string_view piece, std::string_view mountPoint) {
    if (mountPoint.empty()) return false;
    for (size_t at = piece.find(mountPoint); at != std::string_view::npos;
         at = piece.find(mountPoint, at + 1)) {
        const size_t end = at + mountPoint.size();
        const bool startsClean = at == 0 || isBlank(piece[at - 1]);
        const bool endsClean = end == piece.size() || isBlank(piece[end]);
        if (startsClean && endsClean) return true;
    }
    return false;
}

int isUsbMounted(int slot) {
    logEvt("mount", processId, slot);
    if (slot >= kSlots) {   // no such slot: no node to mount, no table entry to read
        logEvt("mount failed", processId, slot);
        return -1;
    }
    Listing before = listMountTable(slot);
    if (before == Listing::unreadable) {
        logEvt("mount failed", processId, slot);
        return -1;
    }
    if (before == Listing::shows) {
        logEvt("mounted", processId, slot);
        return 1;
    }
    (void)to_system(mountCommand(slot));   // judged by the listing below, not its status
    if (listMountTable(slot) != Listing::shows) {
        logEvt("mount failed", processId, slot);
        return -1;
    }
    logEvt("mounted", processId, slot);
    return 0;
}

void logStillMounted(int slot) {
    logEvt("mount", processId, slot);
    logEvt("mounted", processId, slot);
}

int isUsbStillMounted(int slot) {
    if (slot < kSlots && kernelTableShows(slot)) {
        logStillMounted(slot);
        return 1;
    }
    return isUsbMounted(slot);   // listed, and mounted again, through the shell
}

namespace {

// 0 once the table no longer lists the slot's mount point, looking again after each of up to
// `pauses` pauses; -1 when it still does. Logged either way.
int awaitUnmounted(int slot, int pauses) {
    for (int pause = 0; listMountTable(slot) != Listing::missing; ++pause) {
        if (pause == pauses) {
            logEvt("unmount failed", processId, slot);
            return -1;
        }
        usleep(kDetachPauseUs);
    }
    logEvt("unmounted", processId, slot);
    return 0;
}

}   // namespace

// The kernel writes a FAT volume's clean flag when the last user of the file system
// lets it go, in that user's process: once the given-up worker is gone that is the
// unmount itself, which would then wait with the job until the stick answers or is
// pulled. The unmount runs apart, and the job goes on once the table no longer
// lists the mount point.
int detachUsb(int slot) {
    logEvt("unmount", processId, slot);
    (void)to_system("umount -l " + mountPointOf(slot) + " &");
    return awaitUnmounted(slot, kDetachPauses);
}

int umountUsb(int slot) {
    logEvt("unmount", processId, slot);
    Listing before = listMountTable(slot);
    if (before == Listing::unreadable) {
        logEvt("unmount failed", processId, slot);
        return -1;
    }
    if (before == Listing::missing) {
        logEvt("unmounted", processId, slot);
        return 0;
    }
    if (slot <= 0 && fileexist(kLogCopySwitch) == 0) {
        // Straight through the shell: a runner echo would land in the very log
        // being copied, and a failed copy must not keep the master mounted.
        (void)system(kLogCopyCommand);
    }
    (void)to_system("umount -l " + mountPointOf(slot));   // lazy: open files cannot hold it
    return awaitUnmounted(slot, 0);
}
