#include "sticks/label_folder.h"

#include <cstring>

std::string labelAsFolderName(const std::string& label) {
    std::string name = label;
    for (char& c : name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || strchr("/\"*:<>?\\|", c)) c = '_';
    }
    if (name.find_first_not_of('.') == std::string::npos) return "";   // "", ".", ".."
    return name;
}

std::string studentFolderName(int slot, const std::string& label) {
    const std::string name = labelAsFolderName(label);
    const std::string folder = "UE" + std::to_string(slot);
    return name.empty() ? folder : folder + " " + name;
}
