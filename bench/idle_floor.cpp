// The reference for the idle figures: a loop that does nothing but sleep 1 ms a
// cycle, as the button and operation processes do between their looks. Prints its
// processor time per second over the given seconds, as idle_bench prints the
// daemon's processes, so both come from the same run on the same machine.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? atof(argv[1]) : 30;
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    while (elapsed() < seconds) usleep(1000);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    printf("floor: a loop that only sleeps 1 ms a cycle: %.2f %% of a core\n", 100 * cpu / elapsed());
}
