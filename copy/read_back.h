// Reading back what a copy worker wrote, from the stick itself. A worn or
// counterfeit stick can take every write and sync and still hand back something
// else: a stick is done only once its files read back as they were copied.
// Each file's SHA-256 is taken as the copy reads its source (the source is read
// once), and the read-back drops the file's pages first, so it comes from the
// device and not from the appliance's memory.
#pragma once
#include <openssl/sha.h>

#include <array>
#include <cstdint>
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

// What a copy wrote: its content's hash and its length.
struct Written {
    Digest digest;
    uint64_t bytes;
};

// Remembers that the worker wrote path with this content (the last write of a path
// counts).
void noteWritten(const std::string& path, const Written& written);

// Reads back every file noted below root: "" when all match, else the first one that
// differs or cannot be read. Renews the heartbeat for every block, so a stick that
// hangs in the read-back is ended like one that hangs in the copy.
std::string firstMisread(const std::string& root);

// Whether the file on the stick (synced) reads back with this content.
bool readsBack(const std::string& path, const Digest& digest);
// The hash of the file as the stick (synced) holds it; false when it cannot be read.
bool digestOnStick(const std::string& path, Digest& digest);

// The collect's record of the files read back right from the master, one record a
// file ("SLOT HEX BYTES PATH" ended by a NUL byte, the path below the master's
// root): the workers add to it, the job writes the receipt from it.
constexpr const char* kVerifiedRecords = "/tmp/verified.rec";
// Adds the files noted below root, read back right, as the student's.
bool recordVerified(const std::string& root, int student);

std::string hexDigest(const Digest& digest);
