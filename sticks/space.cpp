// Space accounting: what is copied in 512-byte blocks, free space in KiB. Runs in
// the operation process before a job copies, and in the clear worker to size a
// stick.
#include "sticks/space.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <cstdio>
#include <ctime>

#include "sticks/list_file.h"
#include "supervisor/base/globals.h"
#include "supervisor/base/shell_runner.h"

namespace {

constexpr uint64_t kKiB = 1024;

struct DirCloser {
    DIR* dir;
    ~DirCloser() {
        if (dir) (void)closedir(dir);
    }
};

bool isHidden(const char* name) { return name[0] == '.'; }

// The entries of a folder that the copy could take: "." and ".." are the folder
// and its parent, and counting them would count other sticks mounted beside it.
bool isSelfOrParent(const std::string& name) { return name == "." || name == ".."; }

}   // namespace

uint32_t kscale(uint32_t count, uint32_t unitSize) {
    const uint64_t bytes = static_cast<uint64_t>(count) * unitSize;
    return static_cast<uint32_t>((bytes + kKiB / 2) / kKiB);
}

uint32_t df_main(const std::string& path) {
    struct statfs fs {};
    if (statfs(path.c_str(), &fs) != 0) {
        printf(" error opening %s\n", path.c_str());
        return 0;   // room unknown: better refuse the stick than overfill it
    }
    return kscale(static_cast<uint32_t>(fs.f_bavail), static_cast<uint32_t>(fs.f_bsize));
}

// Links are never followed, so a link counts as one small file and a loop of
// links cannot keep the count going.
int du(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        printf("error %ju\n", static_cast<uintmax_t>(time(nullptr)));
        return 0;   // nothing known about it: it adds nothing and is no file
    }
    int sum = static_cast<int>(st.st_blocks);
    if (!S_ISDIR(st.st_mode)) {
        ++fileCntG;
        printf("fileCntG %d | %s \n", fileCntG, path.c_str());
        return sum;
    }
    DirCloser listing{opendir(path.c_str())};
    if (!listing.dir) return sum;
    while (const dirent* entry = readdir(listing.dir)) {
        if (isHidden(entry->d_name)) continue;
        sum += du(path + "/" + entry->d_name);
    }
    return sum;
}

int getDocFiles(const std::string& path) { return du(path); }

unsigned int duwav(const std::string& folder, int audioOnly) {
    DirCloser listing{opendir(folder.c_str())};
    if (!listing.dir) return 0;
    unsigned int sum = 0;
    while (const dirent* entry = readdir(listing.dir)) {
        const std::string name = entry->d_name;
        if (isSelfOrParent(name)) continue;
        // The copy takes only the plain, visible files a line selects: a folder, a link
        // or a hidden file counted here would show a student with nothing else as done,
        // with nothing collected.
        struct stat st {};
        if (lstat((folder + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        const int copies = listedCopies(name, audioOnly);   // the list read again, as the copy
        if (copies < 0) logEvt("no file list", processId, -1);
        if (copies > 0) sum += static_cast<unsigned int>(du(folder + "/" + name)) * copies;
    }
    return sum;
}
