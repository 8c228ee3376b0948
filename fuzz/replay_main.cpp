// A plain main for a fuzz target, so that the ordinary build replays the
// regression files and seeds as tests without clang's libFuzzer: every file
// named, and every file under every folder named, goes through the target
// once and whole, in name order. An oracle that finds a wrong result aborts
// (fuzz::Fail), and so does the test.
//
// Usage: fuzz_replay_<target> FILE_OR_FOLDER...

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Weak: a target that needs no set-up (file_names) does not define it.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

// Names beginning with "." are left out: they keep empty regression folders
// in git (.keep), and they are not inputs.
bool Hidden(const fs::path& path) { return path.filename().string().starts_with("."); }

// The inputs under one path; false when it is neither a file nor a folder, so
// that a folder named by mistake is not passed over as an empty one.
bool CollectInputs(const fs::path& path, std::vector<fs::path>& inputs) {
    std::error_code error;
    if (fs::is_regular_file(path, error)) {
        inputs.push_back(path);
        return true;
    }
    if (!fs::is_directory(path, error)) return false;
    std::vector<fs::path> found;
    for (auto it = fs::recursive_directory_iterator(path); it != fs::recursive_directory_iterator(); ++it) {
        if (Hidden(it->path())) {
            if (it->is_directory()) it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file()) found.push_back(it->path());
    }
    std::sort(found.begin(), found.end());
    inputs.insert(inputs.end(), found.begin(), found.end());
    return true;
}

// The bytes in a block of exactly their size, as libFuzzer hands them over,
// so that a read past the end is one past the block in a sanitizer build too.
bool RunInput(const fs::path& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return false;
    const auto size = static_cast<size_t>(file.tellg());
    std::unique_ptr<uint8_t[]> data(new uint8_t[size]);
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(data.get()), static_cast<std::streamsize>(size))) return false;
    // Named before it runs: a crash or a hang then shows which input it was.
    std::fprintf(stderr, "Running: %s\n", path.c_str());
    LLVMFuzzerTestOneInput(data.get(), size);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!CollectInputs(argv[i], inputs)) {
            std::fprintf(stderr, "fuzz replay: %s is neither a file nor a folder\n", argv[i]);
            return 1;
        }
    }
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    for (const fs::path& input : inputs) {
        if (!RunInput(input)) {
            std::fprintf(stderr, "fuzz replay: cannot read %s\n", input.c_str());
            return 1;
        }
    }
    std::printf("fuzz replay: %zu inputs\n", inputs.size());
    return 0;
}
