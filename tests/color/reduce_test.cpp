#include "color/reduce.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>

#include "color/color_lookup.hpp"
#include "color/palettes.hpp"
#include "image/exceptions.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;

namespace {

// A picture with smooth gradients and some noise, B, G, R.
void FillPicture(TBitmap& bitmap, int width, int height, TPixelFormat format = Px24) {
    std::mt19937 random(1);
    tamberlit::testing::PaintPixels(bitmap, width, height, format, [&](int x, int y, int channel) -> uint8_t {
        switch (channel) {
            case 0: return uint8_t(255 * x / std::max(1, width - 1));
            case 1: return uint8_t(255 * y / std::max(1, height - 1));
            case 2: return uint8_t((x * y / 3 + random() % 8) & 255);
            default: return uint8_t(x);
        }
    });
}

TPaletteEntry TableColor(const TBitmap& bitmap, uint8_t index) {
    const TRGBQuad& q = bitmap.Image().Handle->ColorTable[index];
    return {q.rgbRed, q.rgbGreen, q.rgbBlue, 0};
}

// Every pixel of the result, through its colour table, next to the source.
double MeanChannelError(const TBitmap& source, const TBitmap& result) {
    double total = 0;
    for (int y = 0; y < source.Height(); ++y) {
        const uint8_t* in = source.ConstRowAddress(y);
        const uint8_t* out = result.ConstRowAddress(y);
        for (int x = 0; x < source.Width(); ++x) {
            const TPaletteEntry c = TableColor(result, out[x]);
            total += std::abs(c.peBlue - in[3 * x]) + std::abs(c.peGreen - in[3 * x + 1]) +
                     std::abs(c.peRed - in[3 * x + 2]);
        }
    }
    return total / (3.0 * source.Width() * source.Height());
}

}  // namespace

TEST(FixedPalettes, MatchTheirLookups) {
    const HPALETTE cube = CreateNetscapePalette();
    const HPALETTE greys = CreateGreyRampPalette();
    ASSERT_EQ(cube->Entries.size(), 216u);
    ASSERT_EQ(greys->Entries.size(), 256u);
    TNetscapeColorLookup netscape;
    TGrayScaleLookup grey;
    for (int i = 0; i < 216; ++i) {
        const TPaletteEntry& e = cube->Entries[size_t(i)];
        uint8_t r, g, b;
        EXPECT_EQ(netscape.MapColor(e.peRed, e.peGreen, e.peBlue, r, g, b), i);
        EXPECT_EQ(TPaletteEntry({r, g, b, 0}), e);
    }
    for (int i = 0; i < 256; ++i) {
        const TPaletteEntry& e = greys->Entries[size_t(i)];
        uint8_t r, g, b;
        EXPECT_EQ(grey.MapColor(e.peRed, e.peGreen, e.peBlue, r, g, b), i);
        EXPECT_EQ(e.peFlags, PC_NOCOLLAPSE);
    }
    EXPECT_EQ(CreateFourGreyPalette()->Entries[1], (TPaletteEntry{128, 128, 128, PC_NOCOLLAPSE}));
    EXPECT_EQ(CreateBlackWhitePalette()->Entries.size(), 2u);
    EXPECT_EQ(CreateScreenHalftonePalette()->Entries, HalftonePalette()->Entries);
}

TEST(ReduceBitmapColors, NoReductionIsA24BitCopyThatLeavesTheSourceAlone) {
    TBitmap source;
    FillPicture(source, 4, 3, Px32);
    auto result = ReduceBitmapColors(source, rmNone, dmFloydSteinberg, 8);
    EXPECT_EQ(result->PixelFormat(), Px24);
    EXPECT_EQ(result->Width(), 4);
    EXPECT_EQ(source.PixelFormat(), Px32);
    EXPECT_EQ(source.ConstRowAddress(0)[4 * 3 + 3], 3);  // alpha kept in the source
    EXPECT_EQ(result->ConstRowAddress(2)[3], source.ConstRowAddress(2)[4]);
}

TEST(ReduceBitmapColors, FixedPalettesMapThroughTheirLookups) {
    struct Case {
        TColorReduction method;
        size_t paletteSize;
        std::function<TPaletteEntry(int)> entry;
        std::function<int(int, int, int)> index;  // expected index for r, g, b
    } cases[] = {
        {rmNetscape, 216, [](int i) { return CreateNetscapePalette()->Entries[size_t(i)]; },
         [](int r, int g, int b) { return (b + 3) / 51 + 6 * ((g + 3) / 51) + 36 * ((r + 3) / 51); }},
        {rmGreyRamp, 256, [](int i) { return CreateGreyRampPalette()->Entries[size_t(i)]; },
         [](int r, int g, int b) { return (77 * r + 150 * g + 29 * b) >> 8; }},
        {rmBlackWhite, 2, [](int i) { return CreateBlackWhitePalette()->Entries[size_t(i)]; },
         [](int r, int g, int b) { return 77 * r + 150 * g + 29 * b > 32512 ? 1 : 0; }},
        {rmFourGreys, 4, [](int i) { return CreateFourGreyPalette()->Entries[size_t(i)]; },
         [](int r, int g, int b) {
             return int(GetNearestPaletteIndex(CreateFourGreyPalette(), RGBColor(uint8_t(r), uint8_t(g), uint8_t(b))));
         }},
        {rmWindows20, 20, [](int i) { return DefaultPalette20()->Entries[size_t(i)]; },
         [](int r, int g, int b) {
             return int(GetNearestPaletteIndex(DefaultPalette20(), RGBColor(uint8_t(r), uint8_t(g), uint8_t(b))));
         }},
        {rmWindowsHalftone, 256, [](int i) { return HalftonePalette()->Entries[size_t(i)]; },
         [](int r, int g, int b) {
             return int(GetNearestPaletteIndex(HalftonePalette(), RGBColor(uint8_t(r), uint8_t(g), uint8_t(b))));
         }},
    };
    for (const Case& c : cases) {
        TBitmap source;
        FillPicture(source, 37, 9);
        auto result = ReduceBitmapColors(source, c.method, dmNearest, 8);
        ASSERT_EQ(result->PixelFormat(), Px8) << "method " << c.method;
        ASSERT_EQ(result->Width(), 37);
        ASSERT_EQ(result->Height(), 9);
        const auto& table = result->Image().Handle->ColorTable;
        ASSERT_EQ(table.size(), 256u);
        for (size_t i = 0; i < 256; ++i) {
            TPaletteEntry expected = i < c.paletteSize ? c.entry(int(i)) : TPaletteEntry{};
            expected.peFlags = 0;
            ASSERT_EQ(TableColor(*result, uint8_t(i)), expected) << "method " << c.method << " entry " << i;
        }
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 37; ++x) {
                const uint8_t* p = source.ConstRowAddress(y) + 3 * x;
                ASSERT_EQ(result->ConstRowAddress(y)[x], c.index(p[2], p[1], p[0]))
                    << "method " << c.method << " at " << x << "," << y;
            }
    }
}

TEST(ReduceBitmapColors, SourceBecomes24Bit) {
    TBitmap source;
    FillPicture(source, 5, 5, Px32);
    auto result = ReduceBitmapColors(source, rmNetscape, dmFloydSteinberg, 8);
    EXPECT_EQ(source.PixelFormat(), Px24);
    EXPECT_EQ(result->PixelFormat(), Px8);
}

TEST(ReduceBitmapColors, OptimizedPaletteWithFewColoursIsExact) {
    TBitmap source;
    source.NewImage(6, 4, Px24);
    const uint8_t colors[3][3] = {{10, 20, 30}, {200, 100, 0}, {7, 7, 7}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) std::memcpy(source.RowAddress(y) + 3 * x, colors[(x + y) % 3], 3);
    for (int mode = dmNearest; mode <= dmBurkes; ++mode) {
        TBitmap copy;
        copy.CopyFrom(&source);
        auto result = ReduceBitmapColors(copy, rmOptimized, TDitherMode(mode), 8);
        ASSERT_EQ(result->PixelFormat(), Px8);
        EXPECT_EQ(MeanChannelError(source, *result), 0.0) << "mode " << mode;
    }
    // Two bits of reduction: four entries.
    auto four = ReduceBitmapColors(source, rmOptimized, dmNearest, 2);
    EXPECT_EQ(four->Image().Handle->Header.biClrImportant, 4u);
}

TEST(ReduceBitmapColors, OptimizedWithSystemColoursHasThemAtBothEnds) {
    TBitmap source;
    FillPicture(source, 64, 64);
    auto result = ReduceBitmapColors(source, rmOptimizedWindows, dmFloydSteinberg, 8);
    ASSERT_EQ(result->PixelFormat(), Px8);
    EXPECT_EQ(result->Image().Handle->Header.biClrImportant, 256u);
    const HPALETTE system = DefaultPalette20();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(TableColor(*result, uint8_t(i)), system->Entries[size_t(i)]);
        EXPECT_EQ(TableColor(*result, uint8_t(246 + i)), system->Entries[size_t(10 + i)]);
    }
    EXPECT_LT(MeanChannelError(source, *result), 12.0);
}

TEST(ReduceBitmapColors, CallersPalette) {
    TBitmap source;
    FillPicture(source, 8, 8);
    const HPALETTE palette = CreatePalette({{0, 0, 0, 0}, {255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}});
    auto result = ReduceBitmapColors(source, rmPalette, dmSierra, 8, palette);
    ASSERT_EQ(result->PixelFormat(), Px8);
    EXPECT_EQ(TableColor(*result, 3), (TPaletteEntry{0, 0, 255, 0}));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_LT(result->ConstRowAddress(y)[x], 4);
}

TEST(ReduceBitmapColors, UnknownChoicesGiveAnEmptyBitmap) {
    TBitmap source;
    FillPicture(source, 4, 4);
    EXPECT_TRUE(ReduceBitmapColors(source, TColorReduction(10), dmNearest, 8)->Empty());
    EXPECT_TRUE(ReduceBitmapColors(source, TColorReduction(-1), dmNearest, 8)->Empty());
    EXPECT_TRUE(ReduceBitmapColors(source, rmNetscape, TDitherMode(7), 8)->Empty());
    EXPECT_TRUE(ReduceBitmapColors(source, rmPalette, dmNearest, 8)->Empty());
    EXPECT_TRUE(ReduceBitmapColors(source, rmPalette, dmNearest, 8, CreatePalette({}))->Empty());
}

TEST(ReduceBitmapColors, SourceWithoutPixelsIsRefused) {
    for (auto [w, h] : {std::pair{0, 5}, {5, 0}}) {
        TBitmap source;
        source.NewImage(w, h, Px24);
        try {
            ReduceBitmapColors(source, rmOptimized, dmFloydSteinberg, 8);
            FAIL() << "no error";
        } catch (const EInvalidGraphic& error) {
            EXPECT_STREQ(error.what(), "Invalid image dimensions");
        }
    }
    TBitmap empty;
    EXPECT_THROW(ReduceBitmapColors(empty, rmNetscape, dmNearest, 8), EInvalidGraphic);
}

TEST(ReduceBitmapColors, LargePictureStillBecomesEightBit) {
    // 600000 pixels of a narrow range of colours, as photographs have: the
    // palette made for the picture must beat the fixed cube by far.
    TBitmap source;
    source.NewImage(1000, 600, Px24);
    std::mt19937 random(2);
    for (int y = 0; y < 600; ++y) {
        uint8_t* row = source.RowAddress(y);
        for (int x = 0; x < 1000; ++x) {
            const int light = (x + y) * 255 / 1600;
            row[3 * x] = uint8_t(light / 2 + random() % 8);
            row[3 * x + 1] = uint8_t(light * 3 / 4 + 20 + int(20 * std::sin(x / 50.0)));
            row[3 * x + 2] = uint8_t(light);
        }
    }
    auto optimized = ReduceBitmapColors(source, rmOptimized, dmFloydSteinberg, 8);
    ASSERT_EQ(optimized->PixelFormat(), Px8);
    EXPECT_EQ(optimized->Width(), 1000);
    EXPECT_EQ(optimized->Height(), 600);
    auto cube = ReduceBitmapColors(source, rmNetscape, dmFloydSteinberg, 8);
    const double optimizedError = MeanChannelError(source, *optimized);
    const double cubeError = MeanChannelError(source, *cube);
    EXPECT_LT(optimizedError, 3.0);
    EXPECT_LT(optimizedError * 3, cubeError);
}
