#pragma once
// A folder tree deeper than a path can be long, for folder-scan tests.

#include <filesystem>
#include <string>
#include <vector>

namespace tamberlit::testing {

// levels nested folders named folderName below Root(), each made relative
// to the one above so that the tree may go past PATH_MAX. A file fileName
// holding bytes is put at each of fileLevels (0 is Root() itself). The tree
// lives on a memory file system when there is one (/dev/shm): removing
// thousands of nested folders from a disk takes seconds. Removed, however
// deep, when the object goes.
class TDeepTree {
public:
    TDeepTree(int levels, const std::string& folderName, const std::vector<int>& fileLevels,
              const std::string& fileName, const std::vector<uint8_t>& bytes);
    ~TDeepTree();
    TDeepTree(const TDeepTree&) = delete;
    TDeepTree& operator=(const TDeepTree&) = delete;

    const std::filesystem::path& Root() const { return root_; }
    // Whether every folder and file could be made.
    bool Made() const { return made_; }

private:
    std::filesystem::path base_;
    std::filesystem::path root_;
    bool made_ = false;
};

}  // namespace tamberlit::testing
