// A fresh directory tree for one test, removed when the test ends:
//   root/        readable by every user, holds what the test keeps outside the run
//   root/work/   the tool's working directory
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& root() const { return root_; }
    const std::filesystem::path& work() const { return work_; }
    std::filesystem::path contentFile() const { return work_ / "Content.vrax"; }

    // The names in the working directory, sorted.
    std::vector<std::string> workEntries() const;

private:
    std::filesystem::path root_;
    std::filesystem::path work_;
};

void writeBytes(const std::filesystem::path& path, const Bytes& bytes);
Bytes readBytes(const std::filesystem::path& path);
Bytes readBytes(const std::filesystem::path& path, std::uintmax_t offset, std::size_t count);
