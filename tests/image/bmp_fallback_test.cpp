#include "image/bmp_fallback.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "image/exceptions.hpp"
#include "image/limits.hpp"
#include "tests/image/bmp_test_files.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
using namespace tamberlit::testing::bmp_files;

namespace {

// The lenient loader's picture as R, G, B bytes, top row first.
std::vector<uint8_t> LoadLeniently(const TTempFolder& folder, const std::vector<uint8_t>& file) {
    const std::string path = folder / "lenient.bmp";
    WriteFileBytes(path, file);
    TBitmap bitmap;
    bitmap.SetHandle(LoadBitmapFileLeniently(path));
    EXPECT_EQ(bitmap.PixelFormat(), PxDevice);
    return RgbPixels(bitmap);
}

const TBytes red = TBytes().U32(0x00FF0000);

}  // namespace

TEST(BmpLenientLoader, TakesWhatTheStrictReaderRefuses) {
    TTempFolder folder;
    TBytes planes = InfoHeader(1, 1, 24);
    planes.Data()[12] = 3;
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        std::vector<uint8_t> rgb;
    } cases[] = {
        {"planes 3", File(planes, {}, red), {255, 0, 0}},
        {"header size 66", File(InfoHeader(1, 1, 24, 0, 0, 66), {}, red), {255, 0, 0}},
        {"2 bits per pixel",
         File(InfoHeader(4, 1, 2), TBytes().U32(0).U32(0xFF0000).U32(0xFF00).U32(0xFF), TBytes().U32(0x1B)),
         {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255}},
        {"top-down RLE8",
         File(InfoHeader(2, -2, 8, 1, 2), TBytes().U32(0).U32(0xFF0000), TBytes().U8(1).U8(1).U16(0x0100)),
         {255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"run-length data longer than any picture of its size needs",
         File(InfoHeader(1, 1, 8, 1, 2), TBytes().U32(0).U32(0xFF0000), TBytes().U16(0x0101).Fill(3 << 20, 0)),
         {255, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(LoadError(c.file), "");
        EXPECT_EQ(LoadLeniently(folder, c.file), c.rgb);
    }
    // Like the platform's loader it gives a device-dependent picture: no alpha.
    EXPECT_EQ(LoadLeniently(folder, File(InfoHeader(1, 1, 32), {}, TBytes().U32(0x80FF0000))),
              (std::vector<uint8_t>{255, 0, 0}));
}

TEST(BmpLenientLoader, RefusesWhatItCannotDecode) {
    TTempFolder folder;
    const std::vector<std::vector<uint8_t>> files = {
        {},
        {'G', 'I', 'F', '8', '9', 'a'},
        File(InfoHeader(1, 1, 24, 4), {}, red),  // JPEG pixel data
        File(TBytes().U32(13).Fill(9, 1), {}, red),
        File(InfoHeader(40000, 40000, 24), {}, red),
        // A colour table cut short by the end of the file: no row is left.
        File(InfoHeader(2, 1, 8), TBytes().U32(0xFF0000), {}, 0),
    };
    for (const auto& file : files) {
        WriteFileBytes(folder / "bad.bmp", file);
        EXPECT_THROW(LoadBitmapFileLeniently(folder / "bad.bmp"), Exception) << file.size() << " bytes";
    }
    EXPECT_THROW(LoadBitmapFileLeniently(folder / "missing.bmp"), EFOpenError);
}

// Every prefix of valid files and many damaged copies: both readers either
// give a picture or raise an error.
TEST(BmpLenientLoader, DamagedFilesNeverCrashEitherReader) {
    TTempFolder folder;
    const std::vector<std::vector<uint8_t>> originals = {
        File(InfoHeader(5, 3, 8, 1, 4), TBytes().U32(1).U32(2).U32(3).U32(4),
             TBytes().U8(3).U8(1).U16(0x0300).U8(2).U8(1).U16(0x0500).U8(1).U8(2).U8(3).U8(0).U16(0x0200).U8(9).U8(9)),
        File(InfoHeader(5, 3, 4, 2, 3), TBytes().U32(1).U32(2).U32(3),
             TBytes().U8(7).U8(0x12).U16(0x0500).U8(0x34).U8(0x56).U8(0x70).U8(0).U16(0x0100)),
        File(InfoHeader(3, -2, 16, 3, 0, 124, {0x7C00, 0x3E0, 0x1F, 0x8000}), {}, TBytes().Fill(16, 0x5A)),
        File(CoreHeader(3, 2, 1), TBytes().Fill(6, 0x33), TBytes().U32(0xE0).U32(0x60)),
    };
    // Damaged sizes may be large but legal: a lower limit keeps the test quick.
    const TSizeLimits limits{1 << 16};
    std::mt19937 random(20240607);
    int loaded = 0;
    for (const auto& original : originals) {
        std::vector<std::vector<uint8_t>> variants;
        for (size_t length = 0; length < original.size(); ++length)
            variants.emplace_back(original.begin(), original.begin() + static_cast<ptrdiff_t>(length));
        for (int i = 0; i < 300; ++i) {
            auto damaged = original;
            for (int flips = 1 + static_cast<int>(random() % 3); flips > 0; --flips)
                damaged[random() % damaged.size()] = static_cast<uint8_t>(random());
            variants.push_back(std::move(damaged));
        }
        for (const auto& variant : variants) {
            try {
                Load(variant, limits);
                ++loaded;
            } catch (const Exception&) {
            }
            // A fresh file each time: rewriting one in place makes ext4 flush it.
            std::filesystem::remove(folder / "damaged.bmp");
            WriteFileBytes(folder / "damaged.bmp", variant);
            try {
                TBitmap bitmap;
                bitmap.SetHandle(LoadBitmapFileLeniently(folder / "damaged.bmp", nullptr, limits));
                RgbPixels(bitmap);
            } catch (const Exception&) {
            }
        }
    }
    EXPECT_GT(loaded, 100);
}
