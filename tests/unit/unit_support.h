// Small helpers of the unit tests, which run in host appliances where nothing can be
// mounted: the code that judges by the mount table is shown one in which the chosen
// slots are mounted (their mount points are plain folders on /tmp).
#pragma once
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "sticks/mount.h"

namespace unit {

inline bool exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

inline bool isDir(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

inline bool writeFile(const std::string& path, const std::string& content) {
    FILE* f = fopen(path.c_str(), "w");
    const bool written = f && fwrite(content.data(), 1, content.size(), f) == content.size();
    return f && fclose(f) == 0 && written;
}

inline std::string shellOutput(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    for (int c; pipe && (c = fgetc(pipe)) != EOF;) out += static_cast<char>(c);
    if (pipe) pclose(pipe);
    return out;
}

// A `mount` first on PATH that lists the slots before the real table.
inline bool listAsMounted(std::initializer_list<int> slots) {
    std::string script = "#!/bin/sh\nif [ $# -eq 0 ]; then\n";
    for (int slot : slots) {
        (void)mkdir(mountPointOf(slot).c_str(), 0777);
        script += "echo 'fake on " + mountPointOf(slot) + " type vfat (rw)'\n";
    }
    return writeFile("/sim/bin/mount", script + "fi\nexec /usr/bin/mount \"$@\"\n") && !chmod("/sim/bin/mount", 0755);
}

}  // namespace unit
