#include "color/dither.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "image/exceptions.hpp"

using namespace tamberlit;

namespace {

struct TAsked {
    int red, green, blue;
};

// A lookup for watching a ditherer: remembers every colour it is asked for and
// answers with a rule given by the test (an index and its colour).
class TWatchingLookup : public TColorLookup {
public:
    using TRule = std::function<uint8_t(uint8_t& red, uint8_t& green, uint8_t& blue)>;
    explicit TWatchingLookup(TRule rule) : TColorLookup(256), rule_(std::move(rule)) {}

    uint8_t MapColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                     uint8_t& outBlue) override {
        asked.push_back({red, green, blue});
        outRed = red;
        outGreen = green;
        outBlue = blue;
        return rule_(outRed, outGreen, outBlue);
    }
    std::vector<TAsked> asked;

private:
    TRule rule_;
};

// Colours below 100 come back unchanged (no error); from 100 up the answer is
// black, so the whole value becomes error.
uint8_t ExactBelow100(uint8_t& red, uint8_t& green, uint8_t& blue) {
    if (red >= 100) red = green = blue = 0;
    return red;
}

// A grey picture, B, G, R bytes per pixel, one row after the other.
struct TGreyImage {
    int width, height;
    std::vector<uint8_t> pixels;
    TGreyImage(int w, int h, uint8_t value = 0) : width(w), height(h), pixels(size_t(3 * w * h), value) {}
    void Set(int x, int y, uint8_t value) {
        uint8_t* pixel = &pixels[size_t(3 * (y * width + x))];
        pixel[0] = pixel[1] = pixel[2] = value;
    }
    const uint8_t* Row(int y) const { return &pixels[size_t(3 * y * width)]; }
};

// Runs a ditherer over the whole image the way the reduction does.
std::vector<uint8_t> DitherImage(TDitherEngine& ditherer, const uint8_t* pixels, int width, int height) {
    std::vector<uint8_t> indices(size_t(width * height));
    for (int y = 0; y < height; ++y) {
        ditherer.DitherRow(pixels + size_t(3 * width * y), 3, &indices[size_t(width * y)]);
        ditherer.EndRow();
    }
    return indices;
}

// The red value asked for at each pixel, put back in picture order.
std::vector<std::vector<int>> AskedGrid(const std::vector<TAsked>& asked, int width, int height) {
    std::vector<std::vector<int>> grid(size_t(height), std::vector<int>(size_t(width), -1));
    size_t k = 0;
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width; ++i) {
            const int x = y % 2 == 0 ? i : width - 1 - i;
            grid[size_t(y)][size_t(x)] = k < asked.size() ? asked[k++].red : -1;
        }
    return grid;
}

std::vector<int> AskedReds(const TWatchingLookup& lookup) {
    std::vector<int> reds;
    for (const auto& a : lookup.asked) reds.push_back(a.red);
    return reds;
}

uint8_t Monochrome(uint8_t& red, uint8_t& green, uint8_t& blue) {
    uint8_t r, g, b;
    TMonochromeLookup mono;
    const uint8_t index = mono.MapColor(red, green, blue, r, g, b);
    red = r, green = g, blue = b;
    return index;
}

}  // namespace

TEST(DitherEngine, RowsRunInAlternatingDirections) {
    TWatchingLookup lookup([](uint8_t& r, uint8_t&, uint8_t&) { return r; });
    for (TDitherMode mode :
         {dmNearest, dmFloydSteinberg, dmStucki, dmSierra, dmJarvisJudiceNinke, dmStevensonArce, dmBurkes}) {
        auto ditherer = CreateDitherer(mode, 5, lookup);
        EXPECT_EQ(ditherer->Column(), 0);
        EXPECT_EQ(ditherer->Direction(), 1);
        std::vector<uint8_t> row(15);
        for (int x = 0; x < 5; ++x) row[size_t(3 * x + 2)] = uint8_t(10 * x);
        std::vector<uint8_t> indices(5);
        lookup.asked.clear();
        ditherer->DitherRow(row.data(), 3, indices.data());
        EXPECT_EQ(ditherer->Column(), 5);
        ditherer->EndRow();
        EXPECT_EQ(ditherer->Column(), 4) << "mode " << mode;
        EXPECT_EQ(ditherer->Direction(), -1);
        ditherer->DitherRow(row.data(), 3, indices.data());
        EXPECT_EQ(ditherer->Column(), -1);
        ditherer->EndRow();
        EXPECT_EQ(ditherer->Column(), 0);
        EXPECT_EQ(ditherer->Direction(), 1);
        EXPECT_EQ(AskedReds(lookup), (std::vector<int>{0, 10, 20, 30, 40, 40, 30, 20, 10, 0})) << "mode " << mode;
        EXPECT_EQ(indices, (std::vector<uint8_t>{0, 10, 20, 30, 40}));
    }
    TWatchingLookup unused(ExactBelow100);
    EXPECT_EQ(CreateDitherer(TDitherMode(7), 5, unused), nullptr);
    EXPECT_EQ(CreateDitherer(TDitherMode(-1), 5, unused), nullptr);
    EXPECT_THROW(TDitherEngine(-1, unused), EInvalidGraphic);
}

// Values worked by hand: 3 x 2 greys through black and white.
TEST(FloydSteinberg, ErrorArithmeticWorkedByHand) {
    {
        TWatchingLookup lookup(Monochrome);
        TFloydSteinbergDitherer ditherer(3, lookup);
        TGreyImage image(3, 2, 100);
        const auto indices = DitherImage(ditherer, image.pixels.data(), 3, 2);
        // Row 0: 100; 100 + (700 + 8) div 16 = 144; 100 + (-777 + 8) div 16 = 52
        // (the division truncates toward zero: -48, not -49). Row 1 runs from the
        // right and reads cells 4, 3, 2: 0, then the 149 stored at the row's end,
        // then -299.
        EXPECT_EQ(AskedReds(lookup), (std::vector<int>{100, 144, 52, 100, 153, 38}));
        EXPECT_EQ(indices, (std::vector<uint8_t>{0, 1, 0, 0, 1, 0}));
    }
    {
        // A pixel without error (255 clamps to white) drops the carried error and
        // leaves its cell and the row-below terms untouched.
        TWatchingLookup lookup(Monochrome);
        TFloydSteinbergDitherer ditherer(3, lookup);
        TGreyImage image(3, 2, 100);
        image.Set(1, 0, 255);
        DitherImage(ditherer, image.pixels.data(), 3, 2);
        EXPECT_EQ(AskedReds(lookup), (std::vector<int>{100, 255, 100, 100, 181, 118}));
    }
}

TEST(FloydSteinberg, SkippedPixelPassesTheCarriedErrorOn) {
    TWatchingLookup lookup(Monochrome);
    TFloydSteinbergDitherer ditherer(3, lookup);
    EXPECT_EQ(ditherer.DitherPixel(100, 100, 100), 0);
    ditherer.SkipPixel();
    EXPECT_EQ(ditherer.Column(), 2);
    EXPECT_EQ(ditherer.DitherPixel(100, 100, 100), 1);  // 100 + (0 + 700 + 8) div 16 = 144
    EXPECT_EQ(lookup.asked.back().red, 144);
    ditherer.EndRow();
    EXPECT_EQ(ditherer.Column(), 2);
}

TEST(FloydSteinberg, CallsPastTheRowEndTouchNoErrorCell) {
    TWatchingLookup lookup(ExactBelow100);
    TFloydSteinbergDitherer ditherer(2, lookup);
    for (int i = 0; i < 50; ++i) ditherer.DitherPixel(200, 200, 200);  // a caller ignoring the column
    EXPECT_EQ(ditherer.Column(), 50);
    // From the third call on, no diffusion: the pixel's own colour is asked.
    EXPECT_EQ(lookup.asked.back().red, 200);
}

namespace {

struct TKernel {
    TDitherMode mode;
    int divisor;
    // weight[row][offset + 3], offsets -3..+3 in steps of the direction.
    int weight[4][7];
};

const TKernel kernels[] = {
    {dmStucki, 42, {{0, 0, 0, 0, 8, 4, 0}, {0, 2, 4, 8, 4, 2, 0}, {0, 1, 2, 4, 2, 1, 0}, {}}},
    {dmSierra, 32, {{0, 0, 0, 0, 5, 3, 0}, {0, 2, 4, 5, 4, 2, 0}, {0, 0, 2, 3, 2, 0, 0}, {}}},
    {dmJarvisJudiceNinke, 48, {{0, 0, 0, 0, 7, 5, 0}, {0, 3, 5, 7, 5, 3, 0}, {0, 1, 3, 5, 3, 1, 0}, {}}},
    {dmBurkes, 32, {{0, 0, 0, 0, 8, 4, 0}, {0, 2, 4, 8, 4, 2, 0}, {}, {}}},
    {dmStevensonArce,
     200,
     {{0, 0, 0, 0, 0, 32, 0}, {12, 0, 26, 0, 30, 0, 16}, {0, 12, 0, 26, 0, 12, 0}, {5, 0, 12, 0, 12, 0, 5}}},
};

}  // namespace

// One pixel errs; every other pixel is mapped exactly, so what the later pixels
// ask for is the kernel's share of that one error: with an error of k times the
// divisor, k times the weight.
TEST(KernelDitherers, OneErrorSpreadsByTheKernelInBothDirections) {
    const int width = 9, height = 6;
    for (const TKernel& kernel : kernels) {
        const int k = kernel.divisor == 200 ? 1 : 5;
        for (int errRow : {0, 1}) {
            const int errX = 4;
            const int d = errRow % 2 == 0 ? 1 : -1;
            TGreyImage image(width, height);
            image.Set(errX, errRow, uint8_t(k * kernel.divisor));
            TWatchingLookup lookup(ExactBelow100);
            auto ditherer = CreateDitherer(kernel.mode, width, lookup);
            DitherImage(*ditherer, image.pixels.data(), width, height);

            std::vector<std::vector<int>> expected(size_t(height), std::vector<int>(size_t(width), 0));
            expected[size_t(errRow)][size_t(errX)] = k * kernel.divisor;
            for (int row = 0; row < 4 && errRow + row < height; ++row)
                for (int offset = -3; offset <= 3; ++offset) {
                    const int x = errX + d * offset;
                    if (x >= 0 && x < width && kernel.weight[row][offset + 3] != 0)
                        expected[size_t(errRow + row)][size_t(x)] = k * kernel.weight[row][offset + 3];
                }
            EXPECT_EQ(AskedGrid(lookup.asked, width, height), expected)
                << "mode " << kernel.mode << ", error in row " << errRow;
        }
    }
}

TEST(KernelDitherers, ErrorsAtTheRowEndsStayInsideTheRows) {
    // The full error at the first and last pixel of every row, for rows of 1
    // to 4 pixels: the margins take what falls outside (AddressSanitizer
    // watches), and nothing reaches pixels it should not.
    for (const TKernel& kernel : kernels)
        for (int width = 1; width <= 4; ++width) {
            TGreyImage image(width, 5, 255);
            TWatchingLookup lookup([](uint8_t& r, uint8_t& g, uint8_t& b) {
                r = g = b = 0;
                return uint8_t(0);
            });
            auto ditherer = CreateDitherer(kernel.mode, width, lookup);
            DitherImage(*ditherer, image.pixels.data(), width, 5);
            EXPECT_EQ(lookup.asked.size(), size_t(5 * width));
        }
}

TEST(AllDitherers, AdjustedValuesStayWithinTheByteRange) {
    // A lookup that can only answer black (or white) turns every pixel's whole
    // value into error, which piles up without bound; the colours asked must
    // stay at the clamped end instead of wrapping around.
    for (int mode = dmNearest; mode <= dmBurkes; ++mode)
        for (uint8_t value : {uint8_t(255), uint8_t(0)}) {
            const uint8_t answer = value == 255 ? 0 : 255;
            TWatchingLookup lookup([answer](uint8_t& r, uint8_t& g, uint8_t& b) {
                r = g = b = answer;
                return uint8_t(0);
            });
            auto ditherer = CreateDitherer(TDitherMode(mode), 16, lookup);
            TGreyImage image(16, 16, value);
            DitherImage(*ditherer, image.pixels.data(), 16, 16);
            ASSERT_EQ(lookup.asked.size(), 256u);
            for (const TAsked& asked : lookup.asked) {
                ASSERT_EQ(asked.red, value) << "mode " << mode;
                ASSERT_EQ(asked.blue, value) << "mode " << mode;
            }
        }
}

TEST(AllDitherers, PaletteColoursComeOutUnchanged) {
    std::mt19937 random(3);
    TSlowColorLookup halftone(HalftonePalette());
    TNetscapeColorLookup netscape;
    TGrayScaleLookup grey;
    TMonochromeLookup mono;
    struct Case {
        TColorLookup* lookup;
        std::function<TPaletteEntry(int)> color;  // palette colour of an index
    } cases[] = {
        {&halftone, [](int i) { return HalftonePalette()->Entries[size_t(i)]; }},
        {&netscape,
         [](int i) {
             return TPaletteEntry{uint8_t(i / 36 * 51), uint8_t(i / 6 % 6 * 51), uint8_t(i % 6 * 51), 0};
         }},
        {&grey,
         [](int i) {
             return TPaletteEntry{uint8_t(i), uint8_t(i), uint8_t(i), 0};
         }},
        {&mono,
         [](int i) {
             return i ? TPaletteEntry{255, 255, 255, 0} : TPaletteEntry{};
         }},
    };
    const int width = 23, height = 11;
    for (const Case& c : cases) {
        std::vector<uint8_t> pixels(size_t(3 * width * height));
        std::vector<uint8_t> expected(size_t(width * height));
        for (size_t p = 0; p < expected.size(); ++p) {
            int index = int(random() % uint32_t(c.lookup->ColorCount()));
            const TPaletteEntry color = c.color(index);
            // Equal entries in the halftone palette: the first one is the answer.
            if (c.lookup == &halftone)
                index =
                    int(GetNearestPaletteIndex(HalftonePalette(), RGBColor(color.peRed, color.peGreen, color.peBlue)));
            expected[p] = uint8_t(index);
            pixels[3 * p] = color.peBlue;
            pixels[3 * p + 1] = color.peGreen;
            pixels[3 * p + 2] = color.peRed;
        }
        for (int mode = dmNearest; mode <= dmBurkes; ++mode) {
            auto ditherer = CreateDitherer(TDitherMode(mode), width, *c.lookup);
            EXPECT_EQ(DitherImage(*ditherer, pixels.data(), width, height), expected)
                << "mode " << mode << ", palette of " << c.lookup->ColorCount();
        }
    }
}

TEST(AllDitherers, DiffusionKeepsTheAverageOfAFlatGrey) {
    // Dithering grey 100 to black and white should give about 100 / 255 white
    // pixels; plain nearest colour gives none.
    const int side = 64;
    TGreyImage image(side, side, 100);
    for (int mode = dmFloydSteinberg; mode <= dmBurkes; ++mode) {
        TMonochromeLookup mono;
        auto ditherer = CreateDitherer(TDitherMode(mode), side, mono);
        const auto indices = DitherImage(*ditherer, image.pixels.data(), side, side);
        int white = 0;
        for (uint8_t index : indices) white += index;
        EXPECT_NEAR(double(white) / (side * side), 100.0 / 255.0, 0.03) << "mode " << mode;
    }
}
