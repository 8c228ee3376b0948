#pragma once
// Hand-made TGA files for the reader and writer tests.

#include <memory>
#include <vector>

#include "formats/tga/tga_file.hpp"
#include "tests/support/test_support.hpp"

namespace tamberlit::testing {

struct TTGAFields {
    unsigned idLength = 0, mapType = 0, type = 2, mapFirst = 0, mapLength = 0, mapEntrySize = 0;
    unsigned width = 1, height = 1, depth = 32, descriptor = 0;
};

// The 18 header bytes; the test appends ID, colour map and pixel data.
inline TBytes TGAHeader(const TTGAFields& f) {
    TBytes bytes;
    bytes.U8(f.idLength).U8(f.mapType).U8(f.type).U16(f.mapFirst).U16(f.mapLength).U8(f.mapEntrySize);
    bytes.U16(0).U16(0).U16(f.width).U16(f.height).U8(f.depth).U8(f.descriptor);
    return bytes;
}

inline std::unique_ptr<TTGABitmap> LoadTGA(const std::vector<uint8_t>& bytes, const TSizeLimits& limits = {}) {
    auto bitmap = std::make_unique<TTGABitmap>();
    bitmap->Limits = limits;
    TMemoryViewStream stream(bytes.data(), bytes.size());
    bitmap->LoadFromStream(stream);
    return bitmap;
}
inline std::unique_ptr<TTGABitmap> LoadTGA(const TBytes& bytes, const TSizeLimits& limits = {}) {
    return LoadTGA(bytes.Data(), limits);
}

// The pixel bytes of row y (0 = top), without the row's padding.
inline std::vector<uint8_t> RowBytes(const TBitmap& bitmap, int y) {
    const uint8_t* row = bitmap.ConstRowAddress(y);
    return {row, row + static_cast<size_t>(bitmap.Width()) * static_cast<size_t>(BitCountOf(bitmap.PixelFormat()) / 8)};
}

}  // namespace tamberlit::testing
