// Helpers of the unit tests, which run in host appliances where nothing can be mounted.
#pragma once
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "sticks/mount.h"

namespace unit {

inline struct stat lstatOf(const std::string& path) {   // all zero when nothing is there
    struct stat st {};
    return (void)lstat(path.c_str(), &st), st;
}
inline bool exists(const std::string& path) { return lstatOf(path).st_nlink > 0; }

inline bool writeFile(const std::string& path, const std::string& text) {
    return static_cast<bool>(std::ofstream(path, std::ios::binary) << text << std::flush);
}

inline std::string shellOutput(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    for (int c; pipe && (c = fgetc(pipe)) != EOF;) out += static_cast<char>(c);
    return pipe && pclose(pipe), out;
}

// A `mount` first on PATH that lists these slots (plain folders on /tmp) as mounted.
inline bool listAsMounted(std::initializer_list<int> slots) {
    std::string script = "#!/bin/sh\nif [ $# -eq 0 ]; then\n";
    for (int slot : slots)
        script += "echo 'fake on " + mountPointOf(slot) + " type vfat (rw)'\n", (void)mkdir(mountPointOf(slot).c_str(), 0777);
    return writeFile("/sim/bin/mount", script + "fi\nexec /usr/bin/mount \"$@\"\n") && !chmod("/sim/bin/mount", 0755);
}

}  // namespace unit
