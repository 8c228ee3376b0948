#include "color/dib_rows.hpp"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "image/exceptions.hpp"
#include "image/limits.hpp"

using namespace tamberlit;

namespace {

template <typename Error, typename Action>
void ExpectError(Action action, const std::string& message) {
    try {
        action();
        FAIL() << "no error, expected \"" << message << "\"";
    } catch (const Error& error) {
        EXPECT_EQ(error.what(), message);
    }
}

HPALETTE ThreeColours() { return CreatePalette({{255, 0, 0, 4}, {0, 255, 0, 4}, {1, 2, 3, 0}}); }

}  // namespace

TEST(DIBWriter, EightBitImageGetsPaletteThenBlackAndEveryRowByte) {
    TBitmap target;
    TDIBWriter writer(target, ThreeColours(), 5, 3, Px8);
    for (int y = 0; y < 3; ++y) {
        uint8_t* row = writer.RowAddress(y);
        for (int x = 0; x < 5; ++x) row[x] = static_cast<uint8_t>(10 * y + x);
    }
    EXPECT_TRUE(target.Empty());  // nothing is handed over before Finish
    writer.Finish();

    ASSERT_EQ(target.PixelFormat(), Px8);
    EXPECT_EQ(target.Width(), 5);
    EXPECT_EQ(target.Height(), 3);
    EXPECT_EQ(target.RowBytes(), 8u);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(target.ConstRowAddress(y)[x], 10 * y + x) << x << "," << y;

    const TDIBSection& dib = *target.Image().Handle;
    EXPECT_FALSE(dib.TopDown());
    ASSERT_EQ(dib.ColorTable.size(), 256u);
    EXPECT_EQ(dib.ColorTable[0], (TRGBQuad{0, 0, 255, 0}));
    EXPECT_EQ(dib.ColorTable[1], (TRGBQuad{0, 255, 0, 0}));
    EXPECT_EQ(dib.ColorTable[2], (TRGBQuad{3, 2, 1, 0}));
    for (size_t i = 3; i < 256; ++i) EXPECT_EQ(dib.ColorTable[i], TRGBQuad{}) << i;
    EXPECT_EQ(dib.Header.biClrUsed, 256u);
    EXPECT_EQ(dib.Header.biClrImportant, 3u);
    EXPECT_EQ(PaletteEntryCount(target.Palette()), 256u);
}

TEST(DIBWriter, RowsAreStoredBottomUp) {
    TBitmap target;
    TDIBWriter writer(target, nullptr, 2, 2, Px24);
    uint8_t* top = writer.RowAddress(0);
    uint8_t* bottom = writer.RowAddress(1);
    EXPECT_EQ(top - bottom, 8);  // 2 x 3 bytes padded to 8, bottom row first
    std::memset(top, 0x11, 6);
    std::memset(bottom, 0x22, 6);
    writer.Finish();
    ASSERT_EQ(target.PixelFormat(), Px24);
    EXPECT_TRUE(target.Image().Handle->ColorTable.empty());
    EXPECT_EQ(target.ConstRowAddress(0)[5], 0x11);
    EXPECT_EQ(target.ConstRowAddress(1)[0], 0x22);
}

TEST(DIBWriter, PaletteBeyond256EntriesIsCutAtTheTable) {
    std::vector<TPaletteEntry> entries(300);
    for (size_t i = 0; i < entries.size(); ++i) entries[i] = {uint8_t(i), 0, 0, 0};
    TBitmap target;
    TDIBWriter writer(target, CreatePalette(entries), 1, 1, Px8);
    writer.RowAddress(0)[0] = 7;
    writer.Finish();
    const TDIBSection& dib = *target.Image().Handle;
    ASSERT_EQ(dib.ColorTable.size(), 256u);
    EXPECT_EQ(dib.ColorTable[255].rgbRed, 255);
    EXPECT_EQ(dib.Header.biClrImportant, 256u);
}

TEST(DIBWriter, RefusesFormatsAndSizesItCannotBuild) {
    TBitmap target;
    for (TPixelFormat format : {PxDevice, Px1, Px4, Px15, Px16, Px32, PxCustom})
        ExpectError<EInvalidGraphic>([&] { TDIBWriter(target, nullptr, 4, 4, format); }, "Unsupported PixelFormat");
    for (auto [w, h] : {std::pair{0, 4}, {4, 0}, {0, 0}, {-1, 4}, {4, -3}})
        ExpectError<EInvalidGraphic>([&] { TDIBWriter(target, nullptr, w, h, Px8); }, "Invalid image dimensions");
    // The decoded-size limit holds before anything is allocated.
    EXPECT_THROW(TDIBWriter(target, nullptr, 70000, 70000, Px8), EImageTooLarge);
}

TEST(DIBWriter, RowRequestsOutsideTheImageOrAfterFinishAreRefused) {
    TBitmap target;
    TDIBWriter writer(target, nullptr, 3, 2, Px8);
    for (int y : {-1, 2, 100})
        ExpectError<EInvalidGraphicOperation>([&] { writer.RowAddress(y); }, "Scan line index out of range");
    writer.RowAddress(1)[0] = 1;
    writer.Finish();
    ExpectError<EInvalidGraphic>([&] { writer.RowAddress(0); }, "Image has no DIB");
}

TEST(DIBWriter, WithoutFinishOrRowsTheTargetKeepsItsImage) {
    TBitmap target;
    target.NewImage(1, 1, Px32);
    target.RowAddress(0)[3] = 0x7F;
    {
        TDIBWriter writer(target, nullptr, 4, 4, Px8);
        writer.RowAddress(0)[0] = 1;
    }  // destroyed unfinished: memory freed, target untouched
    {
        TDIBWriter writer(target, nullptr, 4, 4, Px8);
        writer.Finish();  // no row was asked for: there is no image to hand over
    }
    ASSERT_EQ(target.PixelFormat(), Px32);
    EXPECT_EQ(target.Width(), 1);
    EXPECT_EQ(target.ConstRowAddress(0)[3], 0x7F);
}

TEST(DIBWriter, FailedAllocationIsReportedAsOutOfMemory) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
#else
    // 12 GiB within a raised decoded-size limit, under an address-space limit
    // of 4 GiB so that the allocation fails even on an overcommitting kernel.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
    rlimit limited = old;
    limited.rlim_cur = std::min<rlim_t>(old.rlim_max, rlim_t{4} << 30);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &limited), 0);
    TBitmap target;
    target.Limits = {uint64_t{1} << 40};
    TDIBWriter writer(target, nullptr, 65535, 65535, Px24);
    std::string message;
    try {
        writer.RowAddress(0);
    } catch (const EOutOfMemory& error) {
        message = error.what();
    }
    setrlimit(RLIMIT_AS, &old);
    EXPECT_EQ(message, "Failed to allocate memory for GIF DIB");
#endif
}

TEST(DIBReader, ConvertsTheBitmapAndHandsOutItsOwnRows) {
    TBitmap bitmap;
    bitmap.NewImage(2, 2, Px32);
    uint8_t* row = bitmap.RowAddress(1);
    const uint8_t pixel[4] = {10, 20, 30, 40};
    std::memcpy(row + 4, pixel, 4);

    TDIBReader reader(bitmap, Px24);
    EXPECT_EQ(bitmap.PixelFormat(), Px24);  // the caller's bitmap keeps the new format
    EXPECT_EQ(reader.PixelFormat(), Px24);
    EXPECT_EQ(reader.RowAddress(1), bitmap.RowAddress(1));
    EXPECT_EQ(reader.ConstRowAddress(1)[3], 10);
    EXPECT_EQ(reader.ConstRowAddress(1)[5], 30);
    EXPECT_THROW(reader.ConstRowAddress(2), EInvalidGraphicOperation);
}

TEST(DIBReader, ReadingASharedImageCopiesNothing) {
    TBitmap original;
    original.NewImage(3, 1, Px24);
    TBitmap shared;
    shared.CopyFrom(&original);
    TDIBReader reader(shared, Px24);
    EXPECT_EQ(reader.ConstRowAddress(0), original.ConstRowAddress(0));
    reader.RowAddress(0)[0] = 9;  // writing makes the reader's bitmap private
    EXPECT_EQ(original.ConstRowAddress(0)[0], 0);
}
