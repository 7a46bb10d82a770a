// The daemon's SHA-256 on 64 MiB in memory: MB/s against a stick's 20 MB/s read.
#include <chrono>
#include <cstdio>
#include <vector>

#include "copy/read_back.h"

int main() {
    constexpr size_t kBlock = 128 * 1024, kTotal = 64u << 20;
    std::vector<char> block(kBlock, 'x');
    const auto start = std::chrono::steady_clock::now();
    Sha256 sha;
    for (size_t done = 0; done < kTotal; done += kBlock) sha.add(block.data(), block.size());
    const Digest digest = sha.digest();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double mbs = kTotal / seconds / 1e6;
    printf("sha256: %.0f MB/s, %.2f ms per MB, %.1f times a stick's 20 MB/s (%s...)\n", mbs,
           1000 / mbs, mbs / 20, hexDigest(digest).substr(0, 8).c_str());
    return 0;
}
