// Another process's hold on a file: open for reading and writing, with the
// strongest lock the platform offers on all of it, until destroyed. On Linux
// the locks (flock and a POSIX record lock) are advisory; Windows enforces
// its byte-range lock on every other process's reads and writes.
#pragma once

#include <filesystem>
#include <memory>

class LockedFile {
public:
    explicit LockedFile(const std::filesystem::path& file);
    ~LockedFile();
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

private:
    struct Hold;
    std::unique_ptr<Hold> hold_;
};
