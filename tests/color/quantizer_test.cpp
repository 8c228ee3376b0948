#include "color/quantizer.hpp"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <tuple>

#include "tests/support/test_support.hpp"

using namespace tamberlit;

namespace {

using TRgb = std::tuple<int, int, int>;

std::vector<TRgb> Colors(const std::vector<TRGBQuad>& table) {
    std::vector<TRgb> colors;
    for (const auto& q : table) colors.emplace_back(q.rgbRed, q.rgbGreen, q.rgbBlue);
    return colors;
}

std::vector<TRgb> Colors(const HPALETTE& palette, size_t first, size_t count) {
    std::vector<TRgb> colors;
    for (size_t i = first; i < first + count; ++i)
        colors.emplace_back(palette->Entries[i].peRed, palette->Entries[i].peGreen, palette->Entries[i].peBlue);
    return colors;
}

void Add(TColorQuantizer& quantizer, const std::vector<TRgb>& colors) {
    for (auto [r, g, b] : colors) quantizer.AddColor(uint8_t(r), uint8_t(g), uint8_t(b));
}

// A 24-bit bitmap whose pixels cycle through the given colours.
void FillBitmap(TBitmap& bitmap, int width, int height, const std::vector<TRgb>& colors) {
    tamberlit::testing::PaintPixels(bitmap, width, height, Px24, [&colors, width](int x, int y, int channel) {
        auto [r, g, b] = colors[(size_t(y) * size_t(width) + size_t(x)) % colors.size()];
        return channel == 0 ? b : channel == 1 ? g : r;
    });
}

}  // namespace

TEST(ColorQuantizer, FewerColoursThanTheMaximumComeBackExactly) {
    const std::vector<TRgb> colors = {{255, 0, 0}, {0, 255, 0}, {1, 2, 3}, {1, 2, 4}, {200, 100, 50}, {0, 0, 0}};
    TBitmap bitmap;
    FillBitmap(bitmap, 7, 5, colors);
    TDIBReader rows(bitmap, Px24);
    const HPALETTE palette = BuildOptimizedPalette(rows, 256, 8, TSystemColors::Free);
    ASSERT_EQ(palette->Entries.size(), 256u);
    const auto found = Colors(palette, 0, colors.size());
    EXPECT_EQ(std::set<TRgb>(found.begin(), found.end()), std::set<TRgb>(colors.begin(), colors.end()));
    // Depth first, children by index: black (0,0,0) before (1,2,3) before (1,2,4).
    EXPECT_EQ(found[0], TRgb(0, 0, 0));
    EXPECT_EQ(found[1], TRgb(1, 2, 3));
    EXPECT_EQ(found[2], TRgb(1, 2, 4));
    for (size_t i = colors.size(); i < 256; ++i) EXPECT_EQ(palette->Entries[i], TPaletteEntry{}) << i;
}

TEST(ColorQuantizer, AveragesTruncate) {
    TColorQuantizer one(1, 8);
    Add(one, {{1, 0, 0}, {2, 0, 0}});
    EXPECT_EQ(Colors(one.ColorTable()), (std::vector<TRgb>{{1, 0, 0}}));

    TColorQuantizer bright(1, 8);
    Add(bright, {{255, 10, 0}, {255, 11, 0}, {254, 11, 0}});
    EXPECT_EQ(Colors(bright.ColorTable()), (std::vector<TRgb>{{254, 10, 0}}));
}

TEST(ColorQuantizer, LeavesNeverExceedTheMaximumAfterAPixel) {
    std::mt19937 random(11);
    for (int maximum : {1, 2, 7, 16, 236, 256}) {
        TColorQuantizer quantizer(maximum, 8);
        for (int i = 0; i < 20000; ++i) {
            // Clustered colours, so that folds happen at several levels.
            const int base = int(random() % 4) * 64;
            quantizer.AddColor(uint8_t(base + random() % 64), uint8_t(base + random() % 8), uint8_t(random() % 256));
            ASSERT_LE(quantizer.LeafCount(), maximum) << "after pixel " << i;
        }
        EXPECT_EQ(quantizer.ColorTable().size(), size_t(quantizer.LeafCount()));
    }
}

TEST(ColorQuantizer, FoldsTheNewestInnerNodeOfTheDeepestLevel) {
    // Three pairs of colours that differ only in the lowest blue bit, so each
    // pair shares a node at level 7. With room for four colours, the third pair
    // makes a fifth leaf: first its own (newest) level-7 node is folded, which
    // leaves five leaves, then the second pair's. The first pair stays apart.
    TColorQuantizer quantizer(4, 8);
    Add(quantizer, {{0, 0, 0}, {0, 0, 1}, {0, 0, 2}, {0, 0, 3}, {0, 0, 4}, {0, 0, 5}});
    EXPECT_EQ(quantizer.LeafCount(), 4);
    EXPECT_EQ(Colors(quantizer.ColorTable()), (std::vector<TRgb>{{0, 0, 0}, {0, 0, 1}, {0, 0, 2}, {0, 0, 4}}));
}

TEST(ColorQuantizer, RepeatedColoursAfterAFoldLandInTheFoldedLeaf) {
    // The shortcut for runs of one colour must not reuse a leaf that a fold
    // has freed.
    TColorQuantizer quantizer(2, 8);
    Add(quantizer, {{10, 10, 10}, {10, 10, 11}, {200, 0, 0}, {200, 0, 0}, {200, 0, 0}, {10, 10, 11}, {10, 10, 11}});
    EXPECT_EQ(Colors(quantizer.ColorTable()), (std::vector<TRgb>{{10, 10, 10}, {200, 0, 0}}));
}

TEST(ColorQuantizer, SumsHoldMoreThan32Bits) {
    // 17.2 million white pixels: each channel's sum passes 2^32.
    std::vector<uint8_t> row(3 * 4096, 255);
    TColorQuantizer quantizer(256, 8);
    for (int y = 0; y < 4200; ++y) quantizer.QuantizeRow(row.data(), 4096);
    quantizer.AddColor(0, 0, 0);
    EXPECT_EQ(Colors(quantizer.ColorTable()), (std::vector<TRgb>{{0, 0, 0}, {255, 255, 255}}));
}

TEST(ColorQuantizer, DegenerateSettingsAreKeptInRange) {
    TColorQuantizer none(0, 0);  // would otherwise fold forever
    EXPECT_EQ(none.MaxColors(), 1);
    EXPECT_EQ(none.ColorBits(), 1);
    Add(none, {{0, 0, 0}, {255, 255, 255}});
    EXPECT_EQ(Colors(none.ColorTable()), (std::vector<TRgb>{{127, 127, 127}}));
    EXPECT_EQ(TColorQuantizer(1000, 9).MaxColors(), 256);
    TColorQuantizer empty(16, 8);
    EXPECT_TRUE(empty.ColorTable().empty());
    EXPECT_FALSE(empty.MergeDeepestNode());
}

TEST(ColorQuantizer, FewerColourBitsMakeCoarserLeaves) {
    // With 2 bits per channel the tree has four levels per channel value:
    // 0..63 share a leaf.
    TColorQuantizer quantizer(256, 2);
    Add(quantizer, {{0, 0, 0}, {63, 63, 63}, {64, 0, 0}});
    EXPECT_EQ(Colors(quantizer.ColorTable()), (std::vector<TRgb>{{31, 31, 31}, {64, 0, 0}}));
}

TEST(OptimizedPalette, ReservedSystemColoursSitAtBothEnds) {
    std::vector<TRgb> colors;
    std::mt19937 random(5);
    for (int i = 0; i < 5000; ++i) colors.emplace_back(int(random() % 256), int(random() % 256), int(random() % 256));
    TBitmap bitmap;
    FillBitmap(bitmap, 100, 50, colors);
    TDIBReader rows(bitmap, Px24);
    const HPALETTE palette = BuildOptimizedPalette(rows, 16, 8, TSystemColors::Reserved);  // count ignored
    ASSERT_EQ(palette->Entries.size(), 256u);
    const HPALETTE system = DefaultPalette20();
    EXPECT_EQ(Colors(palette, 0, 10), Colors(system, 0, 10));
    EXPECT_EQ(Colors(palette, 246, 10), Colors(system, 10, 10));
    // The image's colours between them: those of a quantizer for 236 colours,
    // black past the leaves it kept (a fold can free up to seven leaves).
    TColorQuantizer quantizer(236, 8);
    quantizer.QuantizeRows(rows);
    auto expected = Colors(quantizer.ColorTable());
    EXPECT_GT(expected.size(), 200u);
    expected.resize(236, TRgb(0, 0, 0));
    EXPECT_EQ(Colors(palette, 10, 236), expected);

    const HPALETTE sixteen = BuildOptimizedPalette(rows, 16, 8, TSystemColors::Free);
    EXPECT_EQ(sixteen->Entries.size(), 16u);
    EXPECT_EQ(BuildOptimizedPalette(rows, 100000, 8, TSystemColors::Free)->Entries.size(), 256u);
}
