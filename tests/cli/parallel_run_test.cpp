// End to end: tamberlit-cli with several workers writes exactly the files of
// a sequential run, including which source wins when two share a target name,
// and reports the same summary.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <utility>
#include <string>
#include <vector>

#include "formats/png/png_bitmap.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
namespace fs = std::filesystem;

namespace {

uint8_t Sample(uint32_t seed, uint32_t x, uint32_t y, uint32_t channel) {
    uint32_t h = seed * 0x9E3779B9u ^ x * 0x85EBCA6Bu ^ y * 0xC2B2AE35u ^ channel * 0x27D4EB2Fu;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return static_cast<uint8_t>(h);
}

// An uncompressed 32-bit (or 24-bit) BMP with a 40-byte header, bottom row first.
std::vector<uint8_t> Bmp(uint32_t width, uint32_t height, uint32_t seed, unsigned bits = 32) {
    const uint32_t stride = (width * bits / 8 + 3) / 4 * 4;
    TBytes bytes;
    bytes.Text("BM").U32(54 + stride * height).U32(0).U32(54);
    bytes.U32(40).I32(static_cast<int32_t>(width)).I32(static_cast<int32_t>(height)).U16(1).U16(bits).U32(0);
    bytes.U32(stride * height).U32(0).U32(0).U32(0).U32(0);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x)
            for (uint32_t c = 0; c < bits / 8; ++c) bytes.U8(Sample(seed, x, y, c));
        bytes.Fill(stride - width * bits / 8, 0);
    }
    return bytes.Data();
}

// An uncompressed 32-bit (8 alpha bits) or 24-bit TGA, bottom row first.
std::vector<uint8_t> Tga(uint32_t width, uint32_t height, uint32_t seed, unsigned bits = 32) {
    TBytes bytes;
    bytes.U8(0).U8(0).U8(2).U16(0).U16(0).U8(0).U16(0).U16(0).U16(width).U16(height);
    bytes.U8(bits).U8(bits == 32 ? 0x08 : 0x00);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (uint32_t c = 0; c < bits / 8; ++c) bytes.U8(Sample(seed, x, y, c));
    return bytes.Data();
}

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

struct TRun {
    int Status = -1;
    std::string Output;  // standard output: the summary
};

TRun RunCli(const std::string& arguments) {
    TRun run;
    const std::string command = Quoted(TAMBERLIT_CLI_PATH) + " " + arguments + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char block[4096];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, pipe)) > 0) run.Output.append(block, got);
    run.Status = ::pclose(pipe);
    return run;
}

// Every file below folder, by relative name, with its bytes.
std::map<std::string, std::vector<uint8_t>> Contents(const fs::path& folder) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[entry.path().lexically_relative(folder).string()] = ReadFileBytes(entry.path().string());
    return files;
}

// A 32-bit PNG through the PNG codec (its exact bytes do not matter here).
std::vector<uint8_t> Png(uint32_t width, uint32_t height, uint32_t seed, const fs::path& scratch) {
    TPNGBitmap bitmap;
    PaintPixels(bitmap, static_cast<int>(width), static_cast<int>(height), Px32,
                [seed](int x, int y, int c) { return Sample(seed, uint32_t(x), uint32_t(y), uint32_t(c)); });
    bitmap.SaveFile(scratch.string());
    const std::vector<uint8_t> bytes = ReadFileBytes(scratch.string());
    fs::remove(scratch);
    return bytes;
}

// The two source kinds a folder scan lists for a target, in its order (BMP,
// then PNG, then TGA).
std::pair<std::string, std::string> SourceKinds(const std::string& target) {
    if (target == ".bmp") return {".png", ".tga"};
    if (target == ".png") return {".bmp", ".tga"};
    return {".bmp", ".png"};
}

// Sources of the two kinds other than the target's, several pairs sharing a
// target name ("a0.bmp" and "a0.tga" both become "a0.png"), one pair in a
// subfolder, single files of different sizes, one image without alpha and
// one damaged file.
void MakeSources(const fs::path& folder, const std::string& target) {
    const auto [earlier, later] = SourceKinds(target);
    fs::create_directories(folder / "sub");
    auto make = [&](const std::string& kind, const std::string& name, uint32_t width, uint32_t height, uint32_t seed) {
        const fs::path path = folder / (name + kind);
        WriteFileBytes(path.string(), kind == ".bmp"   ? Bmp(width, height, seed)
                                      : kind == ".tga" ? Tga(width, height, seed)
                                                       : Png(width, height, seed, folder / "scratch.tmp"));
    };
    // Three pairs listed first, each a slow source and a quick one: with four
    // workers and no ordering, a free worker would write the quick later
    // sources' targets while the slow ones are still being converted, and
    // the slow ones would land last.
    for (uint32_t i = 0; i < 3; ++i) {
        make(earlier, "a" + std::to_string(i), 900, 901, i);
        make(later, "a" + std::to_string(i), 2, 3, 100 + i);
    }
    make(earlier, "sub/b", 5, 7, 50);
    make(later, "sub/b", 6, 4, 51);
    const uint32_t sizes[] = {3, 64, 17, 120, 1, 40, 95, 8};
    // Few single files of the earlier kind, so that a free worker reaches
    // the quick sources soon.
    for (uint32_t i = 0; i < 10; ++i)
        make(i % 3 == 2 ? earlier : later, "f" + std::to_string(i), sizes[i % 8], sizes[i % 8] + 1, 10 + i);
    const std::string plain = earlier == ".png" ? later : earlier;  // hand-made bytes
    WriteFileBytes((folder / ("opaque" + plain)).string(), plain == ".bmp" ? Bmp(9, 9, 7, 24) : Tga(9, 9, 7, 24));
    WriteFileBytes((folder / ("damaged" + plain)).string(),
                   {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'});
}

class ParallelRun : public ::testing::TestWithParam<std::string> {};

TEST_P(ParallelRun, FourWorkersWriteTheFilesOfOne) {
    const std::string target = GetParam();
    TTempFolder temp;
    const fs::path sequential = temp.Path() / "sequential";
    MakeSources(sequential, target);
    const auto sources = Contents(sequential);
    const TRun one = RunCli("-j 1 --to " + target + " " + Quoted(sequential.string()));
    ASSERT_EQ(one.Status, 0) << one.Output;
    const auto written = Contents(sequential);
    ASSERT_GT(written.size(), sources.size());

    // Several parallel runs: a race that loses only sometimes still shows.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const fs::path parallel = temp.Path() / ("parallel" + std::to_string(attempt));
        fs::create_directories(parallel);
        for (const auto& [name, bytes] : sources) {
            fs::create_directories((parallel / name).parent_path());
            WriteFileBytes((parallel / name).string(), bytes);
        }
        const TRun four = RunCli("-j 4 --to " + target + " " + Quoted(parallel.string()));
        EXPECT_EQ(four.Status, one.Status);
        EXPECT_EQ(four.Output, one.Output);
        const auto got = Contents(parallel);
        ASSERT_EQ(got.size(), written.size());
        for (const auto& [name, bytes] : written) {
            const auto found = got.find(name);
            ASSERT_NE(found, got.end()) << name;
            EXPECT_TRUE(found->second == bytes) << name << " differs with -j 4";
        }
    }

    // The later source of a shared name wins, as in the window: the target
    // comes from the kind the folder scan lists last.
    const std::string last = SourceKinds(target).second;
    const fs::path alone = temp.Path() / "alone";
    fs::create_directories(alone);
    WriteFileBytes((alone / ("a0" + last)).string(), sources.at("a0" + last));
    ASSERT_EQ(RunCli("-q -j 1 --to " + target + " " + Quoted(alone.string())).Status, 0);
    EXPECT_TRUE(ReadFileBytes((alone / ("a0" + target)).string()) == written.at("a0" + target));
}

INSTANTIATE_TEST_SUITE_P(Targets, ParallelRun, ::testing::Values(".png", ".tga", ".bmp"),
                         [](const auto& parameter) { return parameter.param.substr(1); });

TEST(ParallelRunSummary, CountsAgreeWithOneWorker) {
    TTempFolder temp;
    MakeSources(temp.Path(), ".png");
    // 7 BMP and 11 TGA sources with alpha, a 24-bit BMP and a damaged BMP.
    const std::string expected = "converted 18, skipped as not 32-bit 1, unreadable 1, failed 0";
    const TRun one = RunCli("-j 1 --to .png " + Quoted(temp.Path().string()));
    EXPECT_EQ(one.Output.substr(0, expected.size()), expected) << one.Output;
    const TRun four = RunCli("-j 4 --to .png " + Quoted(temp.Path().string()));
    EXPECT_EQ(four.Output, one.Output);
}

}  // namespace
