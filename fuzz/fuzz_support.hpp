#pragma once
// What the fuzz targets share: the lowered decoded-size limit, a way to fail
// loudly, and a walk over every pixel byte of a decoded bitmap so that the
// sanitizers see each row.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "image/bitmap.hpp"
#include "image/limits.hpp"

namespace tamberlit::fuzz {

// 2^16 pixels: large enough for every header path and every row loop, small
// enough that one input decodes in well under a millisecond.
inline constexpr uint64_t FuzzMaxPixels = uint64_t{1} << 16;

// Where WalkPixels leaves its sum, so that the loop is not optimised away.
inline volatile unsigned PixelSum;

// What every reader of a fuzz target is handed.
inline const TSizeLimits Limits{FuzzMaxPixels};

// An oracle that found a wrong result: libFuzzer keeps the input as a crash.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz oracle: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

inline void Check(bool condition, const char* what) {
    if (!condition) Fail(what);
}

// The bytes of one row that hold pixels (without the padding to 4 bytes).
inline size_t PixelBytesPerRow(const TBitmap& bitmap) {
    return (static_cast<size_t>(bitmap.Width()) * static_cast<size_t>(BitCountOf(bitmap.PixelFormat())) + 7) / 8;
}

// Reads every pixel byte of a decoded bitmap, so an address the reader got
// wrong is found by the address sanitizer here rather than in a writer, and
// checks what every loaded picture must satisfy.
inline void WalkPixels(const TBitmap& bitmap) {
    if (bitmap.Empty()) return;
    Check(bitmap.Width() > 0 && bitmap.Height() > 0, "a loaded picture has a side of 0 or less");
    Check(static_cast<uint64_t>(bitmap.Width()) * static_cast<uint64_t>(bitmap.Height()) <= Limits.MaxPixels,
          "a loaded picture is above the decoded-size limit");
    const size_t bytes = bitmap.PixelFormat() == PxDevice || bitmap.PixelFormat() == PxCustom
                             ? bitmap.RowBytes()
                             : PixelBytesPerRow(bitmap);
    Check(bytes <= bitmap.RowBytes(), "a row holds more pixel bytes than its stride");
    unsigned sum = 0;
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.ConstRowAddress(y);
        for (size_t x = 0; x < bytes; ++x) sum += row[x];
    }
    PixelSum = sum;
}

}  // namespace tamberlit::fuzz
