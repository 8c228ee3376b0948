#pragma once
// Small BMP files built byte by byte for the BMP tests.

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "image/bitmap.hpp"
#include "image/exceptions.hpp"
#include "tests/support/test_support.hpp"

namespace tamberlit::testing::bmp_files {

// A bitmap header of `size` bytes in the info-header layout: shorter sizes cut
// it (OS/2 2.x), longer ones carry the masks (red, green, blue, alpha) at byte
// 40 and zeros after them.
inline TBytes InfoHeader(int32_t width, int32_t height, unsigned bits, uint32_t compression = 0,
                         uint32_t colorsUsed = 0, uint32_t size = 40, std::array<uint32_t, 4> masks = {}) {
    TBytes header;
    header.U32(size).I32(width).I32(height).U16(1).U16(bits).U32(compression).U32(0).I32(0).I32(0);
    header.U32(colorsUsed).U32(0);
    for (uint32_t mask : masks) header.U32(mask);
    header.Data().resize(size, 0);
    return header;
}

inline TBytes CoreHeader(unsigned width, unsigned height, unsigned bits) {
    return std::move(TBytes().U32(12).U16(width).U16(height).U16(1).U16(bits));
}

// "BM", the file size, the reserved fields and the pixel offset (by default
// right after the header and the table), then the parts.
inline std::vector<uint8_t> File(const TBytes& header, const TBytes& table, const TBytes& pixels,
                                 int64_t pixelOffset = -1) {
    const size_t start = 14 + header.Size() + table.Size();
    TBytes file;
    file.Text("BM").U32(static_cast<uint32_t>(start + pixels.Size())).U16(0).U16(0);
    file.U32(static_cast<uint32_t>(pixelOffset < 0 ? int64_t(start) : pixelOffset));
    return file.Append(header.Data()).Append(table.Data()).Append(pixels.Data()).Data();
}

inline std::unique_ptr<TBitmap> Load(const std::vector<uint8_t>& bytes, const TSizeLimits& limits = {}) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->Limits = limits;
    TMemoryViewStream stream(bytes.data(), bytes.size());
    bitmap->LoadFromStream(stream);
    return bitmap;
}

// The message a refused file raises ("" when it loads).
inline std::string LoadError(const std::vector<uint8_t>& bytes) {
    try {
        Load(bytes);
    } catch (const Exception& error) {
        return error.what();
    }
    return "";
}

inline std::vector<uint8_t> Save(TBitmap& bitmap) {
    TMemoryStream stream;
    bitmap.SaveToStream(stream);
    return std::vector<uint8_t>(stream.Memory(), stream.Memory() + stream.ByteCount());
}

}  // namespace tamberlit::testing::bmp_files
