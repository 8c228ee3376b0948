#include "tests/support/deep_tree.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace tamberlit::testing {

namespace fs = std::filesystem;

namespace {

bool WriteAt(int folder, const std::string& name, const std::vector<uint8_t>& bytes) {
    const int file = ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file < 0) return false;
    const bool written = ::write(file, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    return ::close(file) == 0 && written;
}

}  // namespace

TDeepTree::TDeepTree(int levels, const std::string& folderName, const std::vector<int>& fileLevels,
                     const std::string& fileName, const std::vector<uint8_t>& bytes) {
    std::error_code error;
    std::string pattern =
        (fs::is_directory("/dev/shm", error) && ::access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm")
                                                                                : fs::temp_directory_path().string()) +
        "/tamberlit-deep-XXXXXX";
    if (!::mkdtemp(pattern.data())) return;
    base_ = pattern;
    root_ = base_ / "tree";
    if (::mkdir(root_.c_str(), 0755) != 0) return;
    int folder = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; folder >= 0; ++level) {
        if (std::find(fileLevels.begin(), fileLevels.end(), level) != fileLevels.end() &&
            !WriteAt(folder, fileName, bytes))
            break;
        if (level == levels) {
            made_ = true;
            break;
        }
        if (::mkdirat(folder, folderName.c_str(), 0755) != 0) break;
        const int next = ::openat(folder, folderName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(folder);
        folder = next;
    }
    if (folder >= 0) ::close(folder);
}

TDeepTree::~TDeepTree() {
    // std::filesystem cannot remove what lies past PATH_MAX; rm can.
    if (!base_.empty()) {
        const std::string command = "rm -rf '" + base_.string() + "'";
        if (std::system(command.c_str()) != 0) {
            // Nothing more to do than leave it to the system's cleaning.
        }
    }
}

}  // namespace tamberlit::testing
