// Owning handles for C streams, directory listings and descriptors: closed on every
// return path.
#pragma once
#include <dirent.h>

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <utility>

struct FileCloser {
    void operator()(FILE* f) const { (void)fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

struct DirCloser {
    void operator()(DIR* d) const { (void)closedir(d); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

// An open descriptor, closed when it goes out of scope unless taken over.
struct Fd {
    explicit Fd(int value) : fd(value) {}
    ~Fd() {
        if (fd >= 0) (void)close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int release() { return std::exchange(fd, -1); }
    void reset(int value) {
        if (fd >= 0) (void)close(fd);
        fd = value;
    }
    int fd;
};
