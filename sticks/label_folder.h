// A stick's volume label as the name of the folder its student's work goes to.
// The label is whatever the stick carries (any 11 bytes): it may only ever name one
// folder, never a path.
#pragma once
#include <string>

// "/" and what FAT cannot hold in a name ("*:<>?\| and control bytes) become "_";
// a label left empty or made of dots only names no folder of its own and gives "".
// Anything else stays as it is.
std::string labelAsFolderName(const std::string& label);
// The student's folder in a session: "UE{slot}", or "UE{slot} {label}" when the
// label gives a folder name.
std::string studentFolderName(int slot, const std::string& label);
