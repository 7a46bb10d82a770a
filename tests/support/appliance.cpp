// Test support inside the appliance sim/appliance makes: sticks go through its stick
// tool, the shims log under /sim/calls, the GPIO value files are the sandbox's own.
#include "tests/support/appliance.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

extern char** environ;

namespace sim {
namespace {

int gPartition[17] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
pid_t gDaemon = -1;

// Mounts the stick privately for the object's lifetime, straight through the
// kernel (a program per mount costs too much under the user-mode kernel), on the
// device-mapper node the stick tool recorded; root is "" when that failed.
struct PrivateMount {
    explicit PrivateMount(int slot) {
        std::string device;
        std::istringstream state(readFile("/sim/sticks/" + std::to_string(slot) + ".state"));
        for (std::string line; std::getline(state, line);)
            if (line.rfind("kname=", 0) == 0) device = "/dev/" + line.substr(6);
        const std::string dir = "/sim/mnt/" + std::to_string(slot);
        (void)mkdir(dir.c_str(), 0755);
        if (!device.empty() && mount(device.c_str(), dir.c_str(), "vfat", 0, "utf8") == 0) root = dir;
        else ADD_FAILURE() << "sim: cannot mount stick " << slot << " (" << device << "): " << strerror(errno);
    }
    ~PrivateMount() {
        // Lazily when busy: the private mount must be gone whatever happened inside.
        if (!root.empty() && umount2(root.c_str(), 0) != 0) (void)umount2(root.c_str(), MNT_DETACH);
    }
    std::string root;
};

// FNV-1a over each file's content: enough to see a changed or truncated file.
void sumTree(const std::string& dir, const std::string& prefix, std::map<std::string, std::string>& sums) {
    DIR* d = opendir(dir.c_str());
    while (dirent* e = d ? readdir(d) : nullptr) {
        const std::string name = e->d_name, path = dir + "/" + name;
        struct stat st;
        if (name == "." || name == "..") continue;
        if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            sums[prefix + name + "/"] = "dir";
            sumTree(path, prefix + name + "/", sums);
            continue;
        }
        uint64_t hash = 1469598103934665603ull;
        for (unsigned char c : readFile(path)) hash = (hash ^ c) * 1099511628211ull;
        sums[prefix + name] = std::to_string(hash);
    }
    if (d) closedir(d);
}

std::string gpioPath(int gpio) { return "/sys/class/gpio/gpio" + std::to_string(gpio) + "/value"; }

// Writes a GPIO value in place, as sysfs does: a reader never sees it empty.
void writeGpio(int gpio, const char* value) {
    const int fd = open(gpioPath(gpio).c_str(), O_WRONLY);
    if (fd < 0 || pwrite(fd, value, 2, 0) != 2) ADD_FAILURE() << "sim: cannot write " << gpioPath(gpio);
    if (fd >= 0) close(fd);
}

int32_t* segment() {
    static int attached = -1;   // the segment a new appliance made is attached afresh
    static int32_t* words = nullptr;
    const int id = shmget(123654, 436, IPC_CREAT | 0666);
    if (id >= 0 && id != attached) {
        void* at = shmat(id, nullptr, 0);
        words = at == reinterpret_cast<void*>(-1) ? nullptr : static_cast<int32_t*>(at);
        attached = words ? id : -1;
    }
    if (!words) ADD_FAILURE() << "sim: no shared status segment: " << strerror(errno);
    return words;
}

}  // namespace

// Literal arguments: no shell reads a label or a path.
bool stick(std::vector<std::string> args) {
    args.insert(args.begin(), "/sim/bin/stick");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    fflush(stdout);
    pid_t pid = -1;
    int status = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0)
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) continue;
    if (status == 0) return true;
    ADD_FAILURE() << "sim: stick " << args[1] << " " << args[2] << " failed (" << status << ")";
    return false;
}

bool plugStick(int slot, const StickSpec& spec) {
    std::vector<std::string> args{"plug", std::to_string(slot), "--size", std::to_string(spec.sizeKiB),
                                  "--part", std::to_string(spec.partition)};
    if (!spec.label.empty()) args.insert(args.end(), {spec.rawLabel ? "--raw-label" : "--label", spec.label});
    if (spec.kept) args.push_back("--kept");
    gPartition[slot] = spec.partition;
    return stick(args);
}

std::string stickNode(int slot) {
    const std::string base = slot == 0 ? "/dev/tmvm1-part" : "/dev/tmvl" + std::to_string(slot) + "-part";
    return gPartition[slot] == 0 ? base : base + std::to_string(gPartition[slot]);
}

std::string stickLabel(int slot) {
    std::string label;
    FILE* p = popen(("blkid -c /dev/null -s LABEL -o value " + stickNode(slot) + " 2>/dev/null").c_str(), "r");
    for (int c; p && (c = fgetc(p)) != EOF;) label += static_cast<char>(c);
    if (p) pclose(p);
    if (!label.empty() && label.back() == '\n') label.pop_back();
    return label;
}

// Creates the parents, then writes the file whole; false (reported) on failure.
bool putFile(int slot, const std::string& relPath, const std::string& content) {
    const PrivateMount m(slot);
    if (m.root.empty()) return false;
    const std::string path = m.root + "/" + relPath;
    for (size_t pos = path.find('/', m.root.size() + 1); pos != std::string::npos; pos = path.find('/', pos + 1))
        (void)mkdir(path.substr(0, pos).c_str(), 0755);
    if (path.back() == '/') return true;
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (f << content && (f.close(), f)) return true;
    ADD_FAILURE() << "sim: cannot write " << relPath << " on stick " << slot;
    return false;
}

// The alphabet over and over, restarting every 64 KiB.
bool putBigFile(int slot, const std::string& relPath, long bytes) {
    std::string content(static_cast<size_t>(bytes), 'a');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + i % (64 * 1024) % 26);
    return putFile(slot, relPath, content);
}

std::string stickRead(int slot, const std::string& relPath) {
    const PrivateMount m(slot);
    return m.root.empty() ? "" : readFile(m.root + "/" + relPath);
}

std::map<std::string, std::string> stickSums(int slot) {
    std::map<std::string, std::string> sums;
    if (const PrivateMount m(slot); !m.root.empty()) sumTree(m.root, "", sums);
    return sums;
}

void pressButton(int gpio) { writeGpio(gpio, "0\n"); }
void releaseButton(int gpio) { writeGpio(gpio, "1\n"); }
std::string gpioValue(int gpio) { return readFile(gpioPath(gpio)).substr(0, 1); }
void removeGpio(int gpio) { if (unlink(gpioPath(gpio).c_str()) != 0) ADD_FAILURE() << "sim: cannot remove " << gpioPath(gpio); }

std::string functionLeds() {
    std::string leds;
    for (int gpio : {kLed4, kLed3, kLed2, kLed1}) leds += gpioValue(gpio).empty() ? "?" : gpioValue(gpio);
    return leds;
}

// The last two words of each i2cset call: register and value.
std::vector<std::pair<int, int>> boardBytes() {
    std::vector<std::pair<int, int>> pairs;
    std::istringstream lines(readFile("/sim/calls/i2cset.log"));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string a, b;
        for (std::string w; words >> w;) a = b, b = w;
        if (!a.empty()) pairs.emplace_back(std::stoi(a, nullptr, 16), std::stoi(b, nullptr, 16));
    }
    return pairs;
}

int shimCalls(const std::string& shim) {
    const std::string log = readFile("/sim/calls/" + shim + ".log");
    return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
}

int32_t word(int index) { int32_t* w = segment(); return w ? __atomic_load_n(&w[index], __ATOMIC_SEQ_CST) : 0; }
void setWord(int index, int32_t value) { if (int32_t* w = segment()) __atomic_store_n(&w[index], value, __ATOMIC_SEQ_CST); }

pid_t startDaemon() {
    if (gDaemon > 0) stopDaemon();
    const char* daemon = getenv("STICKDUP_DAEMON");
    if (!daemon || !*daemon) daemon = STICKDUP_DAEMON;
    const char* emulator = getenv("STICKDUP_EMULATOR");
    fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);   // its own group, so stopDaemon ends the whole family at once
        if (chdir("/") != 0) _exit(126);
        if (emulator && *emulator) execlp(emulator, emulator, daemon, static_cast<char*>(nullptr));
        else execl(daemon, daemon, static_cast<char*>(nullptr));
        fprintf(stderr, "sim: cannot start %s: %s\n", daemon, strerror(errno));
        _exit(127);
    }
    if (pid < 0) ADD_FAILURE() << "sim: fork: " << strerror(errno);
    else setpgid(pid, pid);   // both sides: no window in which a kill misses it
    gDaemon = pid;
    return pid;
}

std::string daemonProcessName() {
    const char* emulator = getenv("STICKDUP_EMULATOR");
    const char* daemon = getenv("STICKDUP_DAEMON");
    const std::string program = emulator && *emulator ? emulator : daemon && *daemon ? daemon : STICKDUP_DAEMON;
    return program.substr(program.rfind('/') + 1).substr(0, 15);
}

void stopDaemon() {
    if (gDaemon <= 0) return;
    const pid_t group = gDaemon;
    gDaemon = -1;
    (void)kill(-group, SIGKILL);
    while (waitpid(group, nullptr, 0) < 0 && errno == EINTR) continue;
    // The children are reaped by the appliance's init: wait until the group is empty.
    if (!waitFor([group] { return kill(-group, 0) != 0; }, 10s)) ADD_FAILURE() << "sim: the daemon's family lives on";
}

std::string consoleLog() { return readFile("/tmp/log.txt"); }

bool touch(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0) ADD_FAILURE() << "sim: cannot create " << path << ": " << strerror(errno);
    return fd >= 0 && close(fd) == 0;
}

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

bool waitFor(const std::function<bool()>& cond, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

}  // namespace sim
