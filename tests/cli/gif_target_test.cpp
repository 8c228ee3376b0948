// tamberlit-cli --to .gif end to end: every written file read back by giflib
// and checked against its source: size, colours, transparency.

#include <gtest/gtest.h>

#include <cstdint>
#include <set>

#include "color/palettes.hpp"
#include "tests/cli/cli_test_support.hpp"
#include "tests/formats/gif/gif_write_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;

namespace {

constexpr int width = 20, height = 12;

// Twelve colours in small blocks; alpha walks round values on both sides of
// the default threshold.
void PaintFewColors(TBitmap& bitmap, TPixelFormat format) {
    PaintPixels(bitmap, width, height, format, [](int x, int y, int channel) {
        const int color = (x / 2 + y) % 12;
        const int values[4] = {color * 20, 255 - color * 17, color * color, (x * 37 + y * 11) % 256};
        return values[channel];
    });
}

using TColorSet = std::set<uint32_t>;
uint32_t Rgb(int red, int green, int blue) { return uint32_t(red) << 16 | uint32_t(green) << 8 | uint32_t(blue); }

TColorSet ColorsOf(const HPALETTE& palette) {
    TColorSet colors;
    for (const auto& entry : palette->Entries) colors.insert(Rgb(entry.peRed, entry.peGreen, entry.peBlue));
    return colors;
}

// Reads the GIF with giflib and checks it against its source (RGBA, rows top
// first): its size; transparency exactly where alpha is below threshold; every
// other pixel the source's own colour (exact) or one of allowed (when given).
// Returns the distinct colours of the opaque pixels.
TColorSet CheckGIF(const std::string& path, const std::vector<uint8_t>& source, int w, int h, int threshold, bool exact,
                   const TColorSet& allowed = {}) {
    TColorSet used;
    const auto file = DecodeFileWithGiflib(path);
    if (!file) {
        ADD_FAILURE() << "giflib (libgif-dev) was not found at build time";
        return used;
    }
    EXPECT_EQ(file->Signature, "GIF89a") << path;
    EXPECT_EQ(file->ScreenWidth, w);
    EXPECT_EQ(file->ScreenHeight, h);
    if (file->Frames.size() != 1) {
        ADD_FAILURE() << path << ": " << file->Frames.size() << " frames";
        return used;
    }
    const TGiflibFrame& frame = file->Frames[0];
    EXPECT_EQ(frame.Width, w);
    EXPECT_EQ(frame.Height, h);
    bool anyTransparent = false;
    size_t wrongTransparency = 0, wrongColor = 0, offPalette = 0, first = SIZE_MAX;
    for (size_t i = 0; i < frame.Pixels.size() && i * 4 < source.size(); ++i) {
        const uint8_t* wanted = &source[i * 4];
        const bool transparent = wanted[3] < threshold;
        anyTransparent |= transparent;
        const int index = frame.Pixels[i];
        const size_t faults = wrongTransparency + wrongColor + offPalette;
        if ((index == frame.TransparentIndex) != transparent) {
            ++wrongTransparency;
        } else if (!transparent) {
            const uint8_t* color = &frame.Colors[size_t(index) * 3];
            const uint32_t rgb = Rgb(color[0], color[1], color[2]);
            used.insert(rgb);
            wrongColor += exact && rgb != Rgb(wanted[0], wanted[1], wanted[2]);
            offPalette += !allowed.empty() && !allowed.count(rgb);
        }
        if (first == SIZE_MAX && faults != wrongTransparency + wrongColor + offPalette) first = i;
    }
    EXPECT_EQ(wrongTransparency, 0u) << path << ": transparency wrong, first at pixel " << first;
    EXPECT_EQ(wrongColor, 0u) << path << ": colours not the source's, first at pixel " << first;
    EXPECT_EQ(offPalette, 0u) << path << ": colours off the palette, first at pixel " << first;
    if (!anyTransparent) {
        EXPECT_EQ(frame.TransparentIndex, -1) << path << ": a transparent index without need";
    }
    return used;
}

struct TPaletteCase {
    const char* Name;
    HPALETTE (*Palette)();  // the fixed palette the colours must come from; nullptr: the source's own
};

}  // namespace

// Every palette with every ditherer, on a source with alpha and an opaque one
// (converted with --all): the optimized palettes keep the twelve colours.
TEST(GIFTarget, EveryPaletteAndDitherReadsBackThroughGiflib) {
    TTempFolder folder;
    TBitmap alpha, opaque;
    PaintFewColors(alpha, Px32);
    PaintFewColors(opaque, Px24);
    SavePngFile(alpha, folder / "alpha.png");
    SavePngFile(opaque, folder / "opaque.png");
    const std::vector<uint8_t> alphaPixels = RgbaPixels(alpha), opaquePixels = RgbaPixels(opaque);
    // Without --all the 24-bit source is skipped, as for every target.
    const TCommandRun alphaOnly = RunShell(CliCommand({"--to", ".gif", "-q", folder.Path()}));
    ASSERT_EQ(alphaOnly.exitCode, 0) << alphaOnly.output;
    EXPECT_TRUE(std::filesystem::exists(folder / "alpha.gif"));
    EXPECT_FALSE(std::filesystem::exists(folder / "opaque.gif"));
    const TPaletteCase palettes[] = {
        {"optimized", nullptr},
        {"optimized-system", nullptr},
        {"cube", CreateNetscapePalette},
        {"gray", [] { return CreateGreyRampPalette(); }},
        {"four-grays", CreateFourGreyPalette},
        {"mono", CreateBlackWhitePalette},
        {"default20", DefaultPalette20},
        {"halftone", CreateScreenHalftonePalette},
    };
    for (const auto& palette : palettes) {
        const TColorSet allowed = palette.Palette ? ColorsOf(palette.Palette()) : TColorSet{};
        for (const char* dither :
             {"none", "floyd-steinberg", "stucki", "sierra", "jarvis-judice-ninke", "stevenson-arche", "burkes"}) {
            SCOPED_TRACE(std::string(palette.Name) + " / " + dither);
            const TCommandRun run = RunShell(CliCommand(
                {"--to", ".gif", "--all", "-q", "--palette", palette.Name, "--dither", dither, folder.Path()}));
            ASSERT_EQ(run.exitCode, 0) << run.output;
            CheckGIF(folder / "alpha.gif", alphaPixels, width, height, 128, !palette.Palette, allowed);
            CheckGIF(folder / "opaque.gif", opaquePixels, width, height, 128, !palette.Palette, allowed);
        }
    }
}

// --colors, --alpha-threshold and a palette full to its 256 entries.
TEST(GIFTarget, ColorCountsAndThresholds) {
    TTempFolder folder;
    // 32 x 9: 256 distinct colours in the first 8 rows, opaque; a last row
    // of the first row's colours with alpha 0 to 248.
    TBitmap full;
    PaintPixels(full, 32, 9, Px32, [](int x, int y, int channel) {
        const int values[4] = {x * 8, y % 8 * 32, (x * 8 + y % 8 * 37) % 256, y < 8 ? 255 : x * 8};
        return values[channel];
    });
    SavePngFile(full, folder / "full.png");
    const std::vector<uint8_t> pixels = RgbaPixels(full);
    struct TCase {
        std::vector<std::string> Options;
        int Threshold;
        bool Exact;
        size_t MostColors;
    };
    for (const TCase& test : std::vector<TCase>{
             {{}, 128, false, 255},  // one entry gives way to the transparent one
             {{"--alpha-threshold", "0"}, 0, true, 256},
             {{"--alpha-threshold", "255"}, 255, false, 255},
             {{"--colors", "16"}, 128, false, 16},
             {{"--colors", "2", "--dither", "floyd-steinberg"}, 128, false, 2},
         }) {
        std::vector<std::string> arguments = {"--to", ".gif", "-q", folder / "full.png"};
        arguments.insert(arguments.end(), test.Options.begin(), test.Options.end());
        const TCommandRun run = RunShell(CliCommand(arguments));
        ASSERT_EQ(run.exitCode, 0) << run.output;
        const TColorSet used = CheckGIF(folder / "full.gif", pixels, 32, 9, test.Threshold, test.Exact);
        EXPECT_LE(used.size(), test.MostColors) << test.Options.size();
        EXPECT_GE(used.size(), test.MostColors / 2) << test.Options.size();
    }
}

// A GIF is read as its first frame: it is never written back as a GIF.
TEST(GIFTarget, GIFSourceIsNotRewritten) {
    TTempFolder folder;
    const std::vector<uint8_t> bytes = {'G', 'I',  'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0,    0,    0, 255, 255,
                                        255, 0x2C, 0,   0,   0,   0,   1, 0, 1, 0, 0,    2, 2, 0x44, 0x01, 0, 0x3B};
    WriteFileBytes(folder / "a.gif", bytes);
    const TCommandRun run = RunShell(CliCommand({"--to", ".gif", "--all", folder / "a.gif"}));
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("not converted to GIF"), std::string::npos) << run.output;
    EXPECT_EQ(ReadFileBytes(folder / "a.gif"), bytes);
}
