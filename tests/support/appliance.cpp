// Test support for the simulated appliance (see appliance.h). Runs inside the
// appliance made by sim/appliance: sticks go through its stick tool, the shims log
// under /sim/calls, the GPIO value files are the sandbox's own.
#include "tests/support/appliance.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/mount.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace sim {
namespace {

constexpr const char* kStickTool = "/sim/bin/stick";
constexpr const char* kCallsDir = "/sim/calls/";
constexpr const char* kModeFile = "/sim/mode";
constexpr const char* kStickStateDir = "/sim/sticks/";
const std::string kPrivateMountDir = "/sim/mnt/";
constexpr key_t kSegmentKey = 123654;
constexpr size_t kSegmentBytes = 436;
constexpr int kSegmentWords = kSegmentBytes / 4;
constexpr int kSlots = 17;
constexpr auto kPollInterval = 20ms;
constexpr auto kDaemonEndTimeout = 10s;

// Partition each slot's stick was last plugged with: names its node.
std::array<int, kSlots> gPartition = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
pid_t gDaemon = -1;

bool validSlot(int slot) {
    if (slot >= 0 && slot < kSlots) return true;
    ADD_FAILURE() << "sim: slot " << slot << " is not 0..16";
    return false;
}

bool kernelModeOrFail(const std::string& what) {
    if (readFile(kModeFile).rfind("kernel", 0) == 0) return true;
    ADD_FAILURE() << "sim: " << what << " exists only in a KERNEL test";
    return false;
}

// Runs a program found by PATH with the given arguments (no shell: labels and
// paths stay literal) and returns its exit status; its standard output goes to *out.
int runProgram(const std::vector<std::string>& args, std::string* out) {
    int fds[2];
    if (pipe(fds) != 0) {
        ADD_FAILURE() << "sim: pipe: " << strerror(errno);
        return -1;
    }
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid < 0) {
        ADD_FAILURE() << "sim: fork for " << args[0] << ": " << strerror(errno);
        close(fds[0]);
        close(fds[1]);
        return -1;
    }
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) text.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs the stick tool and reports a failure loudly (once); true when it succeeded.
bool stickTool_or_fail(const std::vector<std::string>& args, std::string* out = nullptr) {
    if (!kernelModeOrFail("stick " + args[0])) return false;
    std::vector<std::string> argv{kStickTool};
    argv.insert(argv.end(), args.begin(), args.end());
    int status = runProgram(argv, out);
    if (status == 0) return true;
    std::string line;
    for (const auto& a : args) line += " " + a;
    ADD_FAILURE() << "sim: stick" << line << " failed with status " << status;
    return false;
}

// The device-mapper device now behind the slot, as the stick tool recorded it.
std::string stickDevice(int slot) {
    std::istringstream state(readFile(std::string(kStickStateDir) + std::to_string(slot) + ".state"));
    for (std::string line; std::getline(state, line);)
        if (line.rfind("kname=", 0) == 0) return "/dev/" + line.substr(6);
    return "";
}

// Mounts the stick privately for the lifetime of the object, straight through the
// kernel (a program per mount costs too much under the user-mode kernel); root()
// is "" when that failed, which is reported.
class PrivateMount {
  public:
    explicit PrivateMount(int slot) {
        if (!validSlot(slot) || !kernelModeOrFail("content of stick " + std::to_string(slot))) return;
        std::string device = stickDevice(slot);
        std::string dir = kPrivateMountDir + std::to_string(slot);
        (void)mkdir(dir.c_str(), 0755);
        if (device.empty()) {
            ADD_FAILURE() << "sim: no stick was plugged in slot " << slot;
        } else if (mount(device.c_str(), dir.c_str(), "vfat", 0, "utf8") != 0) {
            ADD_FAILURE() << "sim: cannot mount stick " << slot << " (" << device << "): " << strerror(errno);
        } else {
            root_ = dir;
        }
    }
    ~PrivateMount() {
        if (root_.empty()) return;
        // Lazily when busy: the private mount must be gone whatever happened inside.
        if (umount2(root_.c_str(), 0) != 0 && umount2(root_.c_str(), MNT_DETACH) != 0)
            ADD_FAILURE() << "sim: cannot unmount " << root_ << ": " << strerror(errno);
    }
    PrivateMount(const PrivateMount&) = delete;
    PrivateMount& operator=(const PrivateMount&) = delete;
    const std::string& root() const { return root_; }
    std::string path(const std::string& rel) const { return root_ + "/" + rel; }

  private:
    std::string root_;
};

void listTree(const std::string& dir, const std::string& prefix, std::vector<std::string>& out) {
    DIR* d = opendir(dir.c_str());
    if (!d) {
        ADD_FAILURE() << "sim: cannot list " << dir << ": " << strerror(errno);
        return;
    }
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        std::string path = dir + "/" + name;
        if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            out.push_back(prefix + name + "/");
            listTree(path, prefix + name + "/", out);
        } else {
            out.push_back(prefix + name);
        }
    }
    closedir(d);
}

bool makeParents(const std::string& path) {
    for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
        std::string dir = path.substr(0, pos);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
            ADD_FAILURE() << "sim: mkdir " << dir << ": " << strerror(errno);
            return false;
        }
    }
    return true;
}

bool writeWhole(const std::string& path, const std::string& content) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << content;
    f.close();
    if (f) return true;
    ADD_FAILURE() << "sim: cannot write " << path;
    return false;
}

// Writes a GPIO value in place, as sysfs does: the file never looks empty to a
// reader polling it meanwhile.
void writeGpio(int gpio, const char* value) {
    std::string path = "/sys/class/gpio/gpio" + std::to_string(gpio) + "/value";
    int fd = open(path.c_str(), O_WRONLY);
    if (fd < 0) {
        ADD_FAILURE() << "sim: cannot open " << path << ": " << strerror(errno);
        return;
    }
    std::string text = std::string(value) + "\n";
    if (pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
        ADD_FAILURE() << "sim: cannot write " << path << ": " << strerror(errno);
    close(fd);
}

int32_t* segment() {
    static int attachedId = -1;
    static int32_t* words = nullptr;
    int id = shmget(kSegmentKey, kSegmentBytes, 0);
    if (id < 0 && errno == ENOENT) id = shmget(kSegmentKey, kSegmentBytes, IPC_CREAT | 0666);
    if (id < 0) {
        ADD_FAILURE() << "sim: shmget(123654): " << strerror(errno);
        return nullptr;
    }
    if (id == attachedId) return words;
    void* at = shmat(id, nullptr, 0);
    if (at == reinterpret_cast<void*>(-1)) {
        ADD_FAILURE() << "sim: shmat: " << strerror(errno);
        return nullptr;
    }
    if (words) (void)shmdt(words);   // the segment was removed and made anew
    attachedId = id;
    words = static_cast<int32_t*>(at);
    return words;
}

bool groupAlive(pid_t group) {
    return kill(-group, 0) == 0;
}

}  // namespace

// ---- Sticks ----------------------------------------------------------------------

bool plugStick(int slot, const StickSpec& spec) {
    if (!validSlot(slot)) return false;
    std::vector<std::string> args{"plug", std::to_string(slot), "--size", std::to_string(spec.sizeKiB),
                                  "--part", std::to_string(spec.partition)};
    if (!spec.label.empty()) args.insert(args.end(), {spec.rawLabel ? "--raw-label" : "--label", spec.label});
    if (spec.fatBits != 0) args.insert(args.end(), {"--fat", std::to_string(spec.fatBits)});
    gPartition[slot] = spec.partition;
    return stickTool_or_fail(args);
}

bool replugStick(int slot) {
    return validSlot(slot) && stickTool_or_fail({"replug", std::to_string(slot)});
}

void pullStick(int slot) {
    if (validSlot(slot)) (void)stickTool_or_fail({"pull", std::to_string(slot)});
}

void hangStick(int slot) {
    if (validSlot(slot)) (void)stickTool_or_fail({"hang", std::to_string(slot)});
}

void resumeStick(int slot) {
    if (validSlot(slot)) (void)stickTool_or_fail({"resume", std::to_string(slot)});
}

void failWrites(int slot) {
    if (validSlot(slot)) (void)stickTool_or_fail({"failwrites", std::to_string(slot)});
}

void slowStick(int slot, int delayMs) {
    if (validSlot(slot)) (void)stickTool_or_fail({"slow", std::to_string(slot), std::to_string(delayMs)});
}

std::string stickNode(int slot) {
    if (!validSlot(slot)) return "";
    std::string base = slot == 0 ? "/dev/tmvm1-part" : "/dev/tmvl" + std::to_string(slot) + "-part";
    return gPartition[slot] == 0 ? base : base + std::to_string(gPartition[slot]);
}

std::string stickLabel(int slot) {
    std::string out;
    if (!validSlot(slot) || !kernelModeOrFail("label of stick " + std::to_string(slot))) return "";
    if (access(stickNode(slot).c_str(), F_OK) != 0) return "";
    (void)runProgram({"blkid", "-c", "/dev/null", "-s", "LABEL", "-o", "value", stickNode(slot)}, &out);
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

bool putFile(int slot, const std::string& relPath, const std::string& content) {
    PrivateMount m(slot);
    return !m.root().empty() && makeParents(m.path(relPath)) && writeWhole(m.path(relPath), content);
}

bool putBigFile(int slot, const std::string& relPath, long bytes) {
    PrivateMount m(slot);
    if (m.root().empty() || !makeParents(m.path(relPath))) return false;
    std::ofstream f(m.path(relPath), std::ios::binary | std::ios::trunc);
    std::string block(64 * 1024, '\0');
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('a' + i % 26);
    for (long left = bytes; left > 0 && f; left -= static_cast<long>(block.size()))
        f.write(block.data(), std::min<long>(left, static_cast<long>(block.size())));
    f.close();
    if (f) return true;
    ADD_FAILURE() << "sim: cannot write " << bytes << " bytes to " << relPath << " on stick " << slot;
    return false;
}

bool putDir(int slot, const std::string& relPath) {
    PrivateMount m(slot);
    return !m.root().empty() && makeParents(m.path(relPath) + "/");
}

bool putSymlink(int slot, const std::string& relPath, const std::string& target) {
    PrivateMount m(slot);
    if (m.root().empty() || !makeParents(m.path(relPath))) return false;
    if (symlink(target.c_str(), m.path(relPath).c_str()) == 0) return true;
    // FAT has no symbolic links: the test learns it here, loudly.
    ADD_FAILURE() << "sim: symlink " << relPath << " on stick " << slot << ": " << strerror(errno);
    return false;
}

bool stickHas(int slot, const std::string& relPath) {
    PrivateMount m(slot);
    struct stat st;
    return !m.root().empty() && lstat(m.path(relPath).c_str(), &st) == 0;
}

std::string stickRead(int slot, const std::string& relPath) {
    PrivateMount m(slot);
    return m.root().empty() ? "" : readFile(m.path(relPath));
}

std::vector<std::string> stickTree(int slot) {
    std::vector<std::string> tree;
    PrivateMount m(slot);
    if (m.root().empty()) return tree;
    listTree(m.root(), "", tree);
    std::sort(tree.begin(), tree.end());
    return tree;
}

// ---- Buttons, LEDs, the stick LED board ------------------------------------------

void pressButton(int gpio) { writeGpio(gpio, "0"); }
void releaseButton(int gpio) { writeGpio(gpio, "1"); }

std::string gpioValue(int gpio) {
    std::string text = readFile("/sys/class/gpio/gpio" + std::to_string(gpio) + "/value");
    return text.substr(0, 1);
}

void removeGpio(int gpio) {
    std::string path = "/sys/class/gpio/gpio" + std::to_string(gpio) + "/value";
    if (unlink(path.c_str()) != 0) ADD_FAILURE() << "sim: cannot remove " << path << ": " << strerror(errno);
}

std::string functionLeds() {
    std::string leds;
    for (int gpio : {kLed4, kLed3, kLed2, kLed1}) {
        std::string v = gpioValue(gpio);
        leds += v.empty() ? "?" : v;
    }
    return leds;
}

std::vector<std::pair<int, int>> boardBytes() {
    std::vector<std::pair<int, int>> pairs;
    std::istringstream lines(readFile(std::string(kCallsDir) + "i2cset.log"));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::vector<std::string> args;
        for (std::string w; words >> w;) args.push_back(w);
        if (args.size() < 2) {
            ADD_FAILURE() << "sim: i2cset called with too few arguments: " << line;
            continue;
        }
        pairs.emplace_back(std::stoi(args[args.size() - 2], nullptr, 16),
                           std::stoi(args[args.size() - 1], nullptr, 16));
    }
    return pairs;
}

int shimCalls(const std::string& shim) {
    std::string log = readFile(std::string(kCallsDir) + shim + ".log");
    return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
}

// ---- The shared status segment ---------------------------------------------------

int32_t word(int index) {
    if (index < 0 || index >= kSegmentWords) {
        ADD_FAILURE() << "sim: word " << index << " is outside the segment";
        return 0;
    }
    int32_t* words = segment();
    return words ? __atomic_load_n(&words[index], __ATOMIC_SEQ_CST) : 0;
}

void setWord(int index, int32_t value) {
    if (index < 0 || index >= kSegmentWords) {
        ADD_FAILURE() << "sim: word " << index << " is outside the segment";
        return;
    }
    if (int32_t* words = segment()) __atomic_store_n(&words[index], value, __ATOMIC_SEQ_CST);
}

// ---- The daemon ------------------------------------------------------------------

// The daemon under test: this build's own, or another build's (STICKDUP_DAEMON,
// e.g. the board's) started through a user-mode emulator (STICKDUP_EMULATOR, e.g.
// qemu-arm-static: the appliance has no binfmt_misc to start it by itself).
pid_t startDaemon() {
    if (gDaemon > 0) stopDaemon();
    const char* daemon = getenv("STICKDUP_DAEMON");
    if (!daemon || !*daemon) daemon = STICKDUP_DAEMON;
    const char* emulator = getenv("STICKDUP_EMULATOR");
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid < 0) {
        ADD_FAILURE() << "sim: fork: " << strerror(errno);
        return -1;
    }
    if (pid == 0) {
        // Its own process group, so stopDaemon ends the whole family at once.
        setpgid(0, 0);
        if (chdir("/") != 0) _exit(126);
        if (emulator && *emulator)
            execlp(emulator, emulator, daemon, static_cast<char*>(nullptr));
        else
            execl(daemon, daemon, static_cast<char*>(nullptr));
        fprintf(stderr, "sim: cannot start %s: %s\n", daemon, strerror(errno));
        _exit(127);
    }
    setpgid(pid, pid);   // both sides set it: no window in which a kill misses it
    gDaemon = pid;
    return pid;
}

void stopDaemon() {
    if (gDaemon <= 0) return;
    (void)kill(-gDaemon, SIGKILL);
    (void)kill(gDaemon, SIGKILL);
    while (waitpid(gDaemon, nullptr, 0) < 0 && errno == EINTR) {
    }
    // The daemon's children are reaped by the appliance's init; wait until the
    // group is empty so that the next test starts from a quiet appliance.
    pid_t group = gDaemon;
    gDaemon = -1;
    if (!waitFor([group] { return !groupAlive(group); }, kDaemonEndTimeout))
        ADD_FAILURE() << "sim: processes of the daemon's group " << group << " still run";
}

bool daemonRunning() {
    return gDaemon > 0 && groupAlive(gDaemon);
}

std::string consoleLog() { return readFile("/tmp/log.txt"); }

bool touch(const std::string& path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0) {
        ADD_FAILURE() << "sim: cannot create " << path << ": " << strerror(errno);
        return false;
    }
    close(fd);
    return true;
}

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream text;
    text << f.rdbuf();
    return text.str();
}

// ---- Waiting ---------------------------------------------------------------------

bool waitFor(const std::function<bool()>& cond, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

}  // namespace sim
