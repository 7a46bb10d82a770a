// Small helpers of the unit tests, which run in host appliances: nothing there can
// be mounted, so the code that judges by the mount table is shown a table in which
// the chosen slots are mounted (their mount points are plain folders on /tmp).
#pragma once
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "sticks/mount.h"

namespace unit {

inline bool writeFile(const std::string& path, const std::string& content) {
    FILE* f = fopen(path.c_str(), "w");
    if (!f) return false;
    const bool written = fwrite(content.data(), 1, content.size(), f) == content.size();
    return fclose(f) == 0 && written;
}

// A `mount` first on the appliance's PATH that lists the slots as mounted before
// the real table; with arguments it is the real mount (which fails here).
inline bool listAsMounted(std::initializer_list<int> slots) {
    std::string script = "#!/bin/sh\nif [ $# -eq 0 ]; then\n";
    for (int slot : slots) {
        (void)mkdir(mountPointOf(slot).c_str(), 0777);
        script += "echo 'fake on " + mountPointOf(slot) + " type vfat (rw)'\n";
    }
    script += "fi\nexec /usr/bin/mount \"$@\"\n";
    return writeFile("/sim/bin/mount", script) && chmod("/sim/bin/mount", 0755) == 0;
}

}  // namespace unit
