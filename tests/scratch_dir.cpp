#include "scratch_dir.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Other users must reach the tree, since some runs drop to an unprivileged user.
void openToEveryone(const fs::path& directory) {
    fs::permissions(directory, fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
}

} // namespace

ScratchDir::ScratchDir() {
    std::random_device entropy;
    std::uniform_int_distribution<unsigned long> pick;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate =
            fs::temp_directory_path() / ("content-repair-test-" + std::to_string(pick(entropy)));
        if (fs::create_directory(candidate)) {
            root_ = candidate;
            break;
        }
    }
    if (root_.empty()) {
        throw std::runtime_error("cannot create a scratch directory");
    }
    work_ = root_ / "work";
    fs::create_directory(work_);
    openToEveryone(root_);
    openToEveryone(work_);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    // Read-only entries must become writable again before they can be removed.
    for (const auto& entry : fs::recursive_directory_iterator(root_, ignored)) {
        if (entry.is_regular_file(ignored)) {
            fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
        }
    }
    fs::remove_all(root_, ignored);
}

std::vector<std::string> ScratchDir::workEntries() const {
    std::vector<std::string> names;
    const fs::directory_iterator entries(work_);
    std::transform(
        fs::begin(entries), fs::end(entries), std::back_inserter(names),
        [](const fs::directory_entry& entry) { return entry.path().filename().string(); });
    std::sort(names.begin(), names.end());
    return names;
}

void writeBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

Bytes readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes readBytes(const fs::path& path, std::uintmax_t offset, std::size_t count) {
    std::ifstream in(path, std::ios::binary);
    Bytes bytes(count);
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    if (!in) {
        throw std::runtime_error("cannot read " + std::to_string(count) + " bytes at " +
                                 std::to_string(offset) + " of " + path.string());
    }
    return bytes;
}
