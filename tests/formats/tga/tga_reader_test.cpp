#include <gtest/gtest.h>

#include "formats/tga/tga_file.hpp"
#include "image/exceptions.hpp"
#include "image/limits.hpp"
#include "image/picture_registry.hpp"
#include "tests/formats/tga/tga_test_files.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
using Bytes = std::vector<uint8_t>;

namespace {

TPaletteEntry Rgb(uint8_t red, uint8_t green, uint8_t blue) { return {red, green, blue, 0}; }

void ExpectRefused(const TBytes& file) {
    try {
        LoadTGA(file);
        ADD_FAILURE() << "loaded";
    } catch (const Exception& error) {
        EXPECT_STREQ(error.what(), "Invalid or Unsupported Format of TGA");
    }
}

}  // namespace

TEST(TGARows, BottomRowFirstUnlessTopLeftOriginAndMirroredRightToLeft) {
    const Bytes first{1, 2, 3, 4, 5, 6, 7, 8}, second{9, 10, 11, 12, 13, 14, 15, 0};
    for (unsigned descriptor : {0x00u, 0x20u, 0x30u}) {
        auto bitmap =
            LoadTGA(TGAHeader({.width = 2, .height = 2, .descriptor = descriptor}).Append(first).Append(second));
        ASSERT_EQ(bitmap->PixelFormat(), Px32);
        const Bytes top = RowBytes(*bitmap, 0), bottom = RowBytes(*bitmap, 1);
        const Bytes expectedTop = descriptor == 0x00   ? second
                                  : descriptor == 0x20 ? first
                                                       : Bytes{5, 6, 7, 8, 1, 2, 3, 4};
        const Bytes expectedBottom = descriptor == 0x00   ? first
                                     : descriptor == 0x20 ? second
                                                          : Bytes{13, 14, 15, 0, 9, 10, 11, 12};
        EXPECT_EQ(top, expectedTop) << descriptor;
        EXPECT_EQ(bottom, expectedBottom) << descriptor;
    }
    auto indices = LoadTGA(TGAHeader({.type = 1, .width = 3, .depth = 8, .descriptor = 0x10}).Append({1, 2, 3}));
    EXPECT_EQ(RowBytes(*indices, 0), Bytes({3, 2, 1}));
    auto colours =
        LoadTGA(TGAHeader({.width = 3, .depth = 24, .descriptor = 0x10}).Append({1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(RowBytes(*colours, 0), Bytes({7, 8, 9, 4, 5, 6, 1, 2, 3}));
}

TEST(TGARunLength, RunAndRawPacketsFillTheRow) {
    auto run = LoadTGA(TGAHeader({.type = 10, .width = 4}).Append({0x83, 10, 20, 30, 40}));
    EXPECT_EQ(RowBytes(*run, 0), Bytes({10, 20, 30, 40, 10, 20, 30, 40, 10, 20, 30, 40, 10, 20, 30, 40}));
    auto mixed = LoadTGA(TGAHeader({.type = 10, .width = 3, .depth = 24}).Append({0x00, 1, 2, 3, 0x81, 4, 5, 6}));
    EXPECT_EQ(mixed->PixelFormat(), Px24);
    EXPECT_EQ(RowBytes(*mixed, 0), Bytes({1, 2, 3, 4, 5, 6, 4, 5, 6}));
}

TEST(TGARunLength, PacketSurplusStartsTheNextRow) {
    // Run of three over a two-pixel row, then one raw pixel; bottom row first.
    auto run = LoadTGA(TGAHeader({.type = 10, .width = 2, .height = 2}).Append({0x82, 1, 2, 3, 4, 0x00, 5, 6, 7, 8}));
    EXPECT_EQ(RowBytes(*run, 1), Bytes({1, 2, 3, 4, 1, 2, 3, 4}));
    EXPECT_EQ(RowBytes(*run, 0), Bytes({1, 2, 3, 4, 5, 6, 7, 8}));
    // A raw packet across a row end, then a run over two rows; grey, top-down.
    auto raw = LoadTGA(TGAHeader({.type = 11, .width = 2, .height = 3, .depth = 8, .descriptor = 0x20})
                           .Append({0x02, 1, 2, 3, 0x82, 9}));
    EXPECT_EQ(RowBytes(*raw, 0), Bytes({1, 2}));
    EXPECT_EQ(RowBytes(*raw, 1), Bytes({3, 9}));
    EXPECT_EQ(RowBytes(*raw, 2), Bytes({9, 9}));
    // Each row is mirrored after it is decoded, carried pixels included.
    auto mirrored = LoadTGA(TGAHeader({.type = 10, .width = 2, .height = 2, .depth = 24, .descriptor = 0x30})
                                .Append({0x02, 1, 1, 1, 2, 2, 2, 3, 3, 3, 0x00, 4, 4, 4}));
    EXPECT_EQ(RowBytes(*mirrored, 0), Bytes({2, 2, 2, 1, 1, 1}));
    EXPECT_EQ(RowBytes(*mirrored, 1), Bytes({4, 4, 4, 3, 3, 3}));
    // Surplus after the last row is ignored.
    EXPECT_EQ(RowBytes(*LoadTGA(TGAHeader({.type = 11, .depth = 8}).Append({0xFF, 7})), 0), Bytes({7}));
}

TEST(TGASixteenBits, ColourWordsWidenByAShiftAndIgnoreBit15) {
    const Bytes words{0xFF, 0x7F, 0x00, 0x80, 0x1F, 0x00, 0xE0, 0x03, 0x00, 0x7C, 0x21, 0x04};
    const Bytes expected{248, 248, 248, 0, 0, 0, 248, 0, 0, 0, 248, 0, 0, 0, 248, 8, 8, 8};
    auto raw = LoadTGA(TGAHeader({.width = 6, .depth = 16}).Append(words));
    EXPECT_EQ(raw->PixelFormat(), Px24);
    EXPECT_EQ(RowBytes(*raw, 0), expected);
    auto rle = LoadTGA(TGAHeader({.type = 10, .width = 3, .depth = 16}).Append({0x81, 0x00, 0x7C, 0x00, 0xFF, 0xFF}));
    EXPECT_EQ(RowBytes(*rle, 0), Bytes({0, 0, 248, 0, 0, 248, 248, 248, 248}));
}

TEST(TGASixteenBits, GreyImagesCarryGreyAndAlphaIntoPx32) {
    const Bytes expected{0x40, 0x40, 0x40, 0x80, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0x00};
    auto raw = LoadTGA(TGAHeader({.type = 3, .width = 3, .depth = 16}).Append({0x40, 0x80, 0xFF, 0x00, 0xFF, 0x00}));
    auto rle = LoadTGA(TGAHeader({.type = 11, .width = 3, .depth = 16}).Append({0x00, 0x40, 0x80, 0x81, 0xFF, 0x00}));
    for (auto* bitmap : {raw.get(), rle.get()}) {
        EXPECT_EQ(bitmap->PixelFormat(), Px32);
        EXPECT_EQ(RowBytes(*bitmap, 0), expected);
    }
}

TEST(TGAColourMap, EntriesGoToTheirIndexAndThePixelsFollowTheMap) {
    struct Case {
        unsigned entrySize;
        Bytes entry;
        TPaletteEntry expected;
    } cases[] = {
        {24, {1, 2, 3}, Rgb(3, 2, 1)},
        {32, {1, 2, 3, 99}, Rgb(3, 2, 1)},     // alpha has no place in a palette
        {16, {0x1F, 0x7C}, Rgb(248, 0, 248)},  // 5-5-5, bit 15 ignored
        {15, {0x1F, 0xFC}, Rgb(248, 0, 248)},  // read like 16 bits
        {8, {77}, Rgb(0, 0, 0)},               // not read, but stepped over
        {0, {}, Rgb(0, 0, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entrySize);
        auto file = TGAHeader({.mapType = 1,
                               .type = 1,
                               .mapFirst = 16,
                               .mapLength = 2,
                               .mapEntrySize = c.entrySize,
                               .width = 3,
                               .depth = 8});
        auto bitmap = LoadTGA(file.Append(c.entry).Append(c.entry).Append({16, 17, 5}));
        ASSERT_EQ(bitmap->PixelFormat(), Px8);
        EXPECT_EQ(RowBytes(*bitmap, 0), Bytes({16, 17, 5}));
        const HPALETTE palette = bitmap->Palette();
        ASSERT_EQ(PaletteEntryCount(palette), 256u);
        EXPECT_EQ(palette->Entries[16], c.expected);
        EXPECT_EQ(palette->Entries[17], c.expected);
        EXPECT_EQ(palette->Entries[15], Rgb(0, 0, 0));  // not given: black
    }
    // A true-colour image with a colour map: the pixels start after the map.
    auto colours = LoadTGA(
        TGAHeader({.mapType = 1, .mapLength = 2, .mapEntrySize = 24, .depth = 24}).Append({9, 9, 9, 8, 8, 8, 1, 2, 3}));
    EXPECT_EQ(RowBytes(*colours, 0), Bytes({1, 2, 3}));
}

TEST(TGAColourMap, EntriesBeyond255AreReadAndDropped) {
    auto bitmap = LoadTGA(
        TGAHeader(
            {.mapType = 1, .type = 1, .mapFirst = 254, .mapLength = 4, .mapEntrySize = 24, .width = 2, .depth = 8})
            .Append({1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 254, 255}));
    EXPECT_EQ(RowBytes(*bitmap, 0), Bytes({254, 255}));
    EXPECT_EQ(bitmap->Palette()->Entries[254], Rgb(1, 1, 1));
    EXPECT_EQ(bitmap->Palette()->Entries[255], Rgb(2, 2, 2));
    auto beyond =
        LoadTGA(TGAHeader({.mapType = 1, .type = 1, .mapFirst = 300, .mapLength = 1, .mapEntrySize = 32, .depth = 8})
                    .Append({1, 1, 1, 1, 42}));
    EXPECT_EQ(RowBytes(*beyond, 0), Bytes({42}));
    EXPECT_EQ(beyond->Palette()->Entries[44], Rgb(0, 0, 0));
}

TEST(TGAColourMap, EightBitsWithoutAMapGetAGreyRamp) {
    auto bitmap = LoadTGA(TGAHeader({.type = 3, .depth = 8}).Append({200}));
    const HPALETTE palette = bitmap->Palette();
    ASSERT_EQ(PaletteEntryCount(palette), 256u);
    for (unsigned i = 0; i < 256; ++i) ASSERT_EQ(palette->Entries[i], Rgb(uint8_t(i), uint8_t(i), uint8_t(i))) << i;
}

TEST(TGAHeaderCheck, ImageIDIsSkippedAndDataIsReadFromPositionZero) {
    auto file = TGAHeader({.idLength = 255, .width = 1}).Fill(255, 0xEE).Append({1, 2, 3, 4});
    TMemoryViewStream stream(file.Data().data(), file.Size());
    stream.SetPosition(100);
    TTGABitmap bitmap;
    bitmap.LoadFromStream(stream);
    EXPECT_EQ(RowBytes(bitmap, 0), Bytes({1, 2, 3, 4}));
}

TEST(TGAHeaderCheck, UnreadableTypesDepthsAndShortHeadersAreRefused) {
    for (unsigned type : {0u, 4u, 8u, 12u, 32u, 33u, 255u}) ExpectRefused(TGAHeader({.type = type}).Fill(4, 1));
    for (unsigned depth : {0u, 1u, 4u, 15u, 17u, 48u}) ExpectRefused(TGAHeader({.depth = depth}).Fill(8, 1));
    ExpectRefused(TBytes());
    TBytes shortHeader = TGAHeader({});
    shortHeader.Data().resize(2);  // the image type is missing
    ExpectRefused(shortHeader);

    // A refused file leaves the bitmap as it was.
    auto bitmap = LoadTGA(TGAHeader({}).Append({1, 2, 3, 4}));
    auto file = TGAHeader({.type = 4}).Fill(4, 1);
    TMemoryViewStream stream(file.Data().data(), file.Size());
    EXPECT_THROW(bitmap->LoadFromStream(stream), Exception);
    EXPECT_EQ(RowBytes(*bitmap, 0), Bytes({1, 2, 3, 4}));
}

TEST(TGATruncatedData, MissingPixelsAreZeroAndDecodingEnds) {
    auto raw = LoadTGA(TGAHeader({.width = 2, .height = 2}).Append({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
    EXPECT_EQ(RowBytes(*raw, 1), Bytes({1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(RowBytes(*raw, 0), Bytes({9, 10, 11, 12, 13, 14, 0, 0}));
    // The data ends after a run that reaches into the third of three rows.
    auto rle = LoadTGA(TGAHeader({.type = 10, .width = 2, .height = 3, .descriptor = 0x20}).Append({0x84, 1, 2, 3, 4}));
    EXPECT_EQ(RowBytes(*rle, 1), Bytes({1, 2, 3, 4, 1, 2, 3, 4}));
    EXPECT_EQ(RowBytes(*rle, 2), Bytes({1, 2, 3, 4, 0, 0, 0, 0}));
    // A run value cut short is no pixel.
    auto cutRun = LoadTGA(TGAHeader({.type = 10, .width = 2, .height = 2, .descriptor = 0x20})
                              .Append({0x01, 1, 2, 3, 4, 5, 6, 7, 8, 0x81, 1, 2}));
    EXPECT_EQ(RowBytes(*cutRun, 1), Bytes(8, 0));
}

TEST(TGATruncatedData, LessThanHalfOfTheRowsIsRefused) {
    struct TCut {
        TBytes file;
        const char* message;
    };
    const TCut cuts[] = {
        {TGAHeader({.width = 2, .height = 2}).Append({1, 2, 3, 4, 5, 6}), "cut short: 0 of 2 rows present"},
        {TGAHeader({.type = 10, .width = 2, .height = 3}).Append({0x82, 1, 2, 3, 4}), "cut short: 1 of 3 rows present"},
        {TGAHeader({.type = 10, .width = 2}).Append({0x81, 1, 2}), "cut short: 0 of 1 rows present"},
    };
    for (const TCut& cut : cuts) {
        TTGABitmap bitmap;
        TMemoryViewStream stream(cut.file.Data().data(), cut.file.Data().size());
        try {
            bitmap.LoadFromStream(stream);
            ADD_FAILURE() << "loaded, expected " << cut.message;
        } catch (const EInvalidGraphic& error) {
            EXPECT_STREQ(error.what(), cut.message);
        }
        EXPECT_TRUE(bitmap.Empty());
    }
}

TEST(TGAHostileHeaders, SizesBeyondTheLimitAreRefusedBeforeAllocation) {
    EXPECT_THROW(LoadTGA(TGAHeader({.width = 65535, .height = 65535})), EImageTooLarge);
    const TSizeLimits limits{100};
    EXPECT_THROW(LoadTGA(TGAHeader({.type = 10, .width = 11, .height = 10}), limits), EImageTooLarge);
    EXPECT_NO_THROW(LoadTGA(TGAHeader({.type = 10, .width = 10, .height = 10}).Append({0xFF, 1, 2, 3, 4}), limits));
}

TEST(TGAHostileHeaders, RowsOfTheLargestWidthDecode) {
    // 65535 x 2 pixels in 1024 runs of 128, the runs crossing the row end.
    TBytes file = TGAHeader({.type = 10, .width = 65535, .height = 2, .descriptor = 0x20});
    for (unsigned packet = 0; packet < 1024; ++packet) file.U8(0xFF).U16(packet).U8(1).U8(2);
    auto bitmap = LoadTGA(file);
    auto packetAt = [&](int y, size_t x) {
        return bitmap->ConstRowAddress(y)[4 * x] | bitmap->ConstRowAddress(y)[4 * x + 1] << 8;
    };
    EXPECT_EQ(packetAt(0, 65534), 65534 / 128);
    EXPECT_EQ(packetAt(1, 0), 65535 / 128);
    EXPECT_EQ(packetAt(1, 65534), 131069 / 128);
}

TEST(TGAHostileHeaders, OversizedColourMapsAndEmptyImagesLoadSafely) {
    auto bitmap = LoadTGA(TGAHeader({.mapType = 1,
                                     .type = 9,
                                     .mapFirst = 65535,
                                     .mapLength = 65535,
                                     .mapEntrySize = 255,
                                     .width = 4,
                                     .height = 4,
                                     .depth = 8})
                              .Fill(65535 * 32 + 16, 7));  // 32 bytes an entry, then the pixels
    EXPECT_EQ(bitmap->Width(), 4);
    EXPECT_EQ(bitmap->Palette()->Entries[7], Rgb(0, 0, 0));
    EXPECT_TRUE(LoadTGA(TGAHeader({.width = 0, .height = 5}))->Empty());
    EXPECT_TRUE(LoadTGA(TGAHeader({.width = 5, .height = 0}))->Empty());
}

TEST(TTGABitmapRegistration, TGAExtensionMakesATTGABitmap) {
    bool found = false;
    for (const auto& format : TPicture::FileFormats())
        found |= format.Extension == "TGA" && format.Description == "TGA-Format" && format.ClassName == "TTGABitmap";
    EXPECT_TRUE(found);
    auto graphic = TPicture::CreateForExtension("tga");
    ASSERT_NE(graphic, nullptr);
    EXPECT_STREQ(graphic->ClassName(), "TTGABitmap");
}
