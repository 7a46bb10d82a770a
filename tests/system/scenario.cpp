// The real daemon in the simulated appliance with FAT sticks, driven through its buttons: a row of
// scenarios.txt is one job run. Besides its own checks every row checks what no job may break:
// nothing left mounted, the result pattern (blinking when a stick failed) until shift dismisses it,
// no file lost or changed on a stick the job only reads, none written outside the folders it fills,
// every stick marked done carrying its material unchanged, no command planted in stick text run.
// One appliance boot serves a group.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/klog.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "sticks/mount.h"
#include "tests/support/appliance.h"

namespace {

using namespace std::chrono_literals;
using Sums = std::map<std::string, std::string>;
using Files = std::vector<std::pair<std::string, std::string>>;   // path -> content
namespace fs = std::filesystem;
using sim::exists;
constexpr int kShift = 3, kDistribute = 6, kCollect = 1, kClear = 0;
const std::map<std::string, int> kButtons = {
    {"distribute", kDistribute}, {"collect", kCollect}, {"clear", kClear}, {"shift", kShift}};
constexpr auto kStep = 120s;   // a button's effect, a presence refresh
constexpr auto npos = std::string::npos;

// The command file's number, the button, shift held or not, the result pattern (LED4..LED1), a
// button pressed at the same moment as the job's (-1: none), shift still held 3 s after the
// request.
struct Job {
    int number = 0, button = 0;
    bool shift = false;
    std::string result;
    int also = -1;
    bool held = false;
};
struct Row {
    std::string group, name, sticks, jobText, faults, words, checks, id;
    Job job;
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// The parts of `text` between `sep`, trimmed; empty ones only when asked for.
std::vector<std::string> split(const std::string& text, char sep, bool keepEmpty = false) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, sep);) {
        part.erase(0, part.find_first_not_of(' '));
        part.erase(part.find_last_not_of(' ') + 1);
        if (keepEmpty || !part.empty()) parts.push_back(part);
    }
    return parts;
}

// "\x7c" and the like: the table's separators and bytes a terminal would hide.
std::string unescape(std::string text) {
    for (size_t i = 0; (i = text.find("\\x", i)) != npos && i + 4 <= text.size(); ++i)
        text.replace(i, 4, 1, static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16)));
    return text;
}

// A table fault stops every group's run: a row that vanished or changed meaning proves nothing.
[[noreturn]] void badTable(const std::string& line, const char* why) {
    fprintf(stderr, "scenarios.txt: %s: %s\n", why, line.c_str());
    exit(2);
}

// A row's test name from its text, so that a row added elsewhere renames no other.
std::string testId(const Row& row, std::map<std::string, int>& seen) {
    std::string id;
    for (char c : row.name.substr(0, 60)) {
        const bool word = isalnum(static_cast<unsigned char>(c));
        if (word || (!id.empty() && id.back() != '_')) id += word ? c : '_';
    }
    const int repeat = ++seen[row.group + id];
    return row.group + "_" + id + (repeat > 1 ? "_" + std::to_string(repeat) : "");
}

bool endsWith(const std::string& s, const std::string& e) {
    return s.size() >= e.size() && s.compare(s.size() - e.size(), e.size(), e) == 0;
}

// "collect-whole+shift held" as a Job; false for a job the panel has no gesture for.
bool parseJob(std::string text, Job& job) {
    const auto cut = [&](const std::string& tail) {
        if (!endsWith(text, tail)) return false;
        text.resize(text.size() - tail.size());
        return true;
    };
    job.held = cut(" held");
    const size_t plus = text.find('+');
    if (plus != npos && !kButtons.count(text.substr(plus + 1))) return false;
    if (plus != npos) job.also = kButtons.at(text.substr(plus + 1));
    text = text.substr(0, plus);
    job.shift = cut("-whole");
    // An update is a distribute with the master alone: no command file, the ready pattern.
    const std::map<std::string, Job> kinds = {{"distribute", {1, kDistribute, false, "0001"}},
                                              {"collect", {2, kCollect, false, "0010"}},
                                              {"clear", {3, kClear, false, "0100"}},
                                              {"update", {0, kDistribute, false, "0011"}}};
    if (!kinds.count(text) || (job.shift && text == "update")) return false;
    const Job& kind = kinds.at(text);
    job.number = kind.number + (job.shift ? 4 : 0);
    job.button = kind.button;
    job.result = (job.shift ? "1" : "0") + kind.result.substr(1);
    return true;
}

std::vector<Row> loadRows() {
    std::vector<std::string> lines;
    std::ifstream table(STICKDUP_SCENARIOS);
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] != ' ' || lines.empty()) {
            lines.push_back(line);
            continue;
        }
        // The row goes on: the break stands for one blank.
        while (!lines.back().empty() && lines.back().back() == ' ') lines.back().pop_back();
        lines.back() += " " + line.substr(line.find_first_not_of(' '));
    }
    std::vector<Row> rows;
    std::map<std::string, int> seen;
    for (const std::string& line : lines) {
        std::vector<std::string> c = split(line + " ", '|', true);   // the last column may be empty
        if (c.size() != 7) badTable(line, "not seven columns");
        // The build registers a group by this pattern: any other name would never run.
        if (c[0].empty() || c[0].find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789") != npos)
            badTable(line, "a group is named by small letters and digits");
        rows.push_back({c[0], c[1], c[2], c[3], c[4], c[5], c[6], "", {}});
        if (!parseJob(c[3], rows.back().job)) badTable(line, "unknown job");
        rows.back().id = testId(rows.back(), seen);
    }
    return rows;
}

bool under(const std::string& path, const std::string& folder) {
    return path.rfind(folder, 0) == 0;
}
// The condition holds now and still after the pause: a state, not a moment of a change.
bool stays(const std::function<bool()>& cond, std::chrono::milliseconds pause) {
    if (!cond()) return false;
    std::this_thread::sleep_for(pause);
    return cond();
}
std::string jobFile(int job) { return "/tmp/bt" + std::to_string(job) + ".cmd"; }

// The kernel's node of the stick's file system (/dev/sdb1), as the stick tool recorded it.
std::string fsDevice(int slot) {
    std::istringstream state(sim::readFile("/sim/sticks/" + std::to_string(slot) + ".state"));
    for (std::string line; std::getline(state, line);)
        if (line.rfind("kname=", 0) == 0) return "/dev/" + line.substr(6);
    return "";
}

// What blkid reads from the stick's volume now, its bytes undecoded ("" when none).
std::string blkidOf(int slot, const std::string& key) {
    std::string value = sim::shellOutput("blkid -c /dev/null -d -s " + key + " -o value " +
                                         fsDevice(slot) + " 2>/dev/null");
    if (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
}

// The stick's whole device: its file system's partition /dev/sdb1 lies on /dev/sdb.
std::string diskOf(int slot) {
    std::string disk = fsDevice(slot);
    while (!disk.empty() && isdigit(static_cast<unsigned char>(disk.back()))) disk.pop_back();
    return disk;
}

// The size the stick's device claims, in MiB (a kept stick's row does not give it).
long claimedMiB(int slot) {
    const std::string size = sim::readFile("/sys/class/block/" + diskOf(slot).substr(5) + "/size");
    return size.empty() ? 0 : std::stol(size) / 2048;
}

// The sector of the stick's device that holds the folder entry of a file named in 8.3 capitals
// ("f50" is stored as "F50" and eleven bytes, blank-padded); -1 when none does.
long entrySector(int slot, const std::string& path) {
    std::string entry = path.substr(path.rfind('/') + 1);
    for (char& c : entry) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    entry.resize(11, ' ');
    std::ifstream device(diskOf(slot), std::ios::binary);
    std::string chunk(1 << 16, '\0');
    for (long at = 0; device.read(chunk.data(), chunk.size()) || device.gcount() > 0;) {
        for (long i = 0; i + 11 <= device.gcount(); i += 32)
            if (chunk.compare(i, 11, entry) == 0) return (at + i) / 512;
        at += device.gcount();
    }
    return -1;
}

// A file system the kernel still holds after its lazy unmount (a file of it was open): its last
// writes and its clean flag are yet to come, and a stick pulled now is damaged.
bool stillHeld(int slot) {
    const std::string node = fsDevice(slot);
    const int fd =
        node.empty() ? -1 : open(node.c_str(), O_RDONLY | O_EXCL | O_NONBLOCK | O_CLOEXEC);
    const bool busy = fd < 0 && errno == EBUSY;
    if (fd >= 0) close(fd);
    return busy;
}

// Mounts the stick privately for the object's lifetime, straight through the kernel (a program per
// mount costs tens of milliseconds in the emulated computer); root is "" when that failed.
struct PrivateMount {
    explicit PrivateMount(int slot) {
        const std::string device = fsDevice(slot), dir = "/sim/mnt/" + std::to_string(slot);
        (void)mkdir(dir.c_str(), 0755);
        const auto mounts = [&](const char* type) {
            return mount(device.c_str(), dir.c_str(), type, 0, "utf8") == 0;
        };
        if (!device.empty() && (mounts("vfat") || mounts("udf")))
            root = dir;
        else
            ADD_FAILURE() << "cannot mount stick " << slot << " (" << device
                          << "): " << strerror(errno);
    }
    ~PrivateMount() {
        // Lazily when busy: the private mount must be gone whatever happened inside.
        if (!root.empty() && umount2(root.c_str(), 0) != 0) (void)umount2(root.c_str(), MNT_DETACH);
    }
    std::string root;
};

// The stick's file system made again as UDF, which holds links: its log.txt a link to an
// appliance file that a daemon following it would overwrite.
bool makeUdf(int slot) {
    const std::string made = "mkudffs --utf8 --media-type=hd " + fsDevice(slot) + " >/dev/null";
    if (system(made.c_str()) != 0 || !sim::writeFile("/tmp/victim.txt", "appliance file")) {
        return false;
    }
    const PrivateMount m(slot);
    return !m.root.empty() && symlink("/tmp/victim.txt", (m.root + "/log.txt").c_str()) == 0;
}

Sums sumsBelow(const std::string& root);

// Writes each file whole on the stick, its folders first ("a/b/" makes folders only), and takes
// the stick's sums while it is mounted still: read from memory, not from the stick again.
bool putFiles(int slot, const Files& files, Sums& sums) {
    if (files.empty()) return true;
    const PrivateMount m(slot);
    if (m.root.empty()) return false;
    for (const auto& [relPath, content] : files) {
        const fs::path path = m.root + "/" + relPath;
        std::error_code ec;
        fs::create_directories(path.parent_path(), ec);
        if (relPath.back() == '/') continue;
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f << content;
        f.close();
        if (!f) {
            ADD_FAILURE() << "cannot write " << relPath << " on stick " << slot;
            return false;
        }
    }
    sums = sumsBelow(m.root);
    return true;
}

std::string fileText(int slot, const std::string& path) {
    const PrivateMount m(slot);
    return m.root.empty() ? "" : sim::readFile(m.root + "/" + path);
}

// The library's own hash, compiled for speed whatever this build: enough to see a changed or
// truncated file.
std::string sum(const std::string& content) {
    return std::to_string(std::hash<std::string>{}(content));
}

// Entry -> the sum of its content ("dir" for "a/").
Sums sumsBelow(const std::string& root) {
    Sums sums;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string path = it->path().string().substr(root.size() + 1);
        if (it->is_directory(ec))
            sums[path + "/"] = "dir";
        else
            sums[path] = sum(sim::readFile(it->path()));
    }
    return sums;
}

Sums stickSums(int slot) {
    const PrivateMount m(slot);
    return m.root.empty() ? Sums{} : sumsBelow(m.root);
}

// Content kinds: files and their text ("%" stands for the slot).
const std::map<std::string, Files> kContent = {
    {"material", {{"TAMVIK-OUT/lesson.txt", "lesson"}, {"TAMVIK-OUT/ex/sheet.txt", "sheet"}}},
    {"work", {{"TAMVIK-OUT/answer.txt", "answer %"}, {"TAMVIK-OUT/sub/notes.txt", "notes %"}}},
    {"old", {{"old/work.txt", "old %"}, {"old.txt", "o"}}},
    {"dup", {{"dup.cfg", ""}}},
    {"telvo",
     {{"TELVO/Maths-out/sheet.txt", "x^2"},
      {"TELVO/Phys-OUT/lab/g.txt", "9.81"},
      {"TELVO/notes-out", "a file"}}},
    {"telvowork",
     {{"Maths-out/hw/1.txt", "hw %"}, {"Maths-in/sheet.txt", "given"}, {"keep.txt", "k"}}},
    {"hostile",
     {{"TAMVIK-OUT/$(touch pwned1)", "1"},
      {"TAMVIK-OUT/`touch pwned2`", "2"},
      {"TAMVIK-OUT/x;touch pwned3", "3"},
      {"TAMVIK-OUT/& touch pwned4 &", "4"},
      {"TAMVIK-OUT/it's a 'quote'", "q"},
      {"TAMVIK-OUT/ lead blank", "b"},
      {"TAMVIK-OUT/élève — 学生.txt", "u"},
      {"TAMVIK-OUT/-rf", "r"},
      {"TAMVIK-OUT/zero", ""},
      {"TAMVIK-OUT/" + std::string(255, 'n'), "long"}}},
};

// The alphabet over and over, restarting every 64 KiB.
std::string alphabet(long bytes) {
    std::string text(static_cast<size_t>(bytes), 'a');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>('a' + i % (64 * 1024) % 26);
    return text;
}

// Adds the files of a content kind ("file:PATH=TEXT", "big:MIB", ...) to `files`.
bool addContent(Files& files, int slot, const std::string& kind, const std::string& arg) {
    const size_t eq = arg.find('=');
    std::string deep = "TAMVIK-OUT";
    if (kind == "file")
        files.emplace_back(arg.substr(0, eq), eq == npos ? "" : arg.substr(eq + 1));
    else if (kind == "big")
        files.emplace_back("TAMVIK-OUT/big.bin", alphabet(std::stol(arg) << 20));
    else if (kind == "dir")
        files.emplace_back(arg + "/", "");
    else if (kind == "slow") {   // in TAMVIK-OUT, or in the folder named
        const std::string folder = arg.empty() ? deep : arg;
        files.insert(files.end(), {{folder + "/a/slow.bin", alphabet(512L << 10)},
                                   {folder + "/b/after.txt", "after"}});
    } else if (kind == "many") {   // in TAMVIK-OUT/many, or in the folder named (many:N:FOLDER)
        const size_t colon = arg.find(':');
        const std::string folder = colon == npos ? deep + "/many" : arg.substr(colon + 1);
        for (int i = 0; i < std::stoi(arg); ++i)
            files.emplace_back(folder + "/f" + std::to_string(i), "");
    } else if (kind == "deep") {
        for (int i = 0; i < std::stoi(arg); ++i) deep += "/d";
        files.emplace_back(deep + "/bottom.txt", "bottom");
    } else if (kind == "update" || kind == "cutupdate" || kind == "badupdate") {
        // An archive whose script leaves a trace, then a payload; cut: ends inside the
        // payload, its script whole; bad: a script that fails.
        const std::string script = "#!/bin/sh\\necho updated >> /tmp/update-trace\\n" +
                                   std::string(kind[0] == 'b' ? "exit 3\\n" : "");
        const std::string make =
            "mkdir -p /tmp/pkg && printf '" + script + "' > /tmp/pkg/ruzedirevora.sh && " +
            "chmod 755 /tmp/pkg/ruzedirevora.sh && head -c 16384 /dev/zero > /tmp/pkg/payload && " +
            "tar -cf /tmp/pkg.tar -C /tmp/pkg ruzedirevora.sh payload" +
            (kind[0] == 'c' ? " && truncate -s 10240 /tmp/pkg.tar" : "");
        EXPECT_EQ(system(make.c_str()), 0);
        files.emplace_back(arg, sim::readFile("/tmp/pkg.tar"));
    } else if (!kContent.count(kind))
        return false;
    for (auto [path, text] : kContent.count(kind) ? kContent.at(kind) : Files{}) {
        if (text.find('%') != npos) text.replace(text.find('%'), 1, std::to_string(slot));
        files.emplace_back(path, text);
    }
    return true;
}

// The first and the last slot: "3=..." names slot 3, "1-16=..." the sixteen students.
std::pair<int, int> slots(const std::string& text) {
    const size_t dash = text.find('-');
    return {std::stoi(text),
            dash < text.find('=') ? std::stoi(text.substr(dash + 1)) : std::stoi(text)};
}

struct Stick {
    int slot;
    bool nofs, slow, kept, udf, fake;
    Files files;
    std::vector<std::string> plug;
    int sizeMiB = 64;
};

// A stick as the table's header describes it, e.g. "3=64,label:CLASS A,work".
Stick parseStick(int slot, const std::string& text) {
    Stick stick{slot, false, false, false, false, false, {}, {"plug", std::to_string(slot)}};
    std::vector<std::string>& plug = stick.plug;   // the stick tool's arguments
    const size_t eq = text.find('=');
    for (const std::string& item : split(eq == npos ? "" : text.substr(eq + 1), ',')) {
        const size_t colon = item.find(':');
        const std::string kind = item.substr(0, colon),
                          arg = colon == npos ? "" : unescape(item.substr(colon + 1));
        stick.nofs = stick.nofs || kind == "nofs";
        stick.kept = stick.kept || kind == "kept";
        stick.udf = stick.udf || kind == "udf";
        stick.fake = stick.fake || kind == "fake" || kind == "lossy";
        if (isdigit(static_cast<unsigned char>(kind[0]))) {
            stick.sizeMiB = std::stoi(kind);
            plug.insert(plug.end(), {"--size", std::to_string(stick.sizeMiB * 1024)});
        } else if (kind == "label") {
            plug.insert(plug.end(), {"--raw-label", arg});
        } else if (kind == "fake" || kind == "lossy") {   // a counterfeit of that many MiB
            plug.insert(plug.end(), {"--fake", std::to_string(std::stoi(arg) * 1024)});
            if (kind == "lossy") plug.push_back("--lose");
        } else if (kind == "part0") {
            plug.insert(plug.end(), {"--part", "0"});
        } else if (kind == "udf") {
            continue;   // made once the stick is plugged
        } else if (kind == "nofs" || kind == "kept") {
            plug.push_back("--" + kind);
        } else {
            EXPECT_TRUE(addContent(stick.files, slot, kind, arg)) << "unknown content " << kind;
        }
        stick.slow = stick.slow || kind == "slow";   // a test can act mid-copy
    }
    return stick;
}

// What the kernel counted for a stick's device since it was plugged: commands done and failed
// (-1: not known, the device gone). Read without a program: faults timed for a moment must land.
struct Counts {
    long asked = -1, done = -1, failed = -1;
};
Counts counts(const std::string& slot) {
    const std::string disk = diskOf(std::stoi(slot)),
                      device = "/sys/class/block/" + disk.substr(std::min<size_t>(5, disk.size()));
    const std::string asked = sim::readFile(device + "/device/iorequest_cnt"),
                      done = sim::readFile(device + "/device/iodone_cnt"),
                      failed = sim::readFile(device + "/device/ioerr_cnt");
    if (disk.empty() || asked.empty() || done.empty() || failed.empty()) return {};
    return {std::stol(asked, nullptr, 16), std::stol(done, nullptr, 16),
            std::stol(failed, nullptr, 16)};
}

// How often the kernel saw a USB device go, read from its log buffer without starting a program:
// a pull timed for a moment in a copy must land while that copy still runs.
long disconnects() {
    const int size = klogctl(10, nullptr, 0);   // the buffer's size
    std::string log(static_cast<size_t>(std::max(size, 0)), '\0');
    log.resize(static_cast<size_t>(std::max(klogctl(3, log.data(), size), 0)));   // all of it
    long n = 0;
    for (size_t at = 0; (at = log.find("USB disconnect", at)) != npos; ++at) ++n;
    return n;
}

// A fault as the table's header describes it, e.g. "pull 1 @1=3": what (see strike) and when (see
// due); for a stick's fault, the stick's counts when it struck and what showed it reached the
// stick.
struct Fault {
    std::vector<std::string> what;
    std::string when;
    bool done = false;
    Counts before;
    long gone = 0;
    std::string proof;
};
const std::string kStickFaults =
    " pull break replug plug hang failwrites slow speed stall flaky badread ";
bool stickFault(const Fault& f) { return kStickFaults.find(" " + f.what[0] + " ") != npos; }
// A fault that takes the stick away: the kernel's log proves it.
bool unplugs(const Fault& f) {
    return f.what[0] == "pull" || f.what[0] == "break" || f.what[0] == "replug";
}
// A stick that does not answer (opening it would wait with it), unless onlySilent also one pulled.
bool asleep(const std::vector<Fault>& faults, int slot, bool onlySilent) {
    return std::any_of(faults.begin(), faults.end(), [&](const Fault& f) {
        const bool silent = f.what[0] == "hang" || f.what[0] == "stall";
        return f.what.size() > 1 && f.what[1] == std::to_string(slot) &&
               (silent || (!onlySilent && unplugs(f)));
    });
}

// What shows that a stick's fault reached the stick ("" while nothing does): I/O it made fail, I/O
// it held or slowed (counted once it is answered), the kernel's record of the stick going.
std::string struck(const Fault& f) {
    const std::string& kind = f.what[0];
    if (unplugs(f)) return disconnects() > f.gone ? "the kernel saw it go" : "";
    if (kind == "plug") return exists("/dev/tmvl" + f.what[1] + "-part1") ? "named by udev" : "";
    const Counts now = counts(f.what[1]);
    if (now.failed > f.before.failed)
        return std::to_string(now.failed - f.before.failed) + " I/O failed";
    if ((kind == "hang" || kind == "stall") && now.asked > now.done)   // waiting for the stick
        return std::to_string(now.asked - now.done) + " I/O held";
    if ((kind == "hang" || kind == "slow" || kind == "speed") && now.done > f.before.done)
        return std::to_string(now.done - f.before.done) + " I/O " +
               (kind == "hang" ? "held" : "slowed");
    return "";
}

size_t gLogStart = 0, gEventStart = 0;   // log sizes when the job was requested
std::map<int, Sums> gBefore;             // every stick's content before the job
const Row* gRow = nullptr;               // the row being run
std::ofstream gReport;   // the group's part of the report, when the appliance has an out folder

// Whether a fault that waits for a moment in the job strikes now (logs: since the request; paths:
// seen through the daemon's mount points).
bool due(const Fault& f) {
    if (f.when.rfind("log ", 0) == 0)
        return sim::consoleLog().find(f.when.substr(4), gLogStart) != npos ||
               sim::readFile("/tmp/logC.txt").find(f.when.substr(4), gEventStart) != npos;
    if (f.when[0] == '/') return exists(f.when);
    if (f.when.rfind("mounted ", 0) == 0)
        return sim::readFile("/proc/mounts")
                   .find(mountPointOf(std::stoi(f.when.substr(8))) + " ") != npos;
    return sim::word(std::stoi(f.when)) == std::stoi(f.when.substr(f.when.find('=') + 1));
}

void strike(Fault& f, int job) {
    const std::string& kind = f.what[0];
    // What fails shows at once: counted before the fault. What is held or slowed is answered only
    // later: counted once the fault is in place. A pull needs no counts: the kernel's log proves
    // it.
    const bool answeredLater =
        kind == "hang" || kind == "slow" || kind == "speed" || kind == "stall";
    if (stickFault(f)) f.gone = disconnects();
    if (stickFault(f) && !unplugs(f) && !answeredLater) f.before = counts(f.what[1]);
    if (kind == "break") {
        // Its contacts go first: every I/O fails at once, and the hub reports the stick gone a
        // moment later, as a board's does. Until then the stick's names stay.
        EXPECT_TRUE(sim::stick({"failafter", f.what[1], "0"}));
        std::this_thread::sleep_for(150ms);
        EXPECT_TRUE(sim::stick({"pull", f.what[1]}));
    } else if (kind == "badread") {   // the folder that lists the file loses a sector
        const long sector = entrySector(std::stoi(f.what[1]), f.what.at(2));
        ASSERT_GE(sector, 0) << "no folder entry of " << f.what[2];
        EXPECT_TRUE(sim::stick({"badsector", f.what[1], std::to_string(sector)}));
    } else if (stickFault(f) || kind == "resume")
        EXPECT_TRUE(sim::stick(f.what));
    else if (kind == "write") {   // an appliance file: write /replist Maths\x0d\x0a
        std::filesystem::create_directories(std::filesystem::path(f.what.at(1)).parent_path());
        std::ofstream(f.what[1], std::ios::binary | std::ios::trunc)
            << (f.what.size() > 2 ? unescape(f.what[2]) : "");
    } else if (kind == "remove") {   // an appliance file that was there goes: remove /replist
        std::error_code error;
        EXPECT_TRUE(std::filesystem::remove(f.what.at(1), error)) << f.what[1] << " was not there";
    } else if (kind == "fill")   // until the stick is full: the copy meets a full stick
        EXPECT_NE(
            system(
                ("/sim/bin/stick put " + f.what[1] + " filler.bin </dev/zero 2>/dev/null").c_str()),
            0);
    else if (kind == "press") {   // a press of a person's hand, then let go
        sim::pressButton(kButtons.at(f.what.at(1)));
        std::this_thread::sleep_for(300ms);
        sim::releaseButton(kButtons.at(f.what[1]));
    } else if (kind == "cancel") {   // "cancel held": let go a second after the job ended
        sim::pressButton(kShift);
        EXPECT_TRUE(sim::waitFor([] { return exists("/tmp/bt4.cmd"); }, kStep));
        if (f.what.size() > 1) {
            EXPECT_TRUE(sim::waitFor([job] { return !exists(jobFile(job)); }, kStep));
            std::this_thread::sleep_for(1s);
        }
        sim::releaseButton(kShift);
    } else if (kind == "power") {
        // The power goes: the sticks as they were are kept for the next boot, which
        // reads back what they held before (a kept stick); nothing is flushed.
        std::ofstream out("/sim/out/" + std::string(getenv("STICKDUP_GROUP")) + ".sums");
        for (const auto& [s, sums] : gBefore)
            for (const auto& [path, sum] : sums) out << s << '\t' << path << '\t' << sum << '\n';
        out.close();
        // This boot ends here: its report line now, the next boot checks what the cut did.
        gReport << "| " << gRow->name << " | " << gRow->sticks << " | " << gRow->jobText << " | "
                << gRow->faults << " | | the power went mid-job | the next boot checks |"
                << std::endl;
        EXPECT_EQ(system("echo o > /proc/sysrq-trigger"), 0);
        std::this_thread::sleep_for(1h);
    } else if (kind == "crash") {
        // The job's worker dies as in a crash, alone: what it runs goes on without it.
        int crashed = 0;
        for (const auto& entry : fs::directory_iterator("/proc")) {
            const pid_t pid = atoi(entry.path().filename().c_str());
            const bool worker =
                pid > 0 && getpgid(pid) == pid && getsid(pid) != pid &&
                sim::readFile("/proc/" + std::to_string(pid) + "/comm") == "stickdupd\n";
            if (worker) crashed += kill(pid, SIGKILL) == 0;
        }
        EXPECT_EQ(crashed, 1) << "no worker to crash";
    } else if (kind == "kill") {
        // Every process of the daemon at once, then a start as after a reboot of
        // the daemon alone: /tmp and the segment stay; the job file asks again.
        sim::stopDaemon();
        sim::startDaemon();
        EXPECT_TRUE(exists(jobFile(job)));
    } else
        ADD_FAILURE() << "unknown fault " << kind;
    if (answeredLater) f.before = counts(f.what[1]);
}

void press(const Job& job) {
    if (job.shift) sim::pressButton(kShift);
    sim::pressButton(job.button);
    if (job.also >= 0) sim::pressButton(job.also);
    if (job.button == kClear) {   // hold about a second, let go at the prompt, press again
        EXPECT_TRUE(sim::waitFor([] { return sim::gpioValue(sim::kLed3) == "1"; }, kStep));
        sim::releaseButton(kClear);
        sim::releaseButton(kShift);
        std::this_thread::sleep_for(400ms);   // the operator's hand; the panel looks every 100 ms
        sim::pressButton(kClear);
    }
    const std::string marker = "/tmp/showresult" + std::to_string(job.number) + ".cmd";
    EXPECT_TRUE(sim::waitFor(
        [&] {
            return job.number ? exists(marker) && exists(jobFile(job.number))
                              : sim::functionLeds() == "1111";
        },
        kStep))
        << "the buttons asked for no job";
    sim::releaseButton(job.button);
    if (job.also >= 0) sim::releaseButton(job.also);
    if (job.held) std::this_thread::sleep_for(3s);   // a slow hand, past the panel's pause
    sim::releaseButton(kShift);                      // otherwise within the panel's 2 s pause
}

// What the operation process ran after the job first removed its request: the result
// shows from then on, so only the runner's own removal of it may follow.
std::string ranAfterResult(int job) {
    const std::string events = sim::readFile("/tmp/logC.txt"), rm = "to_system rm " + jobFile(job);
    std::istringstream lines(events.substr(std::min(gEventStart, events.size())));
    std::string late;
    bool shown = false;
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find("= to_system ");
        if (at == npos) continue;
        const bool removal = line.compare(at + 2, npos, rm) == 0;
        if (shown && !removal) late += " " + line.substr(at + 12);
        shown = shown || removal;
    }
    return late;
}

// A pattern that holds for eight LED frames (1.2 s) is steady; a blinking one
// shows the job's LEDs dark in some frame.
bool resultShows(const std::string& leds, bool blinking) {
    if (blinking)
        return sim::waitFor([] { return sim::functionLeds() == "0000"; }, kStep) &&
               sim::waitFor([&] { return sim::functionLeds() == leds; }, kStep);
    auto since = std::chrono::steady_clock::now();
    return sim::waitFor(
        [&] {
            const auto now = std::chrono::steady_clock::now();
            if (sim::functionLeds() != leds) since = now;
            return now - since >= 1200ms;
        },
        kStep);
}

// Files of `before` that are gone or changed in `after`, and files added outside
// the folders the job may fill (`mayFill` prefixes); root log.txt may change.
std::string damage(const Sums& before, const Sums& after, const std::vector<std::string>& mayFill) {
    std::string found;
    for (const auto& [path, sum] : before)
        if (sum != "dir" && path != "log.txt" && path != "filler.bin" &&
            (!after.count(path) || after.at(path) != sum))
            found += " lost:" + path;
    for (const auto& [path, sum] : after) {
        bool allowed =
            before.count(path) || sum == "dir" || path == "log.txt" || path == "filler.bin";
        for (const std::string& folder : mayFill) allowed = allowed || under(path, folder);
        if (!allowed) found += " added:" + path;
    }
    return found;
}

// The folders of `sums` that a job hands on: TAMVIK-OUT, a subject's -out folder
// (any case), or the whole stick.
std::vector<std::string> sources(const Sums& sums, bool whole, const std::string& subjects) {
    if (whole) return {""};
    if (subjects.empty() && sums.count("TAMVIK-OUT/")) return {"TAMVIK-OUT/"};
    std::vector<std::string> roots;
    for (const auto& [path, sum] : sums) {
        if (sum == "dir" && under(path, subjects) &&
            std::count(path.begin(), path.end(), '/') == 1 + !subjects.empty() && path.size() > 5 &&
            !strcasecmp(path.c_str() + path.size() - 5, "-out/"))
            roots.push_back(path);
    }
    return roots;
}

// A student's volume: its label's bytes and its serial.
struct Volume {
    std::string label, serial;
};
Volume volumeOf(int slot) { return {blkidOf(slot, "LABEL"), blkidOf(slot, "UUID")}; }

// The students' folders of the master's subjects: each -out folder of its TELVO and its -in twin
// (none in folder mode). A special-folder clear empties and makes again both, a distribute fills
// the -in ones only.
std::vector<std::string> subjectFolders(const std::map<int, Sums>& before, bool inOnly = false) {
    std::vector<std::string> folders;
    if (!before.count(0)) return folders;
    for (const std::string& out : sources(before.at(0), false, "TELVO/")) {
        const std::string name = out.substr(6);   // "Maths-out/"
        if (!inOnly) folders.push_back(name);
        folders.push_back(name.substr(0, name.size() - 4) + "in/");
    }
    return folders;
}

bool underAny(const std::string& path, const std::vector<std::string>& folders) {
    return std::any_of(folders.begin(), folders.end(),
                       [&](const std::string& f) { return under(path, f); });
}

// What a clear must leave on a student it marked done. Whole-stick: nothing, no label. Special
// folders: each emptied and made again, nothing else touched. Folder mode: TAMVIK-OUT/ and
// TAMVIK-IN/ alone and empty, the label byte for byte, a new serial where the stick is formatted
// (from 90 MiB), the hidden entries as they were where it is only emptied.
std::string clearedWrong(bool whole, const std::vector<std::string>& folders, bool formats,
                         const Sums& before, const Sums& after, const Volume& was,
                         const Volume& now) {
    if (whole) return after.empty() && now.label.empty() ? "" : " not wiped whole";
    std::string found;
    if (!folders.empty()) {
        for (const std::string& folder : folders)
            if (!after.count(folder)) found += " not made again:" + folder;
        for (const auto& [path, sum] : after)
            if (underAny(path, folders)
                    ? sum != "dir" || !count(folders.begin(), folders.end(), path)
                    : !before.count(path) || before.at(path) != sum)
                found += " wrong:" + path;
        for (const auto& [path, sum] : before)
            if (!underAny(path, folders) && !after.count(path)) found += " lost:" + path;
        return found;
    }
    for (const auto& [path, sum] : after) {
        const bool kept =
            !formats && path[0] == '.' && before.count(path) && before.at(path) == sum;
        if (path != "TAMVIK-OUT/" && path != "TAMVIK-IN/" && !kept) found += " left:" + path;
    }
    if (!after.count("TAMVIK-OUT/") || !after.count("TAMVIK-IN/")) found += " folders not made";
    if (now.label != was.label) found += " label changed";
    if (formats == (now.serial == was.serial)) found += formats ? " not formatted" : " formatted";
    return found;
}

// Every receipt on the master checks out with sha256sum, as on a teacher's computer (one of a
// session where nobody was collected lists nothing, and sha256sum checks nothing).
std::string receiptsFail() {
    const PrivateMount m(0);
    if (m.root.empty()) return " master unreadable";
    return sim::shellOutput(
        "cd " + m.root +
        " && for f in TAMVIK-IN/*/SHA256SUMS TELVO/*SHA256SUMS; do "
        "[ ! -s \"$f\" ] || (cd \"${f%/*}\" && sha256sum -c --quiet \"${f##*/}\" >/dev/null 2>&1) "
        "|| echo \" receipt fails: $f\"; done");
}

// Every file below a source root must be on `to` with the same content, at a path that ends with
// its place below that root and, when `mark` is given, lies in a folder named after the student
// ("UE3", "UE3 LABEL").
std::string missing(const Sums& from, const std::vector<std::string>& roots, const Sums& to,
                    const std::string& mark) {
    std::string found;
    for (const auto& [path, sum] : from)
        for (const std::string& root : roots) {
            if (sum == "dir" || !under(path, root) || path == "log.txt") continue;
            const std::string rel = "/" + path.substr(root.size());
            bool there = false;
            for (const auto& [p, s] : to)
                there = there || (s == sum && endsWith("/" + p, rel) &&
                                  (mark.empty() || p.find("/" + mark + "/") != npos ||
                                   p.find("/" + mark + " ") != npos));
            if (!there) found += " " + path;
        }
    return found;
}

struct Scenario : testing::TestWithParam<Row> {
    static void SetUpTestSuite() {
        if (exists("/sim/out"))
            gReport.open(std::string("/sim/out/") + getenv("STICKDUP_GROUP") + ".md");
        sim::startDaemon();
    }
    static void TearDownTestSuite() { sim::stopDaemon(); }
};

TEST_P(Scenario, Row) {
    const Row& row = GetParam();
    gRow = &row;
    // The list files select nothing until a row's own faults fill them, whatever the row before.
    ASSERT_TRUE(sim::writeFile("/replist", "") && sim::writeFile("/filelist", ""));
    std::vector<Stick> sticks;
    for (const std::string& text : split(row.sticks, ';'))
        for (auto [slot, to] = slots(text); slot <= to; ++slot)
            sticks.push_back(parseStick(slot, text));
    // Past the job's own limit (below) and every check's: a row that hangs fails with its cause.
    const sim::Watchdog watchdog(std::chrono::seconds(900 + 25 * sticks.size()));
    std::vector<Fault> faults;
    for (const std::string& text : split(row.faults, ';')) {
        const size_t at = text.find('@');
        Fault& f = faults.emplace_back();
        f.what = split(text.substr(0, at), ' ');
        f.when = at == npos ? "" : text.substr(at + 1);
    }
    const Job& job = row.job;
    const int reboots = sim::shimCalls("reboot");
    const std::string version = sim::readFile("/dazuzorizizar");   // an update reboots once

    // Plug, fill, remember every file, then the faults that strike before the job.
    std::map<int, Sums>& before = gBefore = {};
    for (Stick& s : sticks) {
        ASSERT_TRUE(sim::stick(s.plug));
        if (s.nofs) continue;
        ASSERT_TRUE(!s.udf || makeUdf(s.slot)) << "stick " << s.slot << " not made UDF";
        // A kept stick may not mount (the cut came mid-format): what it held is in the saved sums.
        before[s.slot] = s.udf ? stickSums(s.slot) : Sums{};
        ASSERT_TRUE(putFiles(s.slot, s.files, before[s.slot]));
        if (s.fake) before[s.slot] = stickSums(s.slot);   // what it holds, not what it was told
        // Reads of 75 kB/s: a copy of its 512 KiB lasts seconds, long enough for a fault to strike
        // in it.
        if (s.slow) sim::stick({"speed", std::to_string(s.slot), "75", "0"});
        // A kept stick: what the sticks held before the power cut, as the boot before saved it
        // when the cut struck. Without it the cut never came, and nothing here would be proved.
        const std::string saved =
            s.kept ? sim::readFile("/sim/out/" + gRow->group.substr(5) + ".sums") : "";
        ASSERT_TRUE(!s.kept || !saved.empty()) << "the power cut never struck mid-job";
        std::istringstream in(saved);
        for (std::string slot, path, sum;
             std::getline(in, slot, '\t') && std::getline(in, path, '\t') && std::getline(in, sum);)
            before[std::stoi(slot)][path] = sum;
    }
    std::map<int, Volume> volumes;   // what a clear must keep or change
    for (const Stick& st : sticks)
        if (job.button == kClear && st.slot && !st.nofs) volumes[st.slot] = volumeOf(st.slot);
    // A stick's fault is proved before a later one on the same stick (a pull) ends what it showed.
    const auto strikeNow = [&](Fault& f) {
        for (Fault& g : faults)
            if (g.done && g.proof.empty() && stickFault(g) && stickFault(f) &&
                g.what[1] == f.what[1])
                g.proof = struck(g);
        strike(f, job.number);
        f.done = true;
    };
    for (Fault& f : faults)
        if (f.when.empty() || f.when == "start") strikeNow(f);
    ASSERT_TRUE(sim::waitFor(
        [&] {
            return std::all_of(sticks.begin(), sticks.end(),
                               [](const Stick& s) { return sim::word(s.slot) == 2; });
        },
        kStep))
        << "the presence refresh does not see every stick";

    // What the runner wrote is in the page cache: a faulty stick must be read from the device.
    if (!faults.empty()) {
        EXPECT_EQ(system("sync; echo 3 > /proc/sys/vm/drop_caches"), 0);
    }
    gLogStart = sim::consoleLog().size();
    gEventStart = sim::readFile("/tmp/logC.txt").size();
    press(job);
    // A whole job under the slow kernel: long enough for a watchdog's 60 s and a stick the kernel
    // gives up on after 70 s, short enough that a watchdog that never gives up fails its row within
    // minutes.
    ASSERT_TRUE(sim::waitFor(
        [&] {
            for (Fault& f : faults)
                if (!f.done && due(f)) strikeNow(f);
            if (job.number) return !exists(jobFile(job.number));
            // The update signal steps its four LEDs one by one: the ready pattern that stays.
            return stays([] { return sim::functionLeds() == "0011"; }, 300ms);
        },
        std::chrono::seconds(300 + 25 * sticks.size())))
        << "the job did not end";
    for (const Fault& f : faults)
        EXPECT_TRUE(f.done) << "never struck: " << f.what[0] << " @" << f.when;
    // The job removes its file before it releases the master; the runner removes it
    // once more, last: then the operation process falls silent. An update runs in the
    // button process: it has ended once the pattern settled.
    const std::string last = "= to_system rm " + jobFile(job.number) + "\n";
    EXPECT_TRUE(sim::waitFor(
        [&] {
            const std::string log = sim::readFile("/tmp/logC.txt");
            const auto unchanged = [&] {
                return endsWith(log, last) && sim::readFile("/tmp/logC.txt") == log;
            };
            const bool quiet = !job.number || stays(unchanged, 1s);   // the last line stays last
            return quiet && sim::readFile("/proc/mounts").find("/tmp/tamvik") == npos;
        },
        kStep))
        << "a stick stayed mounted or the job never ended: " << sim::readFile("/proc/mounts");
    if (job.number) {
        EXPECT_EQ(ranAfterResult(job.number), "") << "run after the result showed";
    }
    // A worker stuck in I/O on a stick that does not answer cannot end, and holds its files on the
    // other stick until the kernel lets it go: no stick is judged then.
    const bool stuck = std::any_of(sticks.begin(), sticks.end(),
                                   [&](const Stick& s) { return asleep(faults, s.slot, true); });
    for (const Stick& s : sticks)
        if (!stuck && !asleep(faults, s.slot, false)) {
            EXPECT_FALSE(stillHeld(s.slot))
                << "stick " << s.slot << ": unmounted, yet still written";
        }

    // Status words as "S=W " in slot order: listed slots as given, every other slot without a
    // stick.
    std::string expected, observed;
    for (const std::string& pair : split(row.words, ' '))
        for (auto [slot, to] = slots(pair); slot <= to; ++slot)
            expected += std::to_string(slot) + pair.substr(pair.find('=')) + " ";
    bool failure = false;
    std::map<int, int> ended;   // the words the job left: a dismissal gives way to the presence
    for (int slot = 0; slot <= 16; ++slot) {
        const int w = ended[slot] = sim::word(slot);
        if (w) observed += std::to_string(slot) + "=" + std::to_string(w) + " ";
        failure = failure || w == 5 || w == 6 || w == 7;
    }
    EXPECT_EQ(observed, expected) << "status words";
    if (job.number) {   // the result, then shift dismisses it
        EXPECT_TRUE(resultShows(job.result, failure))
            << "result pattern " << job.result << (failure ? " blinking" : "");
        sim::pressButton(kShift);
        EXPECT_TRUE(sim::waitFor([] { return !exists("/tmp/showresult.cmd"); }, kStep));
        sim::releaseButton(kShift);
        EXPECT_TRUE(sim::waitFor([] { return sim::functionLeds() == "0011"; }, kStep))
            << "no ready pattern";
    }

    // Every stick's fault must have reached its stick: what it made fail is counted now, what it
    // held once the stick is woken. Wake what the faults left asleep, then look at every stick
    // again.
    for (Fault& f : faults)
        if (f.proof.empty() && stickFault(f)) f.proof = struck(f);
    const std::map<std::string, std::string> wake = {{"hang", "resume"},  {"pull", "replug"},
                                                     {"break", "replug"}, {"stall", "replug"},
                                                     {"flaky", "steady"}, {"badread", "steady"}};
    for (const Fault& f : faults) {
        if (wake.count(f.what[0])) {
            EXPECT_TRUE(sim::stick({wake.at(f.what[0]), f.what.at(1)}));
        }
    }
    std::string proofs;
    for (Fault& f : faults) {
        if (!stickFault(f)) continue;
        if (f.proof.empty()) f.proof = struck(f);
        EXPECT_NE(f.proof, "") << "the fault never reached the stick: " << f.what[0] << " "
                               << f.what[1];
        proofs += "; " + f.what[0] + " " + f.what[1] + ": " +
                  (f.proof.empty() ? "never struck" : f.proof);
    }
    std::map<int, Sums> after;
    for (const auto& [slot, sums] : before) after[slot] = stickSums(slot);
    std::string broken;
    const std::string subjects =
        before.count(0) && !sources(before[0], false, "TELVO/").empty() ? "TELVO/" : "";
    if (job.button == kCollect) {
        if (before.count(0) && !asleep(faults, 0, false)) broken += receiptsFail();
        for (const auto& [slot, sums] : before) {
            broken += damage(sums, after[slot],
                             slot ? std::vector<std::string>{}
                                  : std::vector<std::string>{"TAMVIK-IN/", "TELVO/"});
            if (slot && ended[slot] == 4)
                broken += missing(sums, sources(sums, job.shift, ""), after[0],
                                  "UE" + std::to_string(slot));
        }
    } else if (before.count(0)) {
        broken += damage(before[0], after[0], {});
        std::vector<std::string> fills = {"TAMVIK-IN/"};
        if (!subjects.empty()) fills = subjectFolders(before, true);
        for (const auto& [slot, sums] : before) {
            if (!slot || job.button != kDistribute) continue;
            if (!job.shift) broken += damage(sums, after[slot], fills);
            if (ended[slot] == 4)
                broken +=
                    missing(before[0], sources(before[0], job.shift, subjects), after[slot], "");
        }
    }
    if (job.button == kClear) {
        const std::vector<std::string> folders = subjectFolders(before);
        for (const Stick& st : sticks)
            if (st.slot && !st.nofs && ended[st.slot] == 4)
                broken +=
                    clearedWrong(job.shift, folders, claimedMiB(st.slot) >= 90, before[st.slot],
                                 after[st.slot], volumes[st.slot], volumeOf(st.slot));
    }
    EXPECT_EQ(broken, "") << "files lost, changed, misplaced or missing";

    // The row's own checks, as the table's header describes them.
    for (const std::string& c : split(row.checks, ';')) {
        const std::string check = unescape(c);
        const size_t eq = check.find('=');
        if (check[0] == '/' && eq != npos) {
            EXPECT_EQ(sim::readFile(check.substr(0, eq)), check.substr(eq + 1)) << check;
            continue;
        }
        if (check[0] == '/' || check[0] == '!') {
            EXPECT_EQ(exists(check.substr(check[0] == '!')), check[0] == '/') << check;
            continue;
        }
        if (check.rfind("log^", 0) == 0) {   // what the console said since the request
            EXPECT_NE(sim::consoleLog().find(check.substr(4), gLogStart), npos) << check;
            continue;
        }
        const int slot = std::stoi(check);
        const size_t at = check.find_first_of("+-=~^"), end = check[at] == '=' || check[at] == '^'
                                                                  ? check.find(check[at], at + 1)
                                                                  : npos;
        const std::string path = check.substr(at + 1, end - at - 1);
        Sums& sums = after.count(slot) ? after[slot] : (after[slot] = stickSums(slot));
        const std::string text = end == npos ? "" : check.substr(end + 1);
        std::string seen = sums.count(path) ? "+" : "-", want = check.substr(at, 1);
        if (check[at] == '~') {
            seen = blkidOf(slot, "LABEL");
            want = path;
        } else if (check[at] == '=') {
            seen = sums[path];
            want = sum(text);
        } else if (check[at] == '^') {   // the file holds the text
            seen = fileText(slot, path);
            want = seen.find(text) != npos ? seen : text;
        }
        EXPECT_EQ(seen, want) << check;
    }
    for (const char* trap : {"pwned1", "pwned2", "pwned3", "pwned4"})
        EXPECT_FALSE(exists(std::string("/") + trap));
    EXPECT_EQ(sim::shimCalls("reboot"), reboots + (sim::readFile("/dazuzorizizar") != version))
        << "a stick's text ran a command";

    gReport << "| " << row.name << " | " << row.sticks << " | " << row.jobText << " | "
            << row.faults << " | " << row.words << " | " << observed << proofs << " | "
            << (HasFailure() ? "FAILED" : "as expected") << " |" << std::endl;
    const std::string log = sim::consoleLog();
    if (HasFailure())
        printf("console log, last part:\n%s\n",
               log.substr(log.size() > 5000 ? log.size() - 5000 : 0).c_str());
    for (const Stick& s : sticks)   // the faults' sticks are back: every stick is there to pull
        (void)sim::stick({"pull", std::to_string(s.slot)});
    for (const Fault& f : faults)
        if (f.what[0] == "plug") (void)sim::stick({"pull", f.what[1]});
    EXPECT_TRUE(sim::waitFor(
        [] {
            for (int i = 0; i <= 16; ++i)
                if (sim::word(i)) return false;
            return true;
        },
        kStep));
}

INSTANTIATE_TEST_SUITE_P(Table, Scenario, testing::ValuesIn(loadRows()),
                         [](const auto& row) { return row.param.id; });

}   // namespace
