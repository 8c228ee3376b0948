// A loaded GIF as a bitmap: the first frame, its palette, the picture on the
// logical screen, and the build dithered to the 216-colour cube.

#include <gtest/gtest.h>

#include <thread>

#include "formats/gif/gif_image.hpp"
#include "tests/formats/gif/gif_test_files.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;

namespace {

const std::vector<TGIFColor> colors4 = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}};

void Load(TGIFImage& image, const TBytes& bytes) {
    const TLoadResult result = LoadGIF(image, bytes.Data());
    ASSERT_EQ(result.Error, "");
}

// The picture as R, G, B bytes, top row first.
std::vector<uint8_t> Rgb(const TBitmap& bitmap) { return RgbPixels(bitmap); }

std::vector<uint8_t> Repeat(std::initializer_list<uint8_t> rgb, size_t count) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < count; ++i) bytes.insert(bytes.end(), rgb);
    return bytes;
}

}  // namespace

TEST(GIFRendering, FullScreenFrameBecomesAPaletteBitmapWithTheGIFColours) {
    TBytes bytes = GIFHeader(3, 2, 1, colors4);
    AppendFrame(bytes, 3, 2, {0, 1, 2, 3, 2, 1}, 2, 0, 5, 7);  // the offset does not count
    bytes.U8(0x3B);
    TGIFImage image;
    Load(image, bytes);
    TBitmap bitmap;
    bitmap.CopyFrom(&image);
    ASSERT_EQ(bitmap.PixelFormat(), Px8);
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(bitmap.Height(), 2);
    const std::vector<TRGBQuad>& table = bitmap.Handle()->ColorTable;
    ASSERT_EQ(table.size(), 256u);
    EXPECT_EQ(table[0], (TRGBQuad{0, 0, 255, 0}));
    EXPECT_EQ(table[3], (TRGBQuad{30, 20, 10, 0}));
    for (size_t i = 4; i < 256; ++i) EXPECT_EQ(table[i], (TRGBQuad{0, 0, 0, 0})) << i;
    EXPECT_EQ(std::vector<uint8_t>(bitmap.ConstRowAddress(0), bitmap.ConstRowAddress(0) + 3),
              (std::vector<uint8_t>{0, 1, 2}));
    EXPECT_EQ(std::vector<uint8_t>(bitmap.ConstRowAddress(1), bitmap.ConstRowAddress(1) + 3),
              (std::vector<uint8_t>{3, 2, 1}));
    bitmap.SetPixelFormat(Px24);
    EXPECT_EQ(Rgb(bitmap), (std::vector<uint8_t>{255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30, 0, 0, 255, 0, 255, 0}));
}

TEST(GIFRendering, SmallerFrameIsDrawnAtItsPlaceOnWhite) {
    TBytes bytes = GIFHeader(4, 3, 1, colors4);
    AppendFrame(bytes, 2, 1, {3, 0}, 2, 0, 1, 1);
    bytes.U8(0x3B);
    TGIFImage image;
    Load(image, bytes);
    TBitmap bitmap;
    bitmap.CopyFrom(&image);
    EXPECT_EQ(bitmap.PixelFormat(), PxDevice);
    ASSERT_EQ(bitmap.Width(), 4);
    ASSERT_EQ(bitmap.Height(), 3);
    std::vector<uint8_t> expected = Repeat({255, 255, 255}, 12);
    const uint8_t frame[] = {10, 20, 30, 255, 0, 0};
    std::copy(std::begin(frame), std::end(frame), expected.begin() + 3 * 5);
    EXPECT_EQ(Rgb(bitmap), expected);
}

TEST(GIFRendering, FrameReachingBeyondTheScreenIsCut) {
    TBytes bytes = GIFHeader(2, 2, 1, colors4);
    AppendFrame(bytes, 3, 1, {1, 2, 3}, 2, 0, 1, 0);
    bytes.U8(0x3B);
    TGIFImage image;
    Load(image, bytes);
    TBitmap bitmap;
    bitmap.CopyFrom(&image);
    EXPECT_EQ(Rgb(bitmap), (std::vector<uint8_t>{255, 255, 255, 0, 255, 0, 255, 255, 255, 255, 255, 255}));
}

TEST(GIFRendering, TransparencyIsIgnoredAndOnlyTheFirstFrameCounts) {
    TBytes bytes = GIFHeader(2, 1, 1, colors4);
    AppendGraphicControl(bytes, true, 1);
    AppendFrame(bytes, 2, 1, {1, 2});
    AppendFrame(bytes, 2, 1, {3, 3});
    bytes.U8(0x3B);
    TGIFImage image;
    Load(image, bytes);
    ASSERT_EQ(image.Images().Count(), 2);
    TBitmap bitmap;
    bitmap.CopyFrom(&image);
    EXPECT_EQ(Rgb(bitmap), (std::vector<uint8_t>{0, 255, 0, 0, 0, 255}));
    // The transparent pixel is marked in the frame's mask, used only for drawing.
    const TBitmap* mask = image.Images()[0].Mask();
    ASSERT_NE(mask, nullptr);
    EXPECT_EQ(mask->ConstRowAddress(0)[0] & 0xC0, 0x80);
}

TEST(GIFRendering, LocalTableGivesTheFramePalette) {
    TBytes bytes = GIFHeader(1, 1, 0);
    AppendDescriptor(bytes, 0, 0, 1, 1, 0x80);  // local table of 2 entries
    bytes.U8(1).U8(2).U8(3).U8(4).U8(5).U8(6);
    AppendImageData(bytes, 2, LiteralCodes({1}, 2)).U8(0x3B);
    TGIFImage image;
    Load(image, bytes);
    HPALETTE palette = image.Images()[0].FramePalette();
    ASSERT_EQ(PaletteEntryCount(palette), 2u);
    EXPECT_EQ(palette->Entries[1], (TPaletteEntry{4, 5, 6, PC_NOCOLLAPSE}));
    TBitmap bitmap;
    bitmap.CopyFrom(&image);
    EXPECT_EQ(Rgb(bitmap), (std::vector<uint8_t>{4, 5, 6}));
}

TEST(GIFRendering, NoColourTableAnywhereFailsWhenAPaletteIsNeeded) {
    for (int width : {1, 2}) {  // frame of screen size, and smaller
        TBytes bytes = GIFHeader(2, 1, -1);
        AppendFrame(bytes, width, 1, std::vector<uint8_t>(static_cast<size_t>(width), 1));
        bytes.U8(0x3B);
        TGIFImage image;
        Load(image, bytes);
        TBitmap bitmap;
        try {
            bitmap.CopyFrom(&image);
            FAIL() << "a picture without colours was handed over";
        } catch (const GIFException& error) {
            EXPECT_STREQ(error.what(), "No global or local color table defined");
        }
    }
}

TEST(GIFRendering, ImageWithoutFramesEmptiesTheBitmap) {
    TBitmap bitmap;
    bitmap.NewImage(2, 2, Px24);
    TGIFImage image;
    const std::vector<uint8_t> notGIF = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(LoadGIF(image, notGIF).Error, "Invalid GIF signature");
    bitmap.CopyFrom(&image);
    EXPECT_TRUE(bitmap.Empty());

    // A first frame without image gives a blank screen.
    TBytes bytes = GIFHeader(2, 1, 1, colors4);
    bytes.U8(0x21).U8(0xFE).U8(1).U8('x').U8(0);
    bytes.U8(0x3B);
    Load(image, bytes);
    bitmap.CopyFrom(&image);
    EXPECT_EQ(Rgb(bitmap), Repeat({255, 255, 255}, 2));
}

TEST(GIFRendering, OtherTargetsAreRefused) {
    TGIFImage image;
    TOtherGraphic other;
    try {
        other.CopyFrom(&image);
        FAIL() << "a GIF image was assigned to another kind of graphic";
    } catch (const EConvertError& error) {
        EXPECT_STREQ(error.what(), "Cannot assign a TGIFImage to a TOtherGraphic");
    }
}

TEST(GIFRendering, LargeFrameIsStillAPaletteBitmap) {
    TBytes bytes = GIFHeader(1000, 600, 7);
    std::vector<uint8_t> pixels(600000);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i / 1000);
    AppendFrame(bytes, 1000, 600, pixels, 8);
    bytes.U8(0x3B);
    TGIFImage image;
    Load(image, bytes);
    TBitmap bitmap;
    bitmap.CopyFrom(&image);
    ASSERT_EQ(bitmap.PixelFormat(), Px8);
    EXPECT_EQ(bitmap.ConstRowAddress(599)[999], 599 % 256);
}

TEST(GIFRendering, RenderingReportsProgress) {
    TBytes bytes = GIFHeader(2, 70, 1, colors4);
    AppendFrame(bytes, 2, 70, std::vector<uint8_t>(140, 1));
    bytes.U8(0x3B);
    TGIFImage image;
    Load(image, bytes);
    std::vector<int> percents;
    image.OnProgress = [&](TGIFImage&, TGIFProgressStage, int percent, const std::string& message) {
        EXPECT_EQ(message, "Rendering...");
        percents.push_back(percent);
    };
    ASSERT_NE(image.RenderedBitmap(), nullptr);
    EXPECT_EQ(percents, (std::vector<int>{0, 0, 45, 91, 100}));  // start, rows 0, 32, 64, end
}

TEST(GIFRendering, AbortFromAProgressHandlerLeavesTheFrameWithoutBitmap) {
    TBytes bytes = GIFHeader(2, 1, 1, colors4);
    AppendFrame(bytes, 2, 1, {1, 2});
    bytes.U8(0x3B);
    TGIFImage image;
    Load(image, bytes);
    image.OnProgress = [](TGIFImage&, TGIFProgressStage stage, int, const std::string&) {
        if (stage == gpsRunning) throw EAbort();
    };
    EXPECT_EQ(image.Images()[0].FrameBitmap(), nullptr);
    image.OnProgress = nullptr;
    EXPECT_NE(image.Images()[0].FrameBitmap(), nullptr);
}

TEST(GIFDitheredBuild, FramesAreMappedToTheColourCube) {
    // Colours on the cube keep their value exactly; a grey between two cube
    // greys becomes a mix of the two; the transparent pixel gets the cube index
    // of its colour plus one and is marked in the mask.
    const std::vector<TGIFColor> colors = {{51, 102, 153}, {140, 140, 140}, {255, 0, 0}, {0, 0, 0}};
    TBytes bytes = GIFHeader(8, 3, 1, colors);
    AppendGraphicControl(bytes, true, 2);
    AppendFrame(bytes, 8, 3, {0, 0, 0, 0, 3, 3, 3, 3,  //
                              1, 1, 1, 1, 1, 1, 1, 1,  //
                              0, 2, 0, 2, 0, 2, 0, 2});
    bytes.U8(0x3B);
    TGIFImage image;
    image.DrawOptions &= static_cast<uint16_t>(~goDitherOnlyOnPalettedScreens);
    ASSERT_TRUE(image.ShouldDither());
    Load(image, bytes);
    TBitmap bitmap;
    bitmap.CopyFrom(&image);
    ASSERT_EQ(bitmap.PixelFormat(), Px8);
    const std::vector<TRGBQuad>& table = bitmap.Handle()->ColorTable;
    EXPECT_EQ(table[51], (TRGBQuad{153, 102, 51, 0}));
    EXPECT_EQ(table[215], (TRGBQuad{255, 255, 255, 0}));
    EXPECT_EQ(table[216], (TRGBQuad{0, 0, 0, 0}));

    const uint8_t* top = bitmap.ConstRowAddress(0);
    EXPECT_EQ(std::vector<uint8_t>(top, top + 8), (std::vector<uint8_t>{51, 51, 51, 51, 0, 0, 0, 0}));
    int sum = 0;
    const uint8_t* middle = bitmap.ConstRowAddress(1);
    for (int x = 0; x < 8; ++x) {
        EXPECT_TRUE(middle[x] == 86 || middle[x] == 129) << int(middle[x]);
        sum += middle[x] == 86 ? 102 : 153;
    }
    EXPECT_NEAR(sum / 8.0, 140, 13);
    const uint8_t* bottom = bitmap.ConstRowAddress(2);
    EXPECT_EQ(std::vector<uint8_t>(bottom, bottom + 8), (std::vector<uint8_t>{51, 181, 51, 181, 51, 181, 51, 181}));
    const TBitmap* mask = image.Images()[0].Mask();
    ASSERT_NE(mask, nullptr);
    EXPECT_EQ(mask->ConstRowAddress(2)[0], 0x55);
    EXPECT_EQ(mask->ConstRowAddress(0)[0], 0x00);
}

TEST(GIFDitheredBuild, WithoutTransparencyEveryPixelIsDithered) {
    TBytes bytes = GIFHeader(3, 1, 0, {{255, 0, 0}, {0, 0, 255}});
    AppendFrame(bytes, 3, 1, {0, 1, 0});
    bytes.U8(0x3B);
    TGIFImage image;
    image.DrawOptions &= static_cast<uint16_t>(~goDitherOnlyOnPalettedScreens);
    Load(image, bytes);
    TBitmap bitmap;
    bitmap.CopyFrom(&image);
    EXPECT_EQ(std::vector<uint8_t>(bitmap.ConstRowAddress(0), bitmap.ConstRowAddress(0) + 3),
              (std::vector<uint8_t>{180, 5, 180}));
}

TEST(GIFDitheredBuild, PalettesAreTheColourCube) {
    TBytes bytes = GIFHeader(2, 1, 0, {{255, 0, 0}, {0, 0, 255}});
    AppendFrame(bytes, 1, 1, {1});
    bytes.U8(0x3B);
    TGIFImage image;
    image.DrawOptions &= static_cast<uint16_t>(~goDitherOnlyOnPalettedScreens);
    Load(image, bytes);
    for (const HPALETTE& palette : {image.ImagePalette(), image.Images()[0].FramePalette()}) {
        ASSERT_EQ(PaletteEntryCount(palette), 216u);
        EXPECT_EQ(palette->Entries[36 * 5 + 6 * 1 + 4], (TPaletteEntry{255, 51, 204, 0}));
    }
    // Plain build: the GIF's own colours, which the screen-size picture takes too.
    TGIFImage plain;
    Load(plain, bytes);
    ASSERT_EQ(PaletteEntryCount(plain.ImagePalette()), 2u);
    EXPECT_EQ(plain.ImagePalette()->Entries[1], (TPaletteEntry{0, 0, 255, PC_NOCOLLAPSE}));
}

TEST(GIFRendering, ImagesDecodeIndependentlyInParallel) {
    TBytes bytes = GIFHeader(64, 64, 7);
    std::vector<uint8_t> pixels(64 * 64);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 31 / 7);
    AppendFrame(bytes, 64, 64, pixels, 8, 0x40);
    bytes.U8(0x3B);
    std::vector<std::vector<uint8_t>> results(4);
    std::vector<std::thread> threads;
    for (auto& result : results)
        threads.emplace_back([&bytes, &result] {
            for (int round = 0; round < 20; ++round) {
                TGIFImage image;
                TMemoryViewStream stream(bytes.Data().data(), bytes.Size());
                image.LoadFromStream(stream);
                TBitmap bitmap;
                bitmap.CopyFrom(&image);
                bitmap.SetPixelFormat(Px24);
                result = RgbPixels(bitmap);
            }
        });
    for (auto& thread : threads) thread.join();
    for (const auto& result : results) EXPECT_EQ(result, results[0]);
    EXPECT_EQ(results[0].size(), 64u * 64u * 3u);
}
