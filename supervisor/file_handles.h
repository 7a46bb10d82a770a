// Owning handles for C streams and directory listings: closed on every return path.
#pragma once
#include <dirent.h>

#include <cstdio>
#include <memory>

struct FileCloser {
    void operator()(FILE* f) const { (void)fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

struct DirCloser {
    void operator()(DIR* d) const { (void)closedir(d); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;
