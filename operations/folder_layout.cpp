// Standard folders on the sticks and the special-folder list. Runs in the
// operation process (the jobs) and in the workers it forks.
#include "operations/folder_layout.h"

#include <dirent.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "sticks/detection.h"
#include "sticks/mount.h"
#include "supervisor/base/file_helpers.h"
#include "supervisor/base/shell_runner.h"
#include "supervisor/base/text_utils.h"
#include "supervisor/base/file_handles.h"

namespace {

constexpr const char* kTelvoFolder = "/tmp/tamvikma1/TELVO";
constexpr const char* kTelvoListFile = "/tmp/repTelvo.txt";
constexpr size_t kListLineSize = 150;   // the readers' line buffer, terminator included
constexpr const char* kWhiteSpace = " \t\n\v\f\r";

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string::npos) return "";
    const size_t last = text.find_last_not_of(kWhiteSpace);
    return text.substr(first, last - first + 1);
}

// The list holds one name per line and every reader trims and cuts it at 149
// characters, so a name that would not come back unchanged is left out rather
// than read as a different folder.
bool fitsTelvoList(const std::string& name) {
    if (name.empty() || name.size() >= kListLineSize - 1) return false;
    if (name.find_first_of("\r\n") != std::string::npos) return false;
    return trimmed(name) == name;
}

}   // namespace

int checkTamvikDirs(int slot) {
    const std::string root = mountPointOf(slot);
    for (const char* folder : {"/TAMVIK-OUT/", "/TAMVIK-IN/"}) {
        const int made = ensureFolder(slot, root + folder);
        if (made != 0) return made;
    }
    return 0;
}

int listTelvoFolders() {
    (void)to_system(std::string("rm ") + kTelvoListFile);   // absent is fine: rebuilt below
    if (direxist(kTelvoFolder) != 0) return 0;
    Dir dir(opendir(kTelvoFolder));
    if (!dir) {   // TELVO is there: its subjects are left out, not taken for none
        printf("%s\n", strerror(errno));
        return 1;
    }
    int leftOut = 0;
    // The directory's own order; "." and ".." never end in "-out".
    errno = 0;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (EndsWithOut(name.c_str()) && direxist(std::string(kTelvoFolder) + "/" + name) == 0 &&
            addTelvoFolder(name) != 0) {
            ++leftOut;
        }
        printf("%s\n", name.c_str());
        errno = 0;
    }
    return errno == 0 ? leftOut : leftOut + 1;
}

int addTelvoFolder(const std::string& name) {
    if (!fitsTelvoList(name)) {
        printf("addTelvoFolder: name not listed, it does not fit one list line: %s\n",
               name.c_str());
        return -1;
    }
    File list(fopen(kTelvoListFile, "a"));
    if (!list) return -1;
    if (fprintf(list.get(), "%s\n", name.c_str()) < 0) return -1;
    return fclose(list.release()) == 0 ? 0 : -1;
}
