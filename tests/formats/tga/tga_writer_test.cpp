#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "formats/tga/tga_file.hpp"
#include "image/exceptions.hpp"
#include "tests/formats/tga/tga_test_files.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
using Bytes = std::vector<uint8_t>;

namespace {

// A bitmap whose pixel bytes count up from seed (padding left zero).
void Fill(TBitmap& bitmap, int width, int height, TPixelFormat format, unsigned seed = 1) {
    PaintPixels(bitmap, width, height, format, [&seed](int, int, int) { return seed++ * 37; });
}

Bytes Written(TBitmap& bitmap) {
    TTGAFile file;
    file.AssignBitmap(bitmap);
    TMemoryStream stream;
    file.SaveToStream(stream);
    return {stream.Memory(), stream.Memory() + stream.ByteCount()};
}

}  // namespace

TEST(TGAWriter, TwoByOne32BitFileIsExactly26Bytes) {
    TBitmap bitmap;
    bitmap.NewImage(2, 1, Px32);
    const uint8_t pixels[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::memcpy(bitmap.RowAddress(0), pixels, 8);
    EXPECT_EQ(Written(bitmap), Bytes({0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02,
                                      0x00, 0x01, 0x00, 0x20, 0x08, 1,    2,    3,    4,    5,    6,    7,    8}));
}

TEST(TGAWriter, OneByTwo24BitFileIsExactly24BytesBottomRowFirst) {
    TBitmap bitmap;
    bitmap.NewImage(1, 2, Px24);
    std::memcpy(bitmap.RowAddress(0), "\x01\x02\x03", 3);  // top
    std::memcpy(bitmap.RowAddress(1), "\x04\x05\x06", 3);  // bottom
    // No colour map and no attribute bits: nothing that reads as alpha.
    EXPECT_EQ(Written(bitmap), Bytes({0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                      0x01, 0x00, 0x02, 0x00, 0x18, 0x00, 4,    5,    6,    1,    2,    3}));
}

TEST(TGAWriter, EightBitFilesCarryA768ByteColourMapPaddedWithZeros) {
    TBitmap bitmap;
    Fill(bitmap, 3, 2, Px8);
    bitmap.SetPalette(CreatePalette({{10, 20, 30, 0}, {40, 50, 60, 0}}));
    const Bytes file = Written(bitmap);
    ASSERT_EQ(file.size(), 18u + 768u + 3u * 2u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 18),
              Bytes({0, 1, 1, 0, 0, 0x00, 0x01, 24, 0, 0, 0, 0, 3, 0, 2, 0, 8, 0x00}));
    EXPECT_EQ(Bytes(file.begin() + 18, file.begin() + 24), Bytes({30, 20, 10, 60, 50, 40}));
    EXPECT_EQ(Bytes(file.begin() + 24, file.begin() + 786), Bytes(762, 0));
    EXPECT_EQ(Bytes(file.begin() + 786, file.begin() + 789), RowBytes(bitmap, 1));
}

TEST(TGAWriter, EmptyAndUnwritableFormatsGiveTheHeaderAlone) {
    TBitmap flat;
    flat.NewImage(0, 3, Px32);
    EXPECT_EQ(Written(flat), Bytes({0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 32, 8}));
    TBitmap sixteen;
    Fill(sixteen, 2, 2, Px15);
    EXPECT_EQ(Written(sixteen), Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 0, 0}));
}

TEST(TGAWriter, WrittenFilesReadBackByteForByte) {
    for (TPixelFormat format : {Px8, Px24, Px32}) {
        for (int width : {1, 2, 3, 5}) {
            SCOPED_TRACE(::testing::Message() << "format " << int(format) << " width " << width);
            TBitmap original;
            Fill(original, width, 3, format, static_cast<unsigned>(width));
            if (format == Px8) original.SetPalette(HalftonePalette());
            auto copy = LoadTGA(Written(original));
            ASSERT_EQ(copy->PixelFormat(), format);
            ASSERT_EQ(copy->Width(), width);
            ASSERT_EQ(copy->Height(), 3);
            for (int y = 0; y < 3; ++y) EXPECT_EQ(RowBytes(*copy, y), RowBytes(original, y)) << "row " << y;
            if (format == Px8) {
                EXPECT_EQ(copy->Palette()->Entries, HalftonePalette()->Entries);
            }
        }
    }
}

TEST(TGAWriter, SharedPixelsAreReadWithoutACopyAndWrittenFromPositionZero) {
    TBitmap bitmap;
    Fill(bitmap, 4, 4, Px32);
    TTGAFile file;
    file.AssignBitmap(bitmap);
    TMemoryStream stream;
    stream.Write("0123456789", 10);
    file.SaveToStream(stream);
    EXPECT_EQ(&file.Bitmap.Image(), &bitmap.Image());
    EXPECT_EQ(stream.ByteCount(), 18u + 64u);
    EXPECT_EQ(file.Header.Width, 4);
}

// Sides above 65535 cannot reach the writer (the bitmap model refuses them),
// so only the replacement of the target is shown here.
TEST(TGAWriter, SaveFileReplacesTheTargetWithTheStreamBytes) {
    TTempFolder folder;
    const std::string path = folder / "picture.tga";
    WriteFileBytes(path, {1, 2, 3});
    TBitmap bitmap;
    Fill(bitmap, 3, 2, Px24);
    TTGAFile file;
    file.AssignBitmap(bitmap);
    file.SaveFile(path);
    EXPECT_EQ(ReadFileBytes(path), Written(bitmap));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 1);
    EXPECT_THROW(file.SaveFile(folder / "missing/picture.tga"), EFCreateError);
}
