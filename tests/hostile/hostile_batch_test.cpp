// Hostile files among good ones through tamberlit-cli: every good file is
// still converted, every hostile one is named with its reason, nothing is
// written for it, and the run ends quickly.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "formats/tga/tga_file.hpp"
#include "convert/image_format_conversions.hpp"
#include "image/limits.hpp"
#include "tests/cli/cli_test_support.hpp"
#include "tests/formats/gif/gif_test_files.hpp"
#include "tests/formats/png/png_test_files.hpp"
#include "tests/formats/tga/tga_test_files.hpp"
#include "tests/hostile/hostile_support.hpp"
#include "tests/image/bmp_test_files.hpp"
#include "tests/formats/jpeg/jpeg_reference.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
namespace fs = std::filesystem;

namespace {

void Paint(TBitmap& bitmap, TPixelFormat format, int width, int height) {
    bitmap.NewImage(width, height, format);
    PaintRowBytes(bitmap, [](size_t i, int y) { return i * 7 + y * 13; });
}

std::vector<uint8_t> GifWithALoopInItsFrame() {
    TBytes bytes = GIFHeader(8, 8, 1);
    AppendDescriptor(bytes, 0, 0, 8, 8);
    AppendImageData(bytes, 2, {{4, 3}, {7, 3}, {6, 3}, {7, 3}, {6, 4}, {5, 4}});
    return bytes.U8(0x3B).Data();
}

}  // namespace

TEST(HostileBatch, GoodFilesConvertAndEveryHostileOneIsNamed) {
    TTempFolder folder;
    fs::create_directory(folder.Path() / "in");
    auto in = [&folder](const std::string& name) { return folder / ("in/" + name); };

    // The good ones: 32-bit TGA and BMP in the folder, a JPEG and a GIF named.
    TBitmap picture;
    Paint(picture, Px32, 40, 30);
    {
        TTGAFile file;
        file.AssignBitmap(picture);
        file.SaveFile(in("good32.tga"));
    }
    picture.SaveFile(in("good32.bmp"));
    WriteFileBytes(in("good_jpeg.jpg"), EncodeReference(33, 17, GradientRgb(33, 17)));
    {
        TBytes gif = GIFHeader(5, 4, 1);
        AppendFrame(gif, 5, 4, std::vector<uint8_t>(20, 3));
        WriteFileBytes(in("good_gif.gif"), gif.U8(0x3B).Data());
    }

    // The hostile ones, each refused by its reader (and, for BMP, by the
    // lenient loader too).
    std::vector<std::string> hostile;
    auto add = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
        WriteFileBytes(in(name), bytes);
        hostile.push_back(name);
    };
    add("bomb.tga", TGAHeader({.width = 65535, .height = 65535}).Data());
    add("type255.tga", TGAHeader({.type = 255, .width = 4, .height = 4}).Data());
    add("tall.bmp", bmp_files::File(bmp_files::InfoHeader(2, INT32_MIN, 24), {}, TBytes().Fill(16, 1)));
    add("header0.bmp", bmp_files::File(bmp_files::InfoHeader(2, 2, 24, BI_RGB, 0, 0), {}, TBytes().Fill(16, 1)));
    add("loop.gif", GifWithALoopInItsFrame());
    {
        TBytes gif = GIFHeader(65535, 65535, 1);
        AppendDescriptor(gif, 0, 0, 1, 1);
        AppendImageData(gif, 2, {{4, 3}, {1, 3}, {5, 3}});
        add("screen.gif", gif.U8(0x3B).Data());
    }
    {
        std::vector<uint8_t> cmyk;
        for (int i = 0; i < 16 * 8; ++i) cmyk.insert(cmyk.end(), {uint8_t(i), 40, 80, 0});
        add("cmyk.jpg", EncodeReference(16, 8, cmyk, {.Input = TJpegInput::Cmyk}));
    }
    add("empty.jpg", {});
    {
        TPngLayout layout(3, 3, 8, PNG_COLOR_TYPE_RGB);
        layout.Pixels.assign(layout.RowBytes() * 3, 9);
        auto png = EncodePng(layout);
        png[20] = 0x7F;  // IHDR height beyond the limit; its CRC is now wrong too
        add("huge.dat", png);
    }

    std::vector<std::string> arguments{"--to", ".png", "--all", "--verbose", "-j", "2", folder / "in"};
    for (const char* named :
         {"good_jpeg.jpg", "good_gif.gif", "loop.gif", "screen.gif", "cmyk.jpg", "empty.jpg", "huge.dat"})
        arguments.push_back(in(named));
    const auto start = std::chrono::steady_clock::now();
    const TCommandRun run = RunShell(CliCommand(arguments));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 10.0) << run.output;

    // Unreadable files are reported, not failed: the run's exit status says
    // failure only for files that could be read but not converted.
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("converted 4, skipped as not 32-bit 0, unreadable " + std::to_string(hostile.size()) +
                              ", failed 0"),
              std::string::npos)
        << run.output;
    for (const auto& name : hostile) {
        EXPECT_NE(run.output.find("unreadable " + in(name) + ": "), std::string::npos) << name << "\n" << run.output;
        EXPECT_FALSE(fs::exists(fs::path(in(name)).replace_extension(".png"))) << name;
    }
    for (const auto& [name, width, height, format] : std::vector<std::tuple<std::string, int, int, TPixelFormat>>{
             {"good32.png", 40, 30, Px32}, {"good_jpeg.png", 33, 17, Px24}, {"good_gif.png", 5, 4, Px24}}) {
        TBitmap converted;
        ASSERT_TRUE(LoadImageFile(in(name), converted)) << name;
        EXPECT_EQ(converted.Width(), width) << name;
        EXPECT_EQ(converted.Height(), height) << name;
        EXPECT_EQ(converted.PixelFormat(), format) << name;
    }
    // good32.tga and good32.bmp share their target (the later one in list
    // order wins): both are converted.
    EXPECT_NE(run.output.find("converted " + in("good32.tga")), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("converted " + in("good32.bmp")), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("converted " + in("good_jpeg.jpg")), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("converted " + in("good_gif.gif")), std::string::npos) << run.output;
}
