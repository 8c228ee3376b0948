// Runs the tamberlit-cli program on temporary folders, as a user would.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "formats/png/png_bitmap.hpp"
#include "formats/tga/tga_file.hpp"
#include "convert/image_format_conversions.hpp"
#include "tests/cli/cli_test_support.hpp"
#include "tests/image/bmp_test_files.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
namespace fs = std::filesystem;

namespace {

struct TRun {
    int status = -1;     // -1 when the program did not exit by itself
    std::string output;  // standard output and standard error together
};

TRun RunCli(const std::vector<std::string>& arguments) {
    const TCommandRun run = RunShell(CliCommand(arguments));
    return {run.exitCode, run.output};
}

// A picture whose every pixel differs and whose alpha runs through all values.
void Paint(TBitmap& bitmap, TPixelFormat format, int width, int height, int seed) {
    PaintPixels(bitmap, width, height, format, [seed, width](int x, int y, int channel) {
        const int values[4] = {x * 7 + seed, y * 13 + seed, x * y + seed, x + y * width};
        return values[channel];
    });
}

void SaveTga(TBitmap& bitmap, const std::string& path) {
    TTGAFile file;
    file.AssignBitmap(bitmap);
    file.SaveFile(path);
}

void SavePng(TBitmap& bitmap, const std::string& path) {
    TPNGBitmap png;
    png.CopyFrom(&bitmap);
    png.SaveFile(path);
}

std::vector<uint8_t> LoadPixels(const std::string& path, TPixelFormat* format = nullptr) {
    TBitmap bitmap;
    EXPECT_TRUE(LoadImageFile(path, bitmap)) << path;
    if (format) *format = bitmap.PixelFormat();
    return RgbaPixels(bitmap);
}

}  // namespace

TEST(EndToEnd, TgaAndPngConvertIntoEachOtherKeepingEveryAlphaByte) {
    TTempFolder folder;
    TBitmap picture;
    Paint(picture, Px32, 37, 11, 3);
    fs::create_directories(folder.Path() / "sprites/deep");
    SaveTga(picture, folder / "sprites/a.tga");
    SaveTga(picture, folder / "sprites/deep/b.tga");

    TRun run = RunCli({"--to", ".png", folder / "sprites"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("converted 2,"), std::string::npos) << run.output;
    TPixelFormat format{};
    EXPECT_EQ(LoadPixels(folder / "sprites/deep/b.png", &format), RgbaPixels(picture));
    EXPECT_EQ(format, Px32);

    fs::remove(folder.Path() / "sprites/a.tga");
    fs::remove(folder.Path() / "sprites/deep/b.tga");
    run = RunCli({"--to", "tga", "-j", "2", folder / "sprites"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(LoadPixels(folder / "sprites/a.tga", &format), RgbaPixels(picture));
    EXPECT_EQ(format, Px32);
}

TEST(EndToEnd, BmpAndTgaConvertIntoEachOtherWithIdenticalPixelsAndAlpha) {
    TTempFolder folder;
    TBitmap first;
    Paint(first, Px32, 31, 7, 5);
    TBitmap second;
    Paint(second, Px32, 1, 1, 200);
    first.SaveFile(folder / "first.bmp");
    fs::create_directory(folder.Path() / "more");
    second.SaveFile(folder / "more/second.bmp");

    TRun run = RunCli({"--to", ".tga", folder.Path().string()});
    ASSERT_EQ(run.status, 0) << run.output;
    for (const char* name : {"first.bmp", "more/second.bmp"})
        fs::rename(folder / name, folder / (std::string(name) + ".orig"));
    run = RunCli({"--to", ".bmp", folder.Path().string()});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(ReadFileBytes(folder / "first.bmp"), ReadFileBytes(folder / "first.bmp.orig"));
    EXPECT_EQ(ReadFileBytes(folder / "more/second.bmp"), ReadFileBytes(folder / "more/second.bmp.orig"));
}

TEST(EndToEnd, AFolderOfEveryKindConvertsToEachTarget) {
    TTempFolder folder;
    TBitmap picture;
    Paint(picture, Px32, 13, 9, 77);
    picture.SaveFile(folder / "a.bmp");
    SaveTga(picture, folder / "b.tga");
    SavePng(picture, folder / "c.png");
    const std::vector<std::string> stems = {"a", "b", "c"};
    for (const std::string target : {".png", ".tga", ".bmp"}) {
        const TRun run = RunCli({"--to", target, folder.Path().string()});
        ASSERT_EQ(run.status, 0) << run.output;
        for (const auto& stem : stems) {
            const std::string output = folder / (stem + target);
            TPixelFormat format{};
            EXPECT_EQ(LoadPixels(output, &format), RgbaPixels(picture)) << output;
            EXPECT_EQ(format, Px32) << output;
        }
    }
}

TEST(EndToEnd, AlphaOnlySkipsTwentyFourBitSourcesAndAllConvertsThem) {
    TTempFolder folder;
    TBitmap opaque;
    Paint(opaque, Px24, 5, 4, 9);
    SavePng(opaque, folder / "opaque.png");
    TRun run = RunCli({"--to", ".tga", folder.Path().string()});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_FALSE(fs::exists(folder.Path() / "opaque.tga"));
    EXPECT_NE(run.output.find("skipped as not 32-bit 1"), std::string::npos) << run.output;

    run = RunCli({"--to", ".tga", "--all", folder.Path().string()});
    ASSERT_EQ(run.status, 0) << run.output;
    TPixelFormat format{};
    EXPECT_EQ(LoadPixels(folder / "opaque.tga", &format), RgbaPixels(opaque));
    EXPECT_EQ(format, Px24);
}

TEST(EndToEnd, ADroppedFileWithTheTargetsExtensionIsRewrittenInPlace) {
    TTempFolder folder;
    TBitmap picture;
    Paint(picture, Px32, 8, 8, 1);
    SaveTga(picture, folder / "same.tga");
    const auto before = ReadFileBytes(folder / "same.tga");
    const TRun run = RunCli({"--to", ".tga", folder / "same.tga"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(ReadFileBytes(folder / "same.tga"), before);  // our writer gives back the same bytes
    // ...but inside a folder, files of the target kind are never listed.
    const TRun folderRun = RunCli({"--to", ".tga", "--verbose", folder.Path().string()});
    EXPECT_EQ(folderRun.output.find("same.tga"), std::string::npos) << folderRun.output;
}

TEST(EndToEnd, OneBadFileNeverCostsTheRestOfTheBatch) {
    TTempFolder folder;
    TBitmap picture;
    Paint(picture, Px32, 4, 4, 2);
    SaveTga(picture, folder / "a.tga");
    SaveTga(picture, folder / "c.tga");
    WriteFileBytes(folder / "b.tga", {1, 2, 3});    // unreadable
    fs::create_directory(folder.Path() / "a.png");  // the target is a folder: the write fails
    const TRun run = RunCli({"--to", ".png", "-j", "1", folder.Path().string()});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("a.tga: "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("converted 1, skipped as not 32-bit 0, unreadable 1, failed 1"), std::string::npos)
        << run.output;
    EXPECT_TRUE(fs::is_regular_file(folder.Path() / "c.png"));
    EXPECT_EQ(ReadFileBytes(folder / "b.tga"), (std::vector<uint8_t>{1, 2, 3}));  // sources are only read
}

TEST(EndToEnd, ReadOnlyTargetsAreLeftAlone) {
    TTempFolder folder;
    TBitmap picture;
    Paint(picture, Px32, 4, 4, 2);
    SaveTga(picture, folder / "a.tga");
    WriteFileBytes(folder / "a.png", {42});
    fs::permissions(folder.Path() / "a.png", fs::perms::owner_read | fs::perms::group_read);
    const TRun run = RunCli({folder / "a.tga"});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(ReadFileBytes(folder / "a.png"), (std::vector<uint8_t>{42}));
    EXPECT_NE(run.output.find("read-only target left as it is"), std::string::npos) << run.output;
}

// A folder the user may not write in: an existing target cannot be replaced
// and is left as a read-only one is; a new target cannot be made, an error.
// Root may write anywhere, so there the run is made as nobody.
TEST(EndToEnd, TargetsInAFolderWeMayNotWriteAreLeftAlone) {
    TTempFolder folder;
    const fs::path locked = folder.Path() / "locked";
    fs::create_directory(locked);
    TBitmap picture;
    Paint(picture, Px32, 4, 4, 2);
    SaveTga(picture, (locked / "a.tga").string());
    SaveTga(picture, (locked / "b.tga").string());
    WriteFileBytes((locked / "a.png").string(), {42});
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const bool root = ::geteuid() == 0;
    // The target itself is writable: only its folder is not.
    if (root) {
        ASSERT_EQ(::chown((locked / "a.png").c_str(), 65534, 65534), 0);
    }
    const std::string asUser = root ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const TCommandRun run = RunShell(asUser + CliCommand({"--to", ".png", "-j", "1", locked.string()}));
    fs::permissions(locked, fs::perms::owner_all, fs::perm_options::add);
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_EQ(ReadFileBytes((locked / "a.png").string()), (std::vector<uint8_t>{42}));
    EXPECT_NE(run.output.find("a.png: read-only target left as it is"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("b.tga: Error Opening File"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(locked / "b.png"));
}

// Only a fault of the file makes it unreadable. Under a limit of 150 MB of
// address space, the 1 GiB block that a valid run-length BMP of 16384 x 16384
// needs cannot be had: a failure (exit status 1), not an unreadable file. A
// GIF frame of that size whose code size is invalid is refused for that
// before its pixels are allocated.
TEST(EndToEnd, OnlyAFaultOfTheFileMakesItUnreadable) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
    TTempFolder folder;
    WriteFileBytes(folder / "jump.bmp", bmp_files::File(bmp_files::InfoHeader(16384, 16384, 8, 1, 2),
                                                        TBytes().Fill(8, 0), TBytes().U8(0).U8(1)));
    TBytes gif;
    gif.Text("GIF89a").U16(16384).U16(16383).U8(0x80).U8(0).U8(0).Fill(6, 0);
    gif.U8(0x2C).U16(0).U16(0).U16(16384).U16(16383).U8(0);
    WriteFileBytes(folder / "code12.gif", gif.U8(12).U8(1).U8(0xFF).U8(0).U8(0x3B).Data());
    const std::string cli = CliCommand({"--all", "--verbose", "-j", "1", folder / "jump.bmp", folder / "code12.gif"});
    const TCommandRun run = RunShell("sh -c " + ShellQuote("ulimit -v 150000 && exec " + cli));
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("jump.bmp: Out of memory"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("unreadable " + (folder / "code12.gif") + ": Invalid GIF data"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("unreadable 1, failed 1"), std::string::npos) << run.output;
}

// A file that holds half of its picture or more is converted and named, so
// that nobody deletes its source believing the copy whole; less is refused.
TEST(EndToEnd, CutShortFilesAreNamedOrRefused) {
    TTempFolder folder;
    TBitmap picture;
    Paint(picture, Px32, 4, 10, 2);
    SaveTga(picture, folder / "whole.tga");
    const std::vector<uint8_t> whole = ReadFileBytes(folder / "whole.tga");
    auto cut = [&](const std::string& name, size_t rows) {
        WriteFileBytes(folder / name, std::vector<uint8_t>(whole.begin(), whole.begin() + 18 + 16 * rows));
    };
    cut("little.tga", 4);
    for (int i = 0; i < 12; ++i) cut("part" + std::to_string(100 + i) + ".tga", 6);

    const TRun run = RunCli({"--to", ".bmp", folder.Path().string()});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("converted 13, skipped as not 32-bit 0, unreadable 1, failed 0, converted from a "
                              "cut-short file 12 (" +
                              (folder / "part100.tga") + ", "),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find((folder / "part109.tga") + " and 2 more, --verbose lists them)"), std::string::npos)
        << run.output;
    EXPECT_FALSE(fs::exists(folder.Path() / "little.bmp"));

    const TRun verbose = RunCli({"--to", ".png", "--verbose", folder / "part111.tga", folder / "little.tga"});
    EXPECT_NE(verbose.output.find("converted from a cut-short file " + (folder / "part111.tga") + " -> " +
                                  (folder / "part111.png") + " (6 of 10 rows present)"),
              std::string::npos)
        << verbose.output;
    EXPECT_NE(verbose.output.find("unreadable " + (folder / "little.tga") + ": cut short: 4 of 10 rows present"),
              std::string::npos)
        << verbose.output;
}

TEST(EndToEnd, MaxPixelsRefusesLargerImages) {
    TTempFolder folder;
    TBitmap picture;
    Paint(picture, Px32, 20, 20, 2);
    SaveTga(picture, folder / "big.tga");
    const TRun run = RunCli({"--max-pixels", "100", "--verbose", folder / "big.tga"});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("unreadable " + (folder / "big.tga") + ": Image too large"), std::string::npos)
        << run.output;
    EXPECT_FALSE(fs::exists(folder.Path() / "big.png"));
}
