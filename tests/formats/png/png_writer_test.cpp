#include "formats/png/png_writer.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "formats/png/png_bitmap.hpp"
#include "image/exceptions.hpp"
#include "tests/formats/png/png_test_files.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;

namespace {

uint32_t Next(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// A bitmap whose every byte (alpha included, for Px32) is pseudo-random.
void FillNoise(TBitmap& bitmap, int width, int height, TPixelFormat format, uint32_t seed) {
    PaintPixels(bitmap, width, height, format, [&seed](int, int, int) { return Next(seed); });
}

std::vector<uint8_t> SaveToBytes(TBitmap& bitmap) {
    TMemoryStream stream;
    WritePngImage(bitmap, stream);
    return {stream.Memory(), stream.Memory() + stream.ByteCount()};
}

// The bitmap's pixels as the file should hold them: R, G, B (, A), top row first.
std::vector<uint8_t> FileOrderPixels(const TBitmap& bitmap) {
    return bitmap.PixelFormat() == Px32 ? RgbaPixels(bitmap) : RgbPixels(bitmap);
}

std::vector<std::string> FilesIn(const TTempFolder& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path()))
        names.push_back(entry.path().filename().string());
    return names;
}

}  // namespace

TEST(PngWriterPixels, Px32BecomesRgbaWithEveryAlphaUnchanged) {
    TBitmap bitmap;
    bitmap.NewImage(16, 16, Px32);
    for (int i = 0; i < 256; ++i) {
        uint8_t* pixel = bitmap.RowAddress(i / 16) + (i % 16) * 4;
        pixel[0] = static_cast<uint8_t>(i * 3);       // blue
        pixel[1] = static_cast<uint8_t>(255 - i);     // green
        pixel[2] = static_cast<uint8_t>(i * 11 + 1);  // red
        pixel[3] = static_cast<uint8_t>(i);           // alpha, 0 first: its colour must stay
    }
    const TDecodedPng file = DecodePng(SaveToBytes(bitmap));
    EXPECT_EQ(file.ColorType, PNG_COLOR_TYPE_RGB_ALPHA);
    EXPECT_EQ(file.BitDepth, 8);
    ASSERT_EQ(file.Pixels.size(), 256u * 4);
    for (int i = 0; i < 256; ++i) {
        const uint8_t* pixel = &file.Pixels[static_cast<size_t>(i) * 4];
        EXPECT_EQ(pixel[0], static_cast<uint8_t>(i * 11 + 1)) << i;
        EXPECT_EQ(pixel[1], static_cast<uint8_t>(255 - i)) << i;
        EXPECT_EQ(pixel[2], static_cast<uint8_t>(i * 3)) << i;
        EXPECT_EQ(pixel[3], static_cast<uint8_t>(i)) << i;
    }
}

TEST(PngWriterPixels, Px24RowsKeepTheirOrderAndLoseNothingAtTheEnds) {
    for (int width : {1, 2, 3, 5, 7, 13}) {
        TBitmap bitmap;
        FillNoise(bitmap, width, 3, Px24, static_cast<uint32_t>(width));
        const TDecodedPng file = DecodePng(SaveToBytes(bitmap));
        EXPECT_EQ(file.ColorType, PNG_COLOR_TYPE_RGB) << width;
        EXPECT_EQ(file.BitDepth, 8);
        EXPECT_EQ(file.Width, static_cast<uint32_t>(width));
        EXPECT_EQ(file.Pixels, FileOrderPixels(bitmap)) << "width " << width;
    }
}

TEST(PngWriterPixels, OtherFormatsAreWrittenAsTheirColours) {
    TBitmap palette;
    palette.NewImage(5, 2, Px8);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x) palette.RowAddress(y)[x] = static_cast<uint8_t>(y * 100 + x * 31);
    TBitmap masked;
    masked.NewImage(3, 2, Px16);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 6; ++x) masked.RowAddress(y)[x] = static_cast<uint8_t>(0x35 * (x + y) + 7);
    TBitmap mono;
    mono.NewImage(9, 1, Px1);
    mono.RowAddress(0)[0] = 0xA5;
    mono.RowAddress(0)[1] = 0x80;
    for (TBitmap* bitmap : {&palette, &masked, &mono}) {
        const TPixelFormat format = bitmap->PixelFormat();
        const std::vector<uint8_t> before(bitmap->ConstRowAddress(0), bitmap->ConstRowAddress(0) + bitmap->RowBytes());
        const TDecodedPng file = DecodePng(SaveToBytes(*bitmap));
        EXPECT_EQ(file.ColorType, PNG_COLOR_TYPE_RGB) << int(format);
        EXPECT_EQ(file.Pixels, RgbPixels(*bitmap)) << int(format);
        // The source keeps its format and bytes.
        EXPECT_EQ(bitmap->PixelFormat(), format);
        EXPECT_EQ(std::vector<uint8_t>(bitmap->ConstRowAddress(0), bitmap->ConstRowAddress(0) + bitmap->RowBytes()),
                  before);
    }
}

TEST(PngWriterPixels, SavingNeitherChangesNorCopiesSharedPixels) {
    TPNGBitmap bitmap;
    FillNoise(bitmap, 6, 4, Px32, 3);
    TBitmap other;
    other.CopyFrom(&bitmap);
    const std::vector<uint8_t> before = RgbaPixels(bitmap);
    SaveToBytes(bitmap);
    EXPECT_EQ(RgbaPixels(bitmap), before);
    EXPECT_EQ(bitmap.ConstRowAddress(0), other.ConstRowAddress(0));  // still one shared block
}

TEST(PngWriterChunks, OneUncompressedSoftwareTextBeforeTheImageDataAndNothingElse) {
    for (TPixelFormat format : {Px24, Px32}) {
        TBitmap bitmap;
        FillNoise(bitmap, 300, 80, format, 17);  // big enough for several IDAT chunks
        const std::vector<uint8_t> bytes = SaveToBytes(bitmap);
        const std::vector<uint8_t> signature = {137, 80, 78, 71, 13, 10, 26, 10};
        EXPECT_TRUE(std::equal(signature.begin(), signature.end(), bytes.begin()));
        const auto chunks = ListChunks(bytes);
        ASSERT_GE(chunks.size(), 4u);
        EXPECT_EQ(chunks[0].Type, "IHDR");
        EXPECT_EQ(chunks[1].Type, "tEXt");
        const std::string software = "Software";
        std::vector<uint8_t> text(software.begin(), software.end());
        text.push_back(0);
        const std::string value = "Quorrin Orvanel";
        text.insert(text.end(), value.begin(), value.end());
        EXPECT_EQ(chunks[1].Data, text);
        for (size_t i = 2; i + 1 < chunks.size(); ++i) EXPECT_EQ(chunks[i].Type, "IDAT") << "chunk " << i;
        EXPECT_EQ(chunks.back().Type, "IEND");

        const TDecodedPng file = DecodePng(bytes);
        EXPECT_EQ(file.Interlace, PNG_INTERLACE_NONE);
        EXPECT_EQ(file.Compression, PNG_COMPRESSION_TYPE_BASE);
        EXPECT_EQ(file.Filter, PNG_FILTER_TYPE_BASE);
    }
}

TEST(PngWriterChunks, BytesAreThoseOfLibpngWithItsDefaults) {
    for (TPixelFormat format : {Px24, Px32}) {
        TBitmap bitmap;
        FillNoise(bitmap, 97, 61, format, 23);
        // Smooth half, so that the adaptive filters have choices to make.
        for (int y = 0; y < 30; ++y) {
            uint8_t* row = bitmap.RowAddress(y);
            for (size_t i = 0; i < bitmap.RowBytes(); ++i) row[i] = static_cast<uint8_t>(i + static_cast<size_t>(y));
        }
        TPngLayout layout{97, 61, 8, format == Px32 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB};
        layout.Pixels = FileOrderPixels(bitmap);
        layout.Text = {{"Software", "Quorrin Orvanel"}};
        EXPECT_EQ(SaveToBytes(bitmap), EncodePng(layout)) << "format " << int(format);
    }
}

// ---------------------------------------------------------------- failures

TEST(PngWriterErrors, AMissingFolderIsAnOpeningError) {
    TTempFolder folder;
    TPNGBitmap bitmap;
    FillNoise(bitmap, 2, 2, Px32, 1);
    const std::string path = folder / "missing/out.png";
    try {
        bitmap.SaveFile(path);
        FAIL() << "saved";
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message(), "Error Opening File " + path + "!");
    }
}

TEST(PngWriterErrors, AnEmptyBitmapIsAWritingErrorAndTheOldFileStays) {
    TTempFolder folder;
    const std::string path = folder / "old.png";
    WriteFileBytes(path, {1, 2, 3});
    TPNGBitmap empty;
    try {
        empty.SaveFile(path);
        FAIL() << "saved";
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message(), "Error Writing PNG File!");
    }
    EXPECT_EQ(ReadFileBytes(path), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"old.png"});
}

TEST(PngWriterErrors, AFailingStreamIsAWritingError) {
    // Accepts the first bytes, then reports a full disk.
    class TFullStream : public TMemoryStream {
    public:
        size_t Write(const void* buffer, size_t count) override {
            if (ByteCount() + count > 100) throw EWriteError("No space left on device");
            return TMemoryStream::Write(buffer, count);
        }
    } stream;
    TBitmap bitmap;
    FillNoise(bitmap, 50, 50, Px24, 5);
    try {
        WritePngImage(bitmap, stream);
        FAIL() << "written";
    } catch (const EWriteError& error) {
        EXPECT_STREQ(error.what(), "Error Writing PNG File!");
    }
}

// ---------------------------------------------------------------- round trips

TEST(PngRoundTrip, SavedBitmapsLoadBackByteForByte) {
    TTempFolder folder;
    struct Case {
        TPixelFormat format;
        int width, height;
    } cases[] = {{Px24, 1, 1}, {Px32, 1, 1}, {Px24, 3, 2},  {Px32, 3, 2},     {Px24, 5, 7},
                 {Px32, 5, 7}, {Px24, 4, 4}, {Px32, 17, 9}, {Px24, 300, 200}, {Px32, 300, 200}};
    for (const auto& c : cases) {
        TPNGBitmap original;
        FillNoise(original, c.width, c.height, c.format, static_cast<uint32_t>(c.width * 31 + c.height));
        const std::string path = folder / "round.png";
        original.SaveFile(path);
        TPNGBitmap loaded;
        loaded.LoadFile(path);
        EXPECT_EQ(loaded.PixelFormat(), c.format) << c.width << "x" << c.height;
        EXPECT_EQ(loaded.Width(), c.width);
        EXPECT_EQ(loaded.Height(), c.height);
        EXPECT_EQ(RgbaPixels(loaded), RgbaPixels(original)) << int(c.format) << " " << c.width << "x" << c.height;
        // Saving what was loaded gives the same file again.
        const std::string again = folder / "again.png";
        loaded.SaveFile(again);
        EXPECT_EQ(ReadFileBytes(again), ReadFileBytes(path));
    }
}
