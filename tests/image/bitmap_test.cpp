#include "image/bitmap.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "image/exceptions.hpp"
#include "image/limits.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;

TEST(BitmapRows, RowZeroOfBottomUpBlockIsItsLastRow) {
    TBitmap bitmap;
    bitmap.NewImage(2, 2, Px24);
    const uint8_t* bits = bitmap.Handle()->Bits();
    EXPECT_EQ(bitmap.RowAddress(0), bits + 8);
    EXPECT_EQ(bitmap.RowAddress(1), bits);
}

TEST(BitmapRows, StridesArePaddedToFourBytes) {
    struct Case {
        TPixelFormat format;
        int width;
        size_t stride;
    } cases[] = {{Px24, 3, 12}, {Px32, 3, 12}, {Px8, 1, 4}, {Px1, 33, 8}, {Px4, 9, 8}, {Px15, 3, 8}, {Px24, 1, 4}};
    for (const auto& c : cases) {
        TBitmap bitmap;
        bitmap.NewImage(c.width, 2, c.format);
        EXPECT_EQ(bitmap.RowBytes(), c.stride) << "format " << int(c.format) << " width " << c.width;
        EXPECT_EQ(bitmap.RowAddress(0) - bitmap.RowAddress(1), static_cast<ptrdiff_t>(c.stride));
    }
}

TEST(BitmapRows, OutOfRangeRowsAreRefused) {
    TBitmap bitmap;
    bitmap.NewImage(2, 2, Px32);
    for (int row : {-1, 2, 1000}) {
        try {
            bitmap.RowAddress(row);
            FAIL() << "row " << row << " accepted";
        } catch (const EInvalidGraphicOperation& error) {
            EXPECT_STREQ(error.what(), "Scan line index out of range");
        }
        EXPECT_THROW(bitmap.ConstRowAddress(row), EInvalidGraphicOperation);
    }
    TBitmap empty;
    EXPECT_THROW(empty.RowAddress(0), EInvalidGraphicOperation);
}

TEST(BitmapFormats, EmptyBitmapReportsDeviceUntilAFormatIsSet) {
    TBitmap bitmap;
    EXPECT_EQ(bitmap.PixelFormat(), PxDevice);
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_EQ(bitmap.Handle(), nullptr);
    bitmap.SetSize(3, 2);
    EXPECT_EQ(bitmap.PixelFormat(), PxDevice);  // sized without a format: display format
    TBitmap formatted;
    formatted.SetPixelFormat(Px32);
    EXPECT_EQ(formatted.PixelFormat(), Px32);
    formatted.SetSize(3, 2);
    EXPECT_EQ(formatted.PixelFormat(), Px32);
    EXPECT_EQ(formatted.Handle()->Header.biHeight, 2);  // bottom-up
}

TEST(BitmapFormats, MaskedThirtyTwoBitIsCustomAndSettingCustomFails) {
    const uint32_t masks[3] = {0xFF0000, 0xFF00, 0xFF};
    TBitmap bitmap;
    bitmap.SetHandle(TDIBSection::Create(1, 1, 32, BI_BITFIELDS, masks));
    EXPECT_EQ(bitmap.PixelFormat(), PxCustom);
    const uint32_t masks565[3] = {0xF800, 0x07E0, 0x001F};
    TBitmap sixteen;
    sixteen.SetHandle(TDIBSection::Create(1, 1, 16, BI_BITFIELDS, masks565));
    EXPECT_EQ(sixteen.PixelFormat(), Px16);
    TBitmap plain16;
    plain16.SetHandle(TDIBSection::Create(1, 1, 16));
    EXPECT_EQ(plain16.PixelFormat(), Px15);
    bitmap.SetPixelFormat(PxCustom);  // already the format: nothing happens
    TBitmap plain;
    plain.NewImage(1, 1, Px32);
    try {
        plain.SetPixelFormat(PxCustom);
        FAIL();
    } catch (const EInvalidGraphic& error) {
        EXPECT_STREQ(error.what(), "Invalid pixel format");
    }
}

TEST(BitmapConversions, ThirtyTwoToTwentyFourDropsTheFourthByte) {
    TBitmap bitmap;
    bitmap.NewImage(3, 1, Px32);
    const uint8_t pixels[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    std::memcpy(bitmap.RowAddress(0), pixels, 12);
    bitmap.SetPixelFormat(Px24);
    ASSERT_EQ(bitmap.PixelFormat(), Px24);
    const uint8_t expected[9] = {1, 2, 3, 5, 6, 7, 9, 10, 11};
    EXPECT_EQ(std::memcmp(bitmap.ConstRowAddress(0), expected, 9), 0);
}

TEST(BitmapConversions, SettingTheCurrentFormatChangesNothing) {
    TBitmap bitmap;
    bitmap.NewImage(2, 2, Px24);
    uint8_t* row = bitmap.RowAddress(0);
    row[0] = 42;
    const TDIBSection* before = bitmap.Handle();
    bitmap.SetPixelFormat(Px24);
    EXPECT_EQ(bitmap.Handle(), before);
    EXPECT_EQ(bitmap.ConstRowAddress(0)[0], 42);
}

TEST(BitmapConversions, PaletteFormatsWidenThroughTheColorTable) {
    std::vector<TRGBQuad> table = {{10, 20, 30, 0}, {40, 50, 60, 0}};
    TBitmap one;
    one.SetHandle(TDIBSection::Create(9, 1, 1, BI_RGB, nullptr, table));
    one.RowAddress(0)[0] = 0b10100000;  // pixels 0 and 2 use entry 1
    one.RowAddress(0)[1] = 0b10000000;  // pixel 8 uses entry 1
    one.SetPixelFormat(Px24);
    const uint8_t* row = one.ConstRowAddress(0);
    EXPECT_EQ(row[0], 40);
    EXPECT_EQ(row[3], 10);
    EXPECT_EQ(row[6], 40);
    EXPECT_EQ(row[24 + 2], 60);

    TBitmap four;
    four.SetHandle(TDIBSection::Create(2, 1, 4, BI_RGB, nullptr, table));
    four.RowAddress(0)[0] = 0x10;  // first pixel in the high half
    four.SetPixelFormat(Px24);
    EXPECT_EQ(four.ConstRowAddress(0)[0], 40);
    EXPECT_EQ(four.ConstRowAddress(0)[3], 10);

    TBitmap eight;
    eight.SetHandle(TDIBSection::Create(3, 1, 8, BI_RGB, nullptr, table));
    eight.RowAddress(0)[0] = 1;
    eight.RowAddress(0)[1] = 0;
    eight.RowAddress(0)[2] = 200;  // beyond the table: black
    eight.SetPixelFormat(Px24);
    const uint8_t expected[9] = {40, 50, 60, 10, 20, 30, 0, 0, 0};
    EXPECT_EQ(std::memcmp(eight.ConstRowAddress(0), expected, 9), 0);
    ASSERT_TRUE(eight.Palette());
    EXPECT_EQ(eight.Palette()->Entries.size(), 2u);  // the palette stays attached
}

TEST(BitmapConversions, SixteenBitAndMaskedFormatsDecodeThroughTheirMasks) {
    TBitmap fifteen;
    fifteen.SetHandle(TDIBSection::Create(2, 1, 16));
    uint8_t* row = fifteen.RowAddress(0);
    row[0] = 0xFF;
    row[1] = 0x7F;  // 0x7FFF: all channels full
    row[2] = 0x1F;
    row[3] = 0x00;  // blue only
    fifteen.SetPixelFormat(Px24);
    const uint8_t expected15[6] = {255, 255, 255, 255, 0, 0};
    EXPECT_EQ(std::memcmp(fifteen.ConstRowAddress(0), expected15, 6), 0);

    const uint32_t masks565[3] = {0xF800, 0x07E0, 0x001F};
    TBitmap sixteen;
    sixteen.SetHandle(TDIBSection::Create(1, 1, 16, BI_BITFIELDS, masks565));
    sixteen.RowAddress(0)[0] = 0x20;  // green 1 of 63
    sixteen.RowAddress(0)[1] = 0xF8;  // red 31 of 31
    sixteen.SetPixelFormat(Px24);
    EXPECT_EQ(sixteen.ConstRowAddress(0)[0], 0);
    EXPECT_EQ(sixteen.ConstRowAddress(0)[1], 255 / 63);
    EXPECT_EQ(sixteen.ConstRowAddress(0)[2], 255);

    const uint32_t masks[3] = {0x0000FF00, 0x00FF0000, 0xFF000000};
    TBitmap custom;
    custom.SetHandle(TDIBSection::Create(1, 1, 32, BI_BITFIELDS, masks));
    const uint8_t pixel[4] = {0x11, 0x22, 0x33, 0x44};  // red 0x22, green 0x33, blue 0x44
    std::memcpy(custom.RowAddress(0), pixel, 4);
    custom.SetPixelFormat(Px24);
    const uint8_t expected[3] = {0x44, 0x33, 0x22};
    EXPECT_EQ(std::memcmp(custom.ConstRowAddress(0), expected, 3), 0);
}

TEST(BitmapConversions, ZeroAndOverlappingMasksAreHarmless) {
    const uint32_t zero[3] = {0, 0, 0};
    TBitmap bitmap;
    bitmap.SetHandle(TDIBSection::Create(1, 1, 32, BI_BITFIELDS, zero));
    std::memset(bitmap.RowAddress(0), 0xFF, 4);
    bitmap.SetPixelFormat(Px24);
    EXPECT_EQ(bitmap.ConstRowAddress(0)[0], 0);
    const uint32_t overlap[3] = {0xFFFFFFFF, 0xFFFFFFFF, 0x80000001};
    TBitmap other;
    other.SetHandle(TDIBSection::Create(1, 1, 32, BI_BITFIELDS, overlap));
    std::memset(other.RowAddress(0), 0xFF, 4);
    other.SetPixelFormat(Px24);
    EXPECT_EQ(other.ConstRowAddress(0)[2], 255);
}

TEST(BitmapConversions, DeviceBitmapsReadBackAsTwentyFourBits) {
    TBitmap bitmap;
    bitmap.SetSize(2, 1);
    ASSERT_EQ(bitmap.PixelFormat(), PxDevice);
    bitmap.Canvas().Brush.Color = RGBColor(10, 20, 30);
    bitmap.Canvas().FillRect({1, 0, 2, 1});
    bitmap.SetPixelFormat(Px24);
    const uint8_t expected[6] = {255, 255, 255, 30, 20, 10};
    EXPECT_EQ(std::memcmp(bitmap.ConstRowAddress(0), expected, 6), 0);
}

TEST(BitmapConversions, TrueColourToEightBitsUsesTheHalftonePalette) {
    TBitmap bitmap;
    bitmap.NewImage(1, 1, Px24);
    const uint8_t red[3] = {0, 0, 255};
    std::memcpy(bitmap.RowAddress(0), red, 3);
    bitmap.SetPixelFormat(Px8);
    ASSERT_EQ(bitmap.PixelFormat(), Px8);
    const auto palette = bitmap.Palette();
    ASSERT_EQ(PaletteEntryCount(palette), 256u);
    const auto& entry = palette->Entries[bitmap.ConstRowAddress(0)[0]];
    EXPECT_EQ(entry.peRed, 255);
    EXPECT_EQ(entry.peGreen, 0);
    EXPECT_EQ(entry.peBlue, 0);
    EXPECT_TRUE(bitmap.Image().Halftone);
}

TEST(BitmapSharing, CopyFromSharesPixelsUntilAWrite) {
    TBitmap original;
    original.NewImage(2, 2, Px32);
    original.RowAddress(0)[3] = 77;
    TBitmap copy;
    copy.CopyFrom(&original);
    EXPECT_EQ(copy.ConstRowAddress(0), original.ConstRowAddress(0));  // no pixel copied
    copy.RowAddress(0)[3] = 11;
    EXPECT_NE(copy.ConstRowAddress(0), original.ConstRowAddress(0));
    EXPECT_EQ(original.ConstRowAddress(0)[3], 77);
    EXPECT_EQ(copy.ConstRowAddress(0)[3], 11);
}

TEST(BitmapSharing, FormatAndSizeChangesLeaveOtherHoldersAlone) {
    TBitmap original;
    original.NewImage(2, 2, Px32);
    original.RowAddress(1)[0] = 5;
    TBitmap copy;
    copy.CopyFrom(&original);
    copy.SetPixelFormat(Px24);
    copy.SetWidth(5);
    EXPECT_EQ(original.PixelFormat(), Px32);
    EXPECT_EQ(original.Width(), 2);
    EXPECT_EQ(copy.Width(), 5);
    EXPECT_EQ(copy.ConstRowAddress(1)[0], 5);
}

TEST(BitmapSharing, CopyFromNothingEmptiesTheBitmap) {
    TBitmap bitmap;
    bitmap.NewImage(2, 2, Px32);
    bitmap.CopyFrom(nullptr);
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_EQ(bitmap.Handle(), nullptr);
}

TEST(BitmapSharing, ThreadsWritingSharedCopiesDoNotDisturbEachOther) {
    TBitmap original;
    original.NewImage(64, 64, Px32);
    std::vector<std::thread> threads;
    std::vector<TBitmap> copies(4);
    for (auto& copy : copies) copy.CopyFrom(&original);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int y = 0; y < 64; ++y) std::memset(copies[t].RowAddress(y), t + 1, copies[t].RowBytes());
        });
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) EXPECT_EQ(copies[t].ConstRowAddress(63)[255], t + 1);
    EXPECT_EQ(original.ConstRowAddress(0)[0], 0);
}

TEST(BitmapSizing, GrowingKeepsTheCornerAndFillsWhite) {
    TBitmap bitmap;
    bitmap.NewImage(1, 1, Px24);
    const uint8_t pixel[3] = {1, 2, 3};
    std::memcpy(bitmap.RowAddress(0), pixel, 3);
    bitmap.SetWidth(2);
    bitmap.SetHeight(2);
    EXPECT_EQ(bitmap.Width(), 2);
    EXPECT_EQ(bitmap.Height(), 2);
    EXPECT_EQ(std::memcmp(bitmap.ConstRowAddress(0), pixel, 3), 0);
    EXPECT_EQ(bitmap.ConstRowAddress(0)[3], 255);
    EXPECT_EQ(bitmap.ConstRowAddress(1)[0], 255);
    bitmap.Canvas().Brush.Color = clBlack;
    bitmap.SetWidth(3);
    EXPECT_EQ(bitmap.ConstRowAddress(1)[6], 0);  // the canvas's brush colour once it exists
}

TEST(BitmapHandles, DetachHandleHandsOverOwnership) {
    TBitmap bitmap;
    bitmap.NewImage(2, 1, Px32);
    HBITMAP handle = bitmap.DetachHandle();
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->Width(), 2);
    EXPECT_TRUE(bitmap.Empty());
    TBitmap other;
    other.SetHandle(std::move(handle));
    EXPECT_EQ(other.PixelFormat(), Px32);
    EXPECT_EQ(other.HandleType(), THandleType::bmDIB);
    other.SetHandleType(THandleType::bmDDB);
    EXPECT_EQ(other.PixelFormat(), PxDevice);
}

TEST(BitmapPalette, SettingThePaletteRewritesTheColorTable) {
    TBitmap bitmap;
    bitmap.NewImage(1, 1, Px8);
    bitmap.SetPalette(CreatePalette({{1, 2, 3, 0}, {4, 5, 6, 0}}));
    ASSERT_EQ(bitmap.Handle()->ColorTable.size(), 2u);
    EXPECT_EQ(bitmap.Handle()->ColorTable[1], (TRGBQuad{6, 5, 4, 0}));
    EXPECT_FALSE(bitmap.Image().Halftone);
}

TEST(BitmapCanvas, StretchDrawScalesByNearestPixel) {
    TBitmap source;
    source.NewImage(2, 1, Px24);
    const uint8_t pixels[6] = {0, 0, 255, 255, 0, 0};  // red, blue
    std::memcpy(source.RowAddress(0), pixels, 6);
    TBitmap target;
    target.SetSize(6, 3);  // device format, white
    target.Canvas().StretchDraw({1, 1, 5, 2}, source);
    EXPECT_EQ(target.Canvas().Pixel(0, 1), clWhite);
    EXPECT_EQ(target.Canvas().Pixel(1, 1), RGBColor(255, 0, 0));
    EXPECT_EQ(target.Canvas().Pixel(2, 1), RGBColor(255, 0, 0));
    EXPECT_EQ(target.Canvas().Pixel(3, 1), RGBColor(0, 0, 255));
    EXPECT_EQ(target.Canvas().Pixel(4, 1), RGBColor(0, 0, 255));
    EXPECT_EQ(target.Canvas().Pixel(5, 1), clWhite);
    EXPECT_EQ(target.Canvas().Pixel(1, 0), clWhite);
}

TEST(BitmapLimits, HugeBlocksAreRefusedBeforeAllocation) {
    EXPECT_THROW(TDIBSection::Create(70000, 1, 32), EImageTooLarge);
    EXPECT_THROW(TDIBSection::Create(65535, 65535, 32), EImageTooLarge);
    TBitmap bitmap;
    EXPECT_THROW(bitmap.NewImage(1, 1 << 20, Px8), EImageTooLarge);
    const TSizeLimits limits{100};
    EXPECT_THROW(TDIBSection::Create(11, 10, 8, BI_RGB, nullptr, {}, limits), EImageTooLarge);
    EXPECT_NO_THROW(TDIBSection::Create(10, 10, 8, BI_RGB, nullptr, {}, limits));
}

TEST(BitmapSizing, GrowingAZeroWidthBitmapGivesAWhiteBlock) {
    TBitmap bitmap;
    bitmap.SetHeight(2);  // 0 x 2: a block without pixel memory
    bitmap.SetWidth(3);
    ASSERT_EQ(bitmap.Width(), 3);
    ASSERT_EQ(bitmap.Height(), 2);
    EXPECT_EQ(bitmap.Canvas().Pixel(2, 1), clWhite);
}
