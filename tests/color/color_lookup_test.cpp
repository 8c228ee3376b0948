#include "color/color_lookup.hpp"

#include <gtest/gtest.h>

#include <random>

using namespace tamberlit;

namespace {

struct TMapped {
    int index;
    int red, green, blue;
    friend bool operator==(const TMapped&, const TMapped&) = default;
};

std::ostream& operator<<(std::ostream& out, const TMapped& m) {
    return out << "index " << m.index << " (" << m.red << ", " << m.green << ", " << m.blue << ")";
}

TMapped Map(TColorLookup& lookup, int red, int green, int blue) {
    uint8_t r = 1, g = 2, b = 3;
    const int index = lookup.MapColor(uint8_t(red), uint8_t(green), uint8_t(blue), r, g, b);
    return {index, r, g, b};
}

}  // namespace

TEST(FixedLookups, MonochromeSplitsAtTheWeightedSum) {
    TMonochromeLookup lookup;
    EXPECT_EQ(lookup.ColorCount(), 2);
    EXPECT_EQ(Map(lookup, 127, 127, 127), (TMapped{0, 0, 0, 0}));  // sum 32512 exactly: black
    EXPECT_EQ(Map(lookup, 128, 128, 128), (TMapped{1, 255, 255, 255}));
    EXPECT_EQ(Map(lookup, 255, 255, 0), (TMapped{1, 255, 255, 255}));  // 58395
    EXPECT_EQ(Map(lookup, 0, 0, 255), (TMapped{0, 0, 0, 0}));          // 7395
}

TEST(FixedLookups, NetscapeLevelsAndCubeIndex) {
    TNetscapeColorLookup lookup;
    EXPECT_EQ(lookup.ColorCount(), 216);
    EXPECT_EQ(Map(lookup, 47, 47, 47), (TMapped{0, 0, 0, 0}));
    EXPECT_EQ(Map(lookup, 48, 0, 0), (TMapped{36, 51, 0, 0}));
    EXPECT_EQ(Map(lookup, 0, 48, 0), (TMapped{6, 0, 51, 0}));
    EXPECT_EQ(Map(lookup, 0, 0, 48), (TMapped{1, 0, 0, 51}));
    EXPECT_EQ(Map(lookup, 255, 255, 255), (TMapped{215, 255, 255, 255}));
    EXPECT_EQ(Map(lookup, 252, 100, 150), (TMapped{5 * 36 + 2 * 6 + 3, 255, 102, 153}));
    // Every value lands on the level whose colour is the nearest one above -3.
    for (int v = 0; v < 256; ++v) {
        const int level = Map(lookup, v, 0, 0).index / 36;
        EXPECT_LE(51 * level - 3, v);
        EXPECT_GT(51 * (level + 1) - 3, v);
    }
}

TEST(FixedLookups, GrayScaleWeights) {
    TGrayScaleLookup lookup;
    EXPECT_EQ(lookup.ColorCount(), 256);
    EXPECT_EQ(Map(lookup, 255, 255, 255), (TMapped{255, 255, 255, 255}));
    EXPECT_EQ(Map(lookup, 255, 0, 0), (TMapped{76, 76, 76, 76}));
    EXPECT_EQ(Map(lookup, 0, 255, 0), (TMapped{149, 149, 149, 149}));
    EXPECT_EQ(Map(lookup, 0, 0, 255), (TMapped{28, 28, 28, 28}));
    EXPECT_EQ(Map(lookup, 0, 0, 0), (TMapped{0, 0, 0, 0}));
}

TEST(SlowLookup, AgreesWithTheNearestPaletteIndexRuleEverywhere) {
    std::mt19937 random(7);
    std::vector<HPALETTE> palettes = {HalftonePalette(), DefaultPalette20(), SystemPalette16()};
    // Random palettes of several sizes, some with repeated entries (ties go to
    // the lowest index) and some crowded into a small part of the cube.
    for (int size : {1, 2, 17, 64, 200, 256}) {
        std::vector<TPaletteEntry> entries(size);
        for (auto& entry : entries) {
            const int spread = size == 64 ? 40 : 256;
            entry = {uint8_t(random() % spread), uint8_t(random() % spread), uint8_t(random() % spread), 0};
        }
        if (size > 2) entries[size - 1] = entries[size / 2];
        palettes.push_back(CreatePalette(entries));
    }
    for (const HPALETTE& palette : palettes) {
        TSlowColorLookup lookup(palette);
        ASSERT_EQ(lookup.ColorCount(), static_cast<int>(palette->Entries.size()));
        auto check = [&](int r, int g, int b) {
            const auto expected =
                static_cast<int>(GetNearestPaletteIndex(palette, RGBColor(uint8_t(r), uint8_t(g), uint8_t(b))));
            const TPaletteEntry& entry = palette->Entries[expected];
            ASSERT_EQ(Map(lookup, r, g, b), (TMapped{expected, entry.peRed, entry.peGreen, entry.peBlue}))
                << "colour " << r << "," << g << "," << b << " palette of " << palette->Entries.size();
        };
        for (int i = 0; i < 20000; ++i) check(int(random() % 256), int(random() % 256), int(random() % 256));
        // Cell corners and faces, where the pruning bounds are tight.
        for (int r = 0; r < 256; r += 7)
            for (int g : {0, 7, 8, 127, 128, 255})
                for (int b : {0, 7, 8, 248, 255}) check(r, g, b);
        // Every palette colour maps to itself (or to an earlier equal entry).
        for (const auto& entry : palette->Entries) check(entry.peRed, entry.peGreen, entry.peBlue);
    }
}

TEST(SlowLookup, TieAtTheEdgeOfACellGoesToTheLowerIndex) {
    // (7, 7, 7) is 147 away from both (14, 14, 14) and (0, 0, 0); the earlier
    // entry wins although it lies outside the colour's cell. 18 entries, so the
    // cells are in use.
    std::vector<TPaletteEntry> entries(18, TPaletteEntry{255, 255, 255, 0});
    entries[0] = {14, 14, 14, 0};
    entries[1] = {0, 0, 0, 0};
    TSlowColorLookup lookup(CreatePalette(entries));
    EXPECT_EQ(Map(lookup, 7, 7, 7), (TMapped{0, 14, 14, 14}));
    EXPECT_EQ(Map(lookup, 6, 7, 7), (TMapped{1, 0, 0, 0}));
}

TEST(SlowLookup, EmptyAndOversizedPalettes) {
    TSlowColorLookup none(nullptr);
    EXPECT_EQ(none.ColorCount(), 0);
    EXPECT_EQ(Map(none, 9, 9, 9), (TMapped{0, 0, 0, 0}));
    TSlowColorLookup empty(CreatePalette({}));
    EXPECT_EQ(empty.ColorCount(), 0);

    // Indices are bytes: entry 299, the exact colour, cannot be returned.
    std::vector<TPaletteEntry> entries(300, TPaletteEntry{0, 0, 0, 0});
    entries[299] = {200, 100, 50, 0};
    entries[1] = {190, 100, 50, 0};
    TSlowColorLookup large(CreatePalette(entries));
    EXPECT_EQ(large.ColorCount(), 256);
    EXPECT_EQ(Map(large, 200, 100, 50), (TMapped{1, 190, 100, 50}));
}
