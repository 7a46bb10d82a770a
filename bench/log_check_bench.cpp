// Cost of one shell command through to_system with a 100 MB console log against
// an empty one. The verdict reads only the log's tail, so both should cost the
// same; for scale, the whole-log read it replaces is timed on the same log.
// Run inside the simulated appliance: to_system uses the real /tmp/log.txt.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "supervisor/base/shell_runner.h"

namespace {

constexpr const char* kLog = "/tmp/log.txt";
constexpr int kCommands = 200;
constexpr int kRounds = 3;
constexpr int kVerdicts = 2000;
constexpr long kBigLog = 100L * 1024 * 1024;

using Clock = std::chrono::steady_clock;

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double perCommand() {
    const auto start = Clock::now();
    for (int i = 0; i < kCommands; ++i) (void)to_system("true");
    return millisSince(start) / kCommands;
}

// The part of a command that reads the log: the verdict alone.
double perVerdict() {
    const auto start = Clock::now();
    for (int i = 0; i < kVerdicts; ++i) (void)checkLogLastLine("true");
    return millisSince(start) / kVerdicts;
}

// Console log lines of the usual width, written through the console descriptor so
// that later output lands after them, as in a long-running appliance.
void growLog(long bytes) {
    std::string block;
    while (block.size() < (1 << 20))
        block += "mount -o utf8 /dev/tmvl3-part1 /tmp/tamvikel3 1796554396\n";
    for (long written = 0; written < bytes; written += static_cast<long>(block.size()))
        (void)!write(1, block.data(), block.size());
}

// What reading the whole log in 299-character pieces costs.
double wholeLogRead() {
    const auto start = Clock::now();
    FILE* f = fopen(kLog, "r");
    char piece[300];
    long pieces = 0;
    while (fgets(piece, sizeof piece, f)) ++pieces;
    fclose(f);
    return pieces > 0 ? millisSince(start) : 0;
}

}   // namespace

int main() {
    FILE* report = fdopen(dup(1), "w");
    const int log = open(kLog, O_RDWR | O_CREAT | O_TRUNC, 0644);
    dup2(log, 1);
    dup2(log, 2);
    setvbuf(stdout, nullptr, _IONBF, 0);

    // Alternate the two logs and keep each one's best round: the machine's other
    // load then weighs on both alike.
    double emptyLog = 1e9, bigLog = 1e9, emptyVerdict = 1e9, bigVerdict = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        (void)!ftruncate(log, 0);
        (void)lseek(log, 0, SEEK_SET);
        emptyLog = std::min(emptyLog, perCommand());
        emptyVerdict = std::min(emptyVerdict, perVerdict());
        growLog(kBigLog);
        (void)fdatasync(log);   // the write-back of 100 MB is not the command's cost
        bigLog = std::min(bigLog, perCommand());
        bigVerdict = std::min(bigVerdict, perVerdict());
    }
    const double wholeRead = wholeLogRead();

    fprintf(report, "to_system, empty log:         %.3f ms per command\n", emptyLog);
    fprintf(report, "to_system, 100 MB log:        %.3f ms per command\n", bigLog);
    fprintf(report, "ratio 100 MB / empty:         %.2f\n", bigLog / emptyLog);
    fprintf(report, "its log verdict alone:        %.4f ms (empty) %.4f ms (100 MB)\n",
            emptyVerdict, bigVerdict);
    fprintf(report, "for scale, one whole-log read: %.1f ms\n", wholeRead);
    fclose(report);
    return 0;
}
