// Inside the appliance: sticks go through its stick tool, shims log under /sim/calls.
#include "tests/support/appliance.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "sticks/mount.h"

extern char** environ;

namespace sim {
namespace {

pid_t gDaemon = -1;

std::string gpioPath(int gpio) { return "/sys/class/gpio/gpio" + std::to_string(gpio) + "/value"; }

// Writes a GPIO value in place, as sysfs does: a reader never sees it empty.
void writeGpio(int gpio, const char* value) {
    const int fd = open(gpioPath(gpio).c_str(), O_WRONLY);
    if (fd < 0 || pwrite(fd, value, 2, 0) != 2)
        ADD_FAILURE() << "sim: cannot write " << gpioPath(gpio);
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

}   // namespace

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

void pressButton(int gpio) { writeGpio(gpio, "0\n"); }
void releaseButton(int gpio) { writeGpio(gpio, "1\n"); }
std::string gpioValue(int gpio) { return readFile(gpioPath(gpio)).substr(0, 1); }

std::string functionLeds() {
    std::string leds;
    for (int gpio : {kLed4, kLed3, kLed2, kLed1})
        leds += gpioValue(gpio).empty() ? "?" : gpioValue(gpio);
    return leds;
}

// The kernel's record of the LED expander (sim/lib/kernel-init): a write the chip took reads
// "smbus_write: i2c-0 a=027 f=0000 c=fe BYTE_DATA l=1 [ff]", a run of i2cset "sched_process_exec".
std::vector<std::pair<int, int>> boardBytes() {
    std::vector<std::pair<int, int>> pairs;
    std::istringstream lines(readFile("/sim/calls/board.log"));
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find("smbus_write: i2c-0 a=027 ");
        if (unsigned reg, value;
            at != std::string::npos &&
            sscanf(line.c_str() + at, "smbus_write: i2c-0 a=027 f=%*x c=%x %*s l=1 [%x]", &reg,
                   &value) == 2)
            pairs.emplace_back(reg, value);
    }
    return pairs;
}

int boardAttempts() {
    const std::string log = readFile("/sim/calls/board.log");
    int runs = 0;
    for (size_t at = 0; (at = log.find("sched_process_exec:", at)) != std::string::npos; ++at)
        ++runs;
    return runs;
}

// The chip stays, its bus's device node goes: i2cset cannot reach the expander.
void expanderAnswers(bool answers) {
    const char *node = "/dev/i2c-0", *away = "/dev/i2c-0.unplugged";
    if (rename(answers ? away : node, answers ? node : away) != 0)
        ADD_FAILURE() << "sim: cannot move " << node;
}

int shimCalls(const std::string& shim) {
    const std::string log = readFile("/sim/calls/" + shim + ".log");
    return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
}

int32_t word(int index) {
    int32_t* w = segment();
    return w ? __atomic_load_n(&w[index], __ATOMIC_SEQ_CST) : 0;
}
void setWord(int index, int32_t value) {
    if (int32_t* w = segment()) __atomic_store_n(&w[index], value, __ATOMIC_SEQ_CST);
}

pid_t startDaemon() {
    if (gDaemon > 0) stopDaemon();
    const char *build = getenv("STICKDUP_DAEMON"),
               *runner = getenv("STICKDUP_EMULATOR");   // unset or empty: none
    const std::string daemon = build && *build ? build : STICKDUP_DAEMON,
                      emulator = runner ? runner : "";
    fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();   // its own session: the workers lead groups of their own inside it
        if (chdir("/") != 0) _exit(126);
        if (!emulator.empty())
            execlp(emulator.c_str(), emulator.c_str(), daemon.c_str(), static_cast<char*>(nullptr));
        else
            execl(daemon.c_str(), daemon.c_str(), static_cast<char*>(nullptr));
        fprintf(stderr, "sim: cannot start %s: %s\n", daemon.c_str(), strerror(errno));
        _exit(127);
    }
    if (pid < 0) ADD_FAILURE() << "sim: fork: " << strerror(errno);
    // Until the child has made its session, a kill of the session may miss it.
    else
        waitFor([pid] { return getsid(pid) == pid; }, 10s);
    gDaemon = pid;
    return pid;
}

// Kills every process of the session; false when none was left.
static bool killSession(pid_t session) {
    bool any = false;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const pid_t pid = atoi(entry.path().filename().c_str());
        if (pid <= 0 || getsid(pid) != session) continue;
        (void)kill(pid, SIGKILL);
        any = true;
    }
    return any;
}

void stopDaemon() {
    if (gDaemon <= 0) return;
    const pid_t session = gDaemon;
    gDaemon = -1;
    (void)killSession(session);
    while (waitpid(session, nullptr, 0) < 0 && errno == EINTR) continue;
    // The children are reaped by the appliance's init; a fork may have been under way.
    if (!waitFor([session] { return !killSession(session); }, 10s))
        ADD_FAILURE() << "sim: the daemon's family lives on";
}

struct stat lstatOf(const std::string& path) {
    struct stat st {};
    (void)lstat(path.c_str(), &st);
    return st;
}

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream text;   // whole, through the stream's buffer: a stick's file may be large
    if (f) text << f.rdbuf();
    return text.str();
}

bool writeFile(const std::string& path, const std::string& text) {
    return static_cast<bool>(std::ofstream(path, std::ios::binary) << text << std::flush);
}

std::string shellOutput(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    for (int c; pipe && (c = fgetc(pipe)) != EOF;) out += static_cast<char>(c);
    if (pipe) (void)pclose(pipe);
    return out;
}

namespace {
// Runs in the signal handler: exec is all it does, so the shell does the telling.
const char kHungScript[] = R"sh(exec >&2
echo 'watchdog: the row did not end in time; each process: pid, state, wait, command'
for p in /proc/[0-9]*; do
  command=$(tr '\0\n' '  ' <"$p/cmdline" 2>/dev/null | cut -c1-150)
  [ -n "$command" ] && [ "${p#/proc/}" != $$ ] || continue   # not the kernel's own, not this
  state=$(sed 's/.*) //; s/ .*//' "$p/stat")
  echo "${p#/proc/} $state $(cat "$p/wchan") $command"
  [ "$state" != D ] || sed 's/^/    /' "$p/stack"
done 2>/dev/null
echo 'mounts:'; grep ' /tmp/' /proc/mounts; echo 'sticks:'; /sim/bin/stick list
echo 'console, last lines:'; tail -n 30 /tmp/log.txt
echo 'kernel, last lines:'; dmesg | tail -n 30
exit 1)sh";
const char* const kHung[] = {"/bin/sh", "-c", kHungScript, nullptr};
}   // namespace

Watchdog::Watchdog(std::chrono::seconds limit) {
    signal(SIGALRM, [](int) { execv(kHung[0], const_cast<char* const*>(kHung)); });
    alarm(static_cast<unsigned>(limit.count()));
}
Watchdog::~Watchdog() { alarm(0); }

bool listAsMounted(std::initializer_list<int> slots) {
    std::string script = "#!/bin/sh\nif [ $# -eq 0 ]; then\n";
    for (int slot : slots) {
        script += "echo 'fake on " + mountPointOf(slot) + " type vfat (rw)'\n";
        (void)mkdir(mountPointOf(slot).c_str(), 0777);
    }
    return writeFile("/sim/bin/mount", script + "fi\nexec /usr/bin/mount \"$@\"\n") &&
           !chmod("/sim/bin/mount", 0755);
}

bool waitFor(const std::function<bool()>& cond, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

}   // namespace sim
