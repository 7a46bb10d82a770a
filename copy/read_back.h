// Reading back what a copy worker wrote, from the stick itself. A worn or
// counterfeit stick can take every write and sync and still hand back something
// else: a stick is done only once its files read back as they were copied.
// Each file's SHA-256 is taken as the copy reads its source (the source is read
// once), and the read-back drops the file's pages first, so it comes from the
// device and not from the appliance's memory.
#pragma once
#include <openssl/sha.h>

#include <array>
#include <string>

using Digest = std::array<unsigned char, 32>;

// SHA-256 of bytes fed in pieces.
class Sha256 {
public:
    Sha256() { (void)SHA256_Init(&context); }
    void add(const void* data, size_t size) { (void)SHA256_Update(&context, data, size); }
    Digest digest() {
        Digest digest{};
        (void)SHA256_Final(digest.data(), &context);
        return digest;
    }

private:
    SHA256_CTX context;
};

// Remembers that the worker wrote path with this content (the last write of a path
// counts).
void noteWritten(const std::string& path, const Digest& digest);

// Reads back every file noted below root: "" when all match, else the first one that
// differs or cannot be read. Renews the heartbeat for every block, so a stick that
// hangs in the read-back is ended like one that hangs in the copy.
std::string firstMisread(const std::string& root);
