// Reads the simulated appliance as the board would show it. Runs in the panel,
// inside the appliance, about ten times a second.
#include "view.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace panel {
namespace {

constexpr key_t kSegmentKey = 123654;
constexpr const char* kFunctionLedFiles[kFunctionLeds] = {
    "/sys/class/gpio/gpio68/value", "/sys/class/gpio/gpio110/value", "/sys/class/gpio/gpio14/value",
    "/sys/class/gpio/gpio13/value"};
constexpr const char* kMasterLedFile = "/sys/class/gpio/gpio71/value";
constexpr const char* kBoardLog = "/sim/calls/board.log";   // the kernel's record of the chip
constexpr const char* kJobNames[8] = {"",
                                      "distribute",
                                      "collect",
                                      "clear",
                                      "",
                                      "distribute whole sticks",
                                      "collect whole sticks",
                                      "clear whole sticks"};

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool valueLit(const char* file) {
    FILE* f = fopen(file, "r");
    if (!f) return false;
    const int c = fgetc(f);
    fclose(f);
    return c == '1';
}

// The segment appears once the daemon has started; until then the words are unknown.
const int32_t* segment() {
    static const int32_t* words = nullptr;
    if (words) return words;
    const int id = shmget(kSegmentKey, 0, 0);
    if (id < 0) return nullptr;
    void* at = shmat(id, nullptr, SHM_RDONLY);
    if (at != reinterpret_cast<void*>(-1)) words = static_cast<const int32_t*>(at);
    return words;
}

std::string fileText(const char* path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The board's last frame: the last write the chip took, read from the log's end (each write
// follows the record of the i2cset run that made it).
std::string lastBoardLine() {
    const std::vector<std::string> last = tailOf(kBoardLog, 4);
    for (auto line = last.rbegin(); line != last.rend(); ++line)
        if (line->find("smbus_write:") != std::string::npos) return *line;
    return "";
}

}   // namespace

void Lamp::set(bool on, double now) {
    if (on == lit) return;
    lit = on;
    changed[1] = changed[0];
    changed[0] = now;
}

int slotOfPosition(int position) {
    if (position == 0) return 0;
    return position % 2 ? (position + 1) / 2 : 8 + position / 2;
}

int positionOfSlot(int slot) {
    if (slot == 0) return 0;
    return slot <= 8 ? 2 * slot - 1 : 2 * (slot - 8);
}

bool decodeBoardLine(const std::string& line, std::array<bool, kSlots>& lit) {
    unsigned first = 0, second = 0;
    const size_t at = line.find("smbus_write: i2c-0 a=027 ");
    if (at == std::string::npos ||
        sscanf(line.c_str() + at, "smbus_write: i2c-0 a=027 f=%*x c=%x %*s l=1 [%x]", &first,
               &second) != 2)
        return false;
    for (int p = 1; p < kSlots; ++p) {
        const unsigned byte = p <= 8 ? first : second;
        const int bit = p <= 8 ? p - 1 : p - 9;
        lit[slotOfPosition(p)] = ((byte >> bit) & 1u) == 0;   // the expander is active low
    }
    return true;
}

void readAppliance(View& view, double now) {
    for (int i = 0; i < kFunctionLeds; ++i)
        view.function[i].set(valueLit(kFunctionLedFiles[i]), now);
    std::array<bool, kSlots> lit{};
    if (decodeBoardLine(lastBoardLine(), lit)) {
        for (int slot = 1; slot < kSlots; ++slot) view.stick[slot].set(lit[slot], now);
    }
    view.stick[0].set(valueLit(kMasterLedFile), now);
    if (const int32_t* words = segment()) {
        for (int slot = 0; slot < kSlots; ++slot) view.word[slot] = words[slot];
        view.wordsKnown = true;
    }
    view.marker[0] = exists("/tmp/showresult.cmd");
    for (int job = 1; job <= 7; ++job) {
        view.jobFile[job] = exists("/tmp/bt" + std::to_string(job) + ".cmd");
        view.marker[job] = exists("/tmp/showresult" + std::to_string(job) + ".cmd");
        view.ran[job] = view.marker[job] && (view.ran[job] || view.jobFile[job]);
    }
    view.shutdownRan = !fileText("/sim/calls/shutdown.log").empty();
    view.rebootAsked = !fileText("/sim/calls/reboot.log").empty();
    view.updateLog = fileText("/sim/calls/update.log");
}

std::vector<std::string> tailOf(const std::string& path, int lines) {
    constexpr long kTailBytes = 8192;   // enough for a screen of log lines
    std::vector<std::string> out;
    FILE* f = fopen(path.c_str(), "r");
    if (!f) return out;
    if (fseek(f, 0, SEEK_END) == 0) {
        const long size = ftell(f);
        (void)fseek(f, size > kTailBytes ? size - kTailBytes : 0, SEEK_SET);
    }
    std::string text(kTailBytes, '\0');
    text.resize(fread(&text[0], 1, text.size(), f));
    fclose(f);
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
        if (static_cast<int>(out.size()) > lines) out.erase(out.begin());
    }
    return out;
}

bool anyFailure(const View& view) {
    for (int code : view.word)
        if (code == 5 || code == 6 || code == 7) return true;
    return false;
}

std::string patternInWords(const View& view) {
    const auto& led = view.function;
    for (int job : {1, 2, 3, 5, 6, 7}) {
        if (!view.jobFile[job]) continue;
        std::string words = std::string(kJobNames[job]) + " running: LED" +
                            std::to_string(job > 4 ? job - 4 : job) + " blinks";
        if (view.jobFile[4]) return words + ", cancel asked: LED4 blinks with it";
        return words + (job > 4 ? ", LED4 lit" : "") + "  (s cancels)";
    }
    for (int job : {1, 5, 2, 6, 3, 7}) {
        if (!view.marker[job]) continue;
        if (!view.ran[job]) return std::string(kJobNames[job]) + " asked: starting";
        return std::string(kJobNames[job]) + " finished: " +
               (anyFailure(view) ? "a stick FAILED, LED blinks: look at the stick LEDs"
                                 : "every stick served, LED steady") +
               "  (s dismisses)";
    }
    const bool all = led[0].lit && led[1].lit && led[2].lit && led[3].lit;
    if (all) return "all four lit: update at work (or the daemon stopped on an error)";
    // The clear prompt lights LED3 on top of the ready pattern.
    if (led[0].lit && led[1].lit && !led[3].lit)
        return led[2].lit ? "clear prompt: let go, then press again" : "ready";
    if (!led[0].lit && !led[1].lit && !led[2].lit && !led[3].lit)
        return "all dark: busy, or update signal";
    return "changing...";
}

const char* codeInWords(int code) {
    switch (code) {
        case 0:
            return "no stick";
        case 2:
            return "present";
        case 3:
            return "working";
        case 4:
            return "done";
        case 5:
            return "LOST";
        case 6:
            return "FOLDERS MISSING";
        case 7:
            return "FAILED";
        default:
            return "-";
    }
}

}   // namespace panel
