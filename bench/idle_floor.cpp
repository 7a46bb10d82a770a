// The references for the idle figures, run in the same seconds as the daemon:
//  - a loop that does nothing but sleep 1 ms a cycle;
//  - a loop that sleeps 1 ms and reads the four button lines (open descriptors,
//    pread) each cycle: the least any idle cycle costs that keeps the button
//    process's period and reads every line, as its cycle must.
// Each prints its processor time per second over the given seconds, as idle_bench
// prints the daemon's processes. Runs inside the simulated appliance, where the
// button lines' value files are.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char* kButtonLines[] = {
    "/sys/class/gpio/gpio3/value", "/sys/class/gpio/gpio6/value", "/sys/class/gpio/gpio1/value",
    "/sys/class/gpio/gpio0/value"};

void measure(const char* what, double seconds, bool readLines) {
    int fds[4] = {-1, -1, -1, -1};
    for (int i = 0; readLines && i < 4; ++i) {
        fds[i] = open(kButtonLines[i], O_RDONLY | O_CLOEXEC);
        if (fds[i] < 0) {
            printf("%s: cannot open %s\n", what, kButtonLines[i]);
            return;
        }
    }
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    char value[4];
    while (elapsed() < seconds) {
        if (readLines)
            for (int fd : fds) (void)pread(fd, value, sizeof value, 0);
        usleep(1000);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                       (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    printf("%s: %.2f %% of a core\n", what, 100 * cpu / elapsed());
}

}   // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? atof(argv[1]) : 30;
    fflush(stdout);
    const pid_t reader = fork();
    if (reader == 0) {
        measure("floor with reads: a loop that sleeps 1 ms and reads the four button lines",
                seconds, true);
        return 0;
    }
    measure("floor: a loop that only sleeps 1 ms a cycle", seconds, false);
    fflush(stdout);
    if (reader > 0) (void)waitpid(reader, nullptr, 0);
}
