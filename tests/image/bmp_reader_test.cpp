#include <gtest/gtest.h>

#include <cstring>

#include "image/exceptions.hpp"
#include "tests/image/bmp_test_files.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
using namespace tamberlit::testing::bmp_files;

namespace {

// Two colours and a 2 x 2 picture of 8-bit indices: top row 1 0, bottom row 0 1.
const TBytes table4 = TBytes().U32(0x00000000).U32(0x0010FF20);
const TBytes table3 = TBytes().U8(0).U8(0).U8(0).U8(0x20).U8(0xFF).U8(0x10);
const TBytes rows2x2 = TBytes().U8(0).U8(1).U16(0).U8(1).U8(0).U16(0);  // bottom row first

}  // namespace

TEST(BmpReader, EveryHeaderVariantGivesThePicture) {
    // The OS/2 16-byte header has no colour count: its table is 256 entries long.
    const TBytes table256 = TBytes().Append(table4.Data()).Fill(254 * 4, 0);
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        bool os2;
    } cases[] = {
        {"core 12", File(CoreHeader(2, 2, 8), table3, rows2x2), true},
        {"OS/2 2.x 16", File(InfoHeader(2, 2, 8, 0, 0, 16), table256, rows2x2), false},
        {"info 40", File(InfoHeader(2, 2, 8, 0, 2), table4, rows2x2), false},
        {"V2 52", File(InfoHeader(2, 2, 8, 0, 2, 52), table4, rows2x2), false},
        {"V3 56", File(InfoHeader(2, 2, 8, 0, 2, 56), table4, rows2x2), false},
        {"OS/2 2.x 64", File(InfoHeader(2, 2, 8, 0, 2, 64), table4, rows2x2), false},
        {"V4 108", File(InfoHeader(2, 2, 8, 0, 2, 108), table4, rows2x2), false},
        {"V5 124", File(InfoHeader(2, 2, 8, 0, 2, 124), table4, rows2x2), false},
    };
    const std::vector<uint8_t> expected = {0x10, 0xFF, 0x20, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0x10, 0xFF, 0x20, 255};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto bitmap = Load(c.file);
        EXPECT_EQ(bitmap->PixelFormat(), Px8);
        EXPECT_EQ(RgbaPixels(*bitmap), expected);
        EXPECT_EQ(bitmap->Image().OS2Format, c.os2);
    }
}

TEST(BmpReader, RowOrderFollowsTheSignOfTheHeight) {
    const TBytes pixels = TBytes().U8(1).U8(2).U8(3).U8(0).U8(4).U8(5).U8(6).U8(0);
    auto bottomUp = Load(File(InfoHeader(1, 2, 24), {}, pixels));
    auto topDown = Load(File(InfoHeader(1, -2, 24), {}, pixels));
    EXPECT_EQ(RgbPixels(*bottomUp), (std::vector<uint8_t>{6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(RgbPixels(*topDown), (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));
    // Kept top-down, so it is written back top-down.
    EXPECT_EQ(topDown->Handle()->Header.biHeight, -2);
}

TEST(BmpReader, PixelOffsetDecidesWhereThePixelsBegin) {
    const TBytes pixel = TBytes().U8(1).U8(2).U8(3).U8(0);
    // A gap after the (empty) table is skipped.
    auto gap = Load(File(InfoHeader(1, 1, 24), TBytes().Fill(6, 0xEE), pixel, 54 + 6));
    EXPECT_EQ(RgbPixels(*gap), (std::vector<uint8_t>{3, 2, 1}));
    // An offset inside the table ends the table there (OS/2 files with a
    // short table): index 1 is beyond it and shows black.
    auto shortTable = Load(File(CoreHeader(2, 1, 8), TBytes().U8(9).U8(8).U8(7), TBytes().U8(0).U8(1).U16(0), 26 + 3));
    EXPECT_EQ(RgbPixels(*shortTable), (std::vector<uint8_t>{7, 8, 9, 0, 0, 0}));
    // Offsets before the table or past the end are no use: the pixels follow the table.
    for (uint32_t offset : {0u, 20u, 5000u}) {
        auto ignored = Load(File(InfoHeader(1, 1, 24), {}, pixel, offset));
        EXPECT_EQ(RgbPixels(*ignored), (std::vector<uint8_t>{3, 2, 1})) << offset;
    }
}

TEST(BmpReader, ShortDataLeavesZeroRowsAndImageSizesNeitherOverrunNorDropRows) {
    // Two rows of a 1 x 3 picture, bottom first; the top row is missing.
    auto truncated = Load(File(InfoHeader(1, 3, 32), {}, TBytes().U32(0x11223344).U32(0x55667788)));
    EXPECT_EQ(truncated->PixelFormat(), Px32);
    EXPECT_EQ(RgbaPixels(*truncated),
              (std::vector<uint8_t>{0, 0, 0, 0, 0x66, 0x77, 0x88, 0x55, 0x22, 0x33, 0x44, 0x11}));
    // An image size far beyond the block: the bytes after the block stay unread.
    TBytes header = InfoHeader(1, 1, 32);
    header.Data()[20] = 0xFF;
    header.Data()[23] = 0x7F;
    auto oversized = Load(File(header, {}, TBytes().U32(0xFF010203).Fill(4096, 0xAB)));
    EXPECT_EQ(RgbaPixels(*oversized), (std::vector<uint8_t>{1, 2, 3, 0xFF}));
    // An image size that leaves out the row padding drops no row.
    TBytes unpadded = InfoHeader(1, 2, 24);
    unpadded.Data()[20] = 6;
    auto both = Load(File(unpadded, {}, TBytes().U32(0x00030201).U32(0x00060504)));
    EXPECT_EQ(RgbPixels(*both), (std::vector<uint8_t>{6, 5, 4, 3, 2, 1}));
}

TEST(BmpReader, HostileHeadersAreRefusedBeforeAnythingIsAllocated) {
    const std::string invalid = "Bitmap image is not valid";
    const std::string readError = "Stream read error";
    TBytes planes = InfoHeader(1, 1, 24);
    planes.Data()[12] = 2;
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        std::string message;
    } cases[] = {
        {"signature",
         [] {
             auto f = File(InfoHeader(1, 1, 24), {}, TBytes().U32(0));
             f[1] = 'A';
             return f;
         }(),
         invalid},
        {"header size 8", File(TBytes().U32(8).U32(1), {}, {}), invalid},
        {"header size 66", File(InfoHeader(1, 1, 24, 0, 0, 66), {}, TBytes().U32(0)), invalid},
        {"header size 2^31", File(TBytes().U32(0x80000000).U32(1), {}, {}), invalid},
        {"width 0", File(InfoHeader(0, 1, 24), {}, {}), invalid},
        {"width negative", File(InfoHeader(-5, 1, 24), {}, {}), invalid},
        {"height 0", File(InfoHeader(1, 0, 24), {}, {}), invalid},
        {"planes 2", File(planes, {}, TBytes().U32(0)), invalid},
        {"30000 bits", File(InfoHeader(1, 1, 30000), {}, {}), invalid},
        {"2 bits", File(InfoHeader(1, 1, 2), TBytes().Fill(16, 0), TBytes().U32(0)), invalid},
        {"JPEG data", File(InfoHeader(1, 1, 24, 4), {}, {}), invalid},
        {"bit fields at 8 bits", File(InfoHeader(1, 1, 8, 3), {}, {}), invalid},
        {"bit fields in an OS/2 header", File(InfoHeader(1, 1, 16, 3, 0, 64), {}, {}), invalid},
        {"RLE8 at 4 bits", File(InfoHeader(1, 1, 4, 1), {}, {}), invalid},
        {"top-down RLE", File(InfoHeader(1, -1, 8, 1), TBytes().Fill(1024, 0), TBytes().U16(1)), invalid},
        {"70000 wide", File(InfoHeader(70000, 1, 24), {}, {}), "Image too large"},
        {"2^31 rows top-down", File(InfoHeader(1, INT32_MIN, 24), {}, {}), "Image too large"},
        {"2^30 pixels", File(InfoHeader(32768, 32768, 1), {}, {}), "Image too large"},
        {"ends in the file header", std::vector<uint8_t>{'B', 'M', 0, 0}, readError},
        {"ends in the header",
         [] {
             auto f = File(InfoHeader(1, 1, 24), {}, {});
             f.resize(30);
             return f;
         }(),
         readError},
        {"ends in the masks", File(InfoHeader(1, 1, 32, 3), TBytes().U32(0xFF), {}), readError},
        {"colour count 2^32 - 1", File(InfoHeader(1, 1, 8, 0, 0xFFFFFFFF), TBytes().U32(0), {}, 10), readError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LoadError(c.file).substr(0, c.message.size()), c.message);
    }
}

TEST(BmpReader, EmptyStreamGivesAnEmptyBitmap) {
    TBitmap bitmap;
    bitmap.NewImage(2, 2, Px24);
    TMemoryStream empty;
    bitmap.LoadFromStream(empty);
    EXPECT_TRUE(bitmap.Empty());
}

TEST(BmpReader, ColourCountsBeyondTheBitCountAreClamped) {
    // 300 entries declared for 1-bit pixels; the offset says where the pixels are.
    auto bitmap = Load(File(InfoHeader(1, 1, 1, 0, 300), TBytes().U32(0x00FF0000).U32(0x0000FF00).Fill(298 * 4, 7),
                            TBytes().U32(0x80)));
    EXPECT_EQ(bitmap->Handle()->ColorTable.size(), 2u);
    EXPECT_EQ(RgbPixels(*bitmap), (std::vector<uint8_t>{0, 0xFF, 0}));
}

TEST(BmpReader, MasksDecideTheFormatAndOnlyThePx32LayoutKeepsAlpha) {
    const std::array<uint32_t, 4> px32 = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    const TBytes pixel = TBytes().U32(0x80112233);
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        TPixelFormat format;
        std::vector<uint8_t> rgba;
    } cases[] = {
        {"V4 with the Px32 layout",
         File(InfoHeader(1, 1, 32, 3, 0, 108, px32), {}, pixel),
         Px32,
         {0x11, 0x22, 0x33, 0x80}},
        {"V3 with the Px32 layout",
         File(InfoHeader(1, 1, 32, 3, 0, 56, px32), {}, pixel),
         Px32,
         {0x11, 0x22, 0x33, 0x80}},
        {"masks without alpha",
         File(InfoHeader(1, 1, 32, 3), TBytes().U32(0xFF0000).U32(0xFF00).U32(0xFF), pixel),
         PxCustom,
         {0x11, 0x22, 0x33, 255}},
        {"alpha in another byte",
         File(InfoHeader(1, 1, 32, 3, 0, 124, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}), {}, pixel),
         PxCustom,
         {0x33, 0x22, 0x11, 255}},
        {"zero and overlapping masks",
         File(InfoHeader(1, 1, 32, 3, 0, 124, {0, 0xFFFFFFFF, 0x80000001, 0}), {}, pixel),
         PxCustom,
         {0, 0x80, 0x80, 255}},
        {"5-6-5",
         File(InfoHeader(1, 1, 16, 3), TBytes().U32(0xF800).U32(0x07E0).U32(0x1F), TBytes().U32(0xF81F)),
         Px16,
         {255, 0, 255, 255}},
        {"5-5-5", File(InfoHeader(1, 1, 16), {}, TBytes().U32(0x03E0)), Px15, {0, 255, 0, 255}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto bitmap = Load(c.file);
        EXPECT_EQ(bitmap->PixelFormat(), c.format);
        EXPECT_EQ(RgbaPixels(*bitmap), c.rgba);
    }
}

TEST(BmpReader, ColourTableAboveEightBitsBecomesThePalette) {
    auto bitmap = Load(File(InfoHeader(1, 1, 24, 0, 2), table4, TBytes().U32(0)));
    ASSERT_EQ(PaletteEntryCount(bitmap->Palette()), 2u);
    EXPECT_EQ(bitmap->Palette()->Entries[1], (TPaletteEntry{0x10, 0xFF, 0x20, 0}));
}

TEST(BmpReader, RunLengthDataIsKeptUntilTheImageChanges) {
    const auto file = File(InfoHeader(2, 1, 8, 1, 2), table4, TBytes().U8(2).U8(1).U16(0x0100));
    auto bitmap = Load(file);
    EXPECT_EQ(bitmap->PixelFormat(), PxDevice);
    EXPECT_EQ(RgbPixels(*bitmap), (std::vector<uint8_t>{0x10, 0xFF, 0x20, 0x10, 0xFF, 0x20}));
    EXPECT_EQ(Save(*bitmap), file);
    bitmap->RowAddress(0);  // a change: the decoded picture is written from now on
    const auto written = Save(*bitmap);
    EXPECT_EQ(written.size(), 54u + 8u);
    EXPECT_EQ(written[28], 32);
}
