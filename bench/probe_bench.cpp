// The capacity probe's cost on one stick: its time, against the stick's own pace.
//
//   probe_bench NODE
#include <chrono>
#include <cinttypes>
#include <cstdio>

#include "sticks/capacity_probe.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: probe_bench NODE\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const CapacityProbe probe = probeCapacity(argv[1]);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("capacity probe of %" PRIu64 " MiB: %.2f s, %s\n", probe.claimed >> 20, seconds,
           probe.holds ? "holds" : "does not hold");
    return probe.holds ? 0 : 1;
}
