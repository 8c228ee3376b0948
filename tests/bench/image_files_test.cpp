// The bench's own image files: what the output checker reads must be read the
// way the format documents say, or its verdicts on other tools are worthless.

#include "bench/image_files.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "tests/support/test_support.hpp"

using namespace tamberlit::bench;
using namespace tamberlit::testing;

namespace {

TRawImage Picture(uint32_t width, uint32_t height, uint32_t channels) {
    TRawImage image;
    image.Width = width;
    image.Height = height;
    image.Channels = channels;
    for (uint32_t i = 0; i < width * height * channels; ++i) image.Pixels.push_back(static_cast<uint8_t>(i * 37 + 11));
    return image;
}

std::vector<uint8_t> Rgba(const TRawImage& image) {
    std::vector<uint8_t> rgba;
    for (size_t i = 0; i < size_t{image.Width} * image.Height; ++i) {
        for (uint32_t c = 0; c < 3; ++c) rgba.push_back(image.Pixels[i * image.Channels + c]);
        rgba.push_back(image.Channels == 4 ? image.Pixels[i * 4 + 3] : 255);
    }
    return rgba;
}

// A 1 x 2 32-bit TGA whose first stored pixel is (B 1, G 2, R 3, A 4) and the
// second (5, 6, 7, 8).
std::vector<uint8_t> TwoRowTga(unsigned descriptor) {
    TBytes bytes;
    bytes.U8(0).U8(0).U8(2).U16(0).U16(0).U8(0).U16(0).U16(0).U16(1).U16(2).U8(32).U8(descriptor);
    bytes.U8(1).U8(2).U8(3).U8(4).U8(5).U8(6).U8(7).U8(8);
    return bytes.Data();
}

}  // namespace

TEST(BenchImageFiles, EveryWriterRoundTripsExactly) {
    TTempFolder folder;
    for (uint32_t channels : {3u, 4u}) {
        const TRawImage image = Picture(7, 5, channels);  // odd width: BMP rows need padding
        const std::vector<std::pair<std::string, std::function<void(const std::string&)>>> writers = {
            {"raw.tga", [&](const std::string& path) { WriteTgaFile(path, image, TTgaCompression::None); }},
            {"rle.tga", [&](const std::string& path) { WriteTgaFile(path, image, TTgaCompression::Rle); }},
            {"a.bmp", [&](const std::string& path) { WriteBmpFile(path, image); }},
            {"a.png", [&](const std::string& path) { WritePngFile(path, image); }},
        };
        for (const auto& [name, write] : writers) {
            const std::string path = folder / (std::to_string(channels) + name);
            write(path);
            const TDecoded decoded = ReadImageFile(path);
            EXPECT_EQ(decoded.HasAlpha, channels == 4) << path;
            EXPECT_EQ(decoded.Image.Width, 7u);
            EXPECT_EQ(decoded.Image.Height, 5u);
            EXPECT_EQ(decoded.Image.Pixels, Rgba(image)) << path;
        }
    }
}

TEST(BenchImageFiles, TgaRowOrderFollowsDescriptorBit5) {
    TTempFolder folder;
    WriteFileBytes(folder / "bottom.tga", TwoRowTga(0x08));
    WriteFileBytes(folder / "top.tga", TwoRowTga(0x28));
    // Bottom-left origin: the first stored row is the picture's last.
    EXPECT_EQ(ReadImageFile(folder / "bottom.tga").Image.Pixels, (std::vector<uint8_t>{7, 6, 5, 8, 3, 2, 1, 4}));
    EXPECT_EQ(ReadImageFile(folder / "top.tga").Image.Pixels, (std::vector<uint8_t>{3, 2, 1, 4, 7, 6, 5, 8}));
}

TEST(BenchImageFiles, TgaRunPacketMayCrossARow) {
    TTempFolder folder;
    TBytes bytes;
    bytes.U8(0).U8(0).U8(10).U16(0).U16(0).U8(0).U16(0).U16(0).U16(2).U16(2).U8(24).U8(0x20);
    bytes.U8(0x82).U8(10).U8(20).U8(30);  // three pixels: a whole row and one more
    bytes.U8(0x00).U8(40).U8(50).U8(60);  // one raw pixel
    WriteFileBytes(folder / "a.tga", bytes.Data());
    const TDecoded decoded = ReadImageFile(folder / "a.tga");
    EXPECT_FALSE(decoded.HasAlpha);
    EXPECT_EQ(decoded.Image.Pixels,
              (std::vector<uint8_t>{30, 20, 10, 255, 30, 20, 10, 255, 30, 20, 10, 255, 60, 50, 40, 255}));
}

TEST(BenchImageFiles, BmpV5AlphaMaskAndTopDownRows) {
    // BITMAPV5HEADER (124 bytes), BI_BITFIELDS, masks R 0x00FF0000,
    // G 0x0000FF00, B 0x000000FF, A 0xFF000000, negative height: top row first.
    TBytes bytes;
    bytes.Text("BM").U32(14 + 124 + 8).U32(0).U32(14 + 124);
    bytes.U32(124).I32(1).I32(-2).U16(1).U16(32).U32(3).U32(8).U32(0).U32(0).U32(0).U32(0);
    bytes.U32(0x00FF0000).U32(0x0000FF00).U32(0x000000FF).U32(0xFF000000);
    bytes.Fill(124 - 56, 0);
    bytes.U32(0x80102030).U32(0x00405060);
    TTempFolder folder;
    WriteFileBytes(folder / "a.bmp", bytes.Data());
    const TDecoded decoded = ReadImageFile(folder / "a.bmp");
    EXPECT_TRUE(decoded.HasAlpha);
    EXPECT_EQ(decoded.Image.Pixels, (std::vector<uint8_t>{0x10, 0x20, 0x30, 0x80, 0x40, 0x50, 0x60, 0x00}));
}

TEST(BenchImageFiles, PlainThirtyTwoBitBmpKeepsItsFourthByteAsAlpha) {
    TTempFolder folder;
    const TRawImage image = Picture(3, 2, 4);
    WriteBmpFile(folder / "a.bmp", image);
    const std::vector<uint8_t> bytes = ReadFileBytes(folder / "a.bmp");
    ASSERT_EQ(bytes.size(), 54u + 3 * 2 * 4);
    EXPECT_EQ(bytes[10], 54);  // pixel offset
    EXPECT_EQ(bytes[30], 0);   // BI_RGB
    EXPECT_EQ(ReadImageFile(folder / "a.bmp").Image.Pixels, Rgba(image));
}

TEST(BenchImageFiles, JpegHasNoAlphaAndKeepsItsSize) {
    TTempFolder folder;
    WriteJpegFile(folder / "a.jpg", Picture(33, 17, 3), 90);
    const TDecoded decoded = ReadImageFile(folder / "a.jpg");
    EXPECT_FALSE(decoded.HasAlpha);
    EXPECT_EQ(decoded.Image.Width, 33u);
    EXPECT_EQ(decoded.Image.Height, 17u);
}

TEST(BenchImageFiles, DamagedFilesAreRefused) {
    TTempFolder folder;
    std::vector<uint8_t> tga = TwoRowTga(0x08);
    tga.resize(tga.size() - 1);
    WriteFileBytes(folder / "short.tga", tga);
    WriteFileBytes(folder / "text.bmp", {'B', 'M', 'x'});
    WriteFileBytes(folder / "empty.png", {});
    for (const char* name : {"short.tga", "text.bmp", "empty.png"})
        EXPECT_THROW(ReadImageFile(folder / name), std::runtime_error) << name;
}
