// Existence tests (0 means "exists", as access() answers), folder creation and a file
// replaced whole.
#include "supervisor/base/file_helpers.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "supervisor/base/file_handles.h"
#include "supervisor/base/globals.h"
#include "supervisor/base/shell_runner.h"
#include "supervisor/base/text_utils.h"

namespace {

// The parent folder as dirname() gives it: the path without its last component
// and without trailing slashes; "/" for a top-level path, "." for a bare name.
std::string parentOf(const std::string& path) {
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') --end;   // trailing slashes
    const size_t slash = path.rfind('/', end - 1);
    if (end == 0 || slash == std::string::npos) return ".";
    size_t parentEnd = slash;
    while (parentEnd > 0 && path[parentEnd - 1] == '/') --parentEnd;
    return parentEnd == 0 ? "/" : path.substr(0, parentEnd);
}

// The folder's own entry reaches the disk: a rename in it survives a power cut.
bool syncFolder(const std::string& folder) {
    Fd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir.fd >= 0 && fsync(dir.fd) == 0;
}

}   // namespace

int fileexist(const std::string& path) { return fileexist(path.c_str()); }

int fileexist(const char* path) { return access(path, F_OK) == 0 ? 0 : -1; }

int direxist(const std::string& path) {
    const uintmax_t now = static_cast<uintmax_t>(time(nullptr));
    DIR* dir = opendir(path.c_str());
    if (!dir) {
        printf("%s dirname n'existe pas - %ju\n", path.c_str(), now);
        return -1;
    }
    closedir(dir);
    return 0;
}

int createDir(const std::string& path) {
    logEvt(path, processId, -1);
    // The path is one quoted word: folder names come from the sticks, and no
    // character of them may reach the shell as syntax. Any length is served.
    const std::string mkdirCommand = "mkdir -- " + shellQuote(path);
    int result = 0;
    if (direxist(path) != 0) {
        const std::string parent = parentOf(path);
        // "/" and "." exist and end the recursion; the guard only stops a loop on
        // a parent that cannot be listed (a folder without read permission).
        if (parent != path) (void)createDir(parent);
        printf("createDir(dirname(copycrDir));\n");
        fflush(stdout);                       // our lines before the shell's
        (void)system(mkdirCommand.c_str());   // judged below by the folder itself
        printf("system(mkdirTestDir);\n");
        if (direxist(path) != 0) result = -1;
        printf("to_system(mkdirTestDir); ret = %d\n", result);
    }
    logEvt("createDir", processId, result);
    return result;
}

bool writeSynced(const std::string& path, const std::string& text) {
    Fd out(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
    bool written = out.fd >= 0 &&
                   write(out.fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                   fsync(out.fd) == 0;
    return close(out.release()) == 0 && written;
}

bool replaceFile(const std::string& path, const std::string& text) {
    const std::string fresh = path + ".new";
    if (!writeSynced(fresh, text) || rename(fresh.c_str(), path.c_str()) != 0) {
        printf("%s cannot be replaced.\n", path.c_str());
        (void)unlink(fresh.c_str());   // a part written stays nowhere
        return false;
    }
    (void)syncFolder(parentOf(path));
    return true;
}
