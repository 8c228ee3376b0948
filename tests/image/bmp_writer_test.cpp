#include <gtest/gtest.h>

#include <cstring>

#include "tests/image/bmp_test_files.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
using namespace tamberlit::testing::bmp_files;

namespace {

void FillRows(TBitmap& bitmap, uint8_t first) {
    PaintRowBytes(bitmap, [first](size_t i, int y) { return first + 37 * y + i; });
}

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset) {
    uint32_t value;
    std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

}  // namespace

TEST(BmpWriter, TwoByTwoTwentyFourBitFileIsSeventyBytes) {
    TBitmap bitmap;
    bitmap.NewImage(2, 2, Px24);
    std::memcpy(bitmap.RowAddress(0), "\x01\x02\x03\x04\x05\x06", 6);
    std::memcpy(bitmap.RowAddress(1), "\x11\x12\x13\x14\x15\x16", 6);
    TBytes expected;
    expected.Text("BM").U32(70).U16(0).U16(0).U32(54);
    expected.U32(40).I32(2).I32(2).U16(1).U16(24).U32(0).U32(16).I32(0).I32(0).U32(0).U32(0);
    expected.Append({0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0});  // bottom row first
    EXPECT_EQ(Save(bitmap), expected.Data());
}

TEST(BmpWriter, OneByOneThirtyTwoBitFileEndsWithItsAlpha) {
    TBitmap bitmap;
    bitmap.NewImage(1, 1, Px32);
    std::memcpy(bitmap.RowAddress(0), "\x10\x20\x30\x7F", 4);
    TBytes expected;
    expected.Text("BM").U32(58).U16(0).U16(0).U32(54);
    expected.U32(40).I32(1).I32(1).U16(1).U16(32).U32(0).U32(4).I32(0).I32(0).U32(0).U32(0);
    expected.Append({0x10, 0x20, 0x30, 0x7F});
    EXPECT_EQ(Save(bitmap), expected.Data());
}

TEST(BmpWriter, EmptyBitmapWritesNothing) {
    TBitmap bitmap;
    EXPECT_TRUE(Save(bitmap).empty());
}

TEST(BmpWriter, PaletteTablesAndTheirCounts) {
    // An 8-bit block with a 16-entry palette: the table and its count say 16.
    TBitmap eight;
    eight.NewImage(1, 1, Px8);
    eight.SetPalette(SystemPalette16());
    auto file = Save(eight);
    EXPECT_EQ(U32At(file, 10), 14u + 40 + 16 * 4);  // pixel offset
    EXPECT_EQ(U32At(file, 46), 16u);                // colours used
    EXPECT_EQ(file.size(), 14u + 40 + 16 * 4 + 4);

    // Kept through a change to 24 bits, the palette is the optional table.
    eight.SetPixelFormat(Px24);
    file = Save(eight);
    EXPECT_EQ(U32At(file, 10), 14u + 40 + 16 * 4);
    EXPECT_EQ(U32At(file, 46), 16u);
    EXPECT_EQ(file[14 + 40 + 4 * 12], 0xFF);  // entry 12 of the system palette: blue 255

    // The halftone palette the bitmap made for itself is not written.
    TBitmap halftone;
    halftone.NewImage(1, 1, Px24);
    halftone.SetPixelFormat(Px8);
    halftone.SetPixelFormat(Px24);
    EXPECT_EQ(Save(halftone).size(), 58u);
}

TEST(BmpWriter, MasksAreWrittenAndZeroMasksGetDefaults) {
    const uint32_t zero[3] = {0, 0, 0};
    for (int bits : {16, 32}) {
        TBitmap bitmap;
        bitmap.SetHandle(TDIBSection::Create(1, 1, bits, BI_BITFIELDS, zero));
        const auto file = Save(bitmap);
        EXPECT_EQ(U32At(file, 10), 14u + 52);
        EXPECT_EQ(U32At(file, 30), BI_BITFIELDS);
        EXPECT_EQ(U32At(file, 54), bits == 16 ? 0xF800u : 0xFF0000u);
        EXPECT_EQ(U32At(file, 58), bits == 16 ? 0x07E0u : 0x00FF00u);
        EXPECT_EQ(U32At(file, 62), bits == 16 ? 0x001Fu : 0x0000FFu);
    }
}

TEST(BmpWriter, CoreHeaderFilesAreWrittenBackWithTheCoreHeader) {
    // 3 x 2, 1 bit: two 3-byte colour entries.
    const auto file =
        File(CoreHeader(3, 2, 1), TBytes().U8(1).U8(2).U8(3).U8(4).U8(5).U8(6), TBytes().U32(0xA0).U32(0x40));
    auto bitmap = Load(file);
    EXPECT_EQ(Save(*bitmap), file);
    // Still OS/2 after a change to 24 bits: a core header without a table.
    bitmap->SetPixelFormat(Px24);
    const auto wider = Save(*bitmap);
    EXPECT_EQ(wider.size(), 26u + 2 * 12);
    EXPECT_EQ(U32At(wider, 14), 12u);
    // A core table has 2^bits entries even when the file's was cut short.
    auto cut = Load(File(CoreHeader(1, 1, 4), TBytes().U8(9).U8(9).U8(9), TBytes().U32(0), 29));
    EXPECT_EQ(Save(*cut).size(), 26u + 16 * 3 + 4);
}

TEST(BmpWriter, RoundTripsKeepEveryByte) {
    struct Case {
        TPixelFormat format;
        int width, height;
    } cases[] = {{Px24, 5, 3}, {Px32, 3, 4}, {Px8, 7, 2}, {Px4, 9, 3}, {Px1, 17, 2}, {Px15, 3, 3}, {Px16, 3, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.format));
        TBitmap original;
        original.NewImage(c.width, c.height, c.format);
        if (c.format == Px8) original.SetPalette(DefaultPalette20());
        FillRows(original, 7);
        auto copy = Load(Save(original));
        ASSERT_EQ(copy->PixelFormat(), c.format);
        ASSERT_EQ(copy->Width(), c.width);
        EXPECT_EQ(copy->Handle()->ColorTable, original.Handle()->ColorTable);
        for (int y = 0; y < c.height; ++y)
            EXPECT_EQ(std::memcmp(copy->ConstRowAddress(y), original.ConstRowAddress(y), original.RowBytes()), 0);
    }
    // Read top-down, written top-down.
    auto topDown = Load(File(InfoHeader(1, -2, 32), {}, TBytes().U32(0x01020304).U32(0x05060708)));
    auto again = Load(Save(*topDown));
    EXPECT_EQ(again->Handle()->Header.biHeight, -2);
    EXPECT_EQ(RgbaPixels(*again), RgbaPixels(*topDown));
}
