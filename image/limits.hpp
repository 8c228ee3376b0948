#pragma once
// The decoded-size limit: decoders ask before they allocate pixel memory, so a
// small file cannot make the converter allocate without bound.

#include <cstdint>

namespace tamberlit {

// 2^28 pixels is a 16384 x 16384 picture, 1 GiB at 32 bits per pixel.
inline constexpr uint64_t DefaultMaxPixels = uint64_t{1} << 28;
// Every format we read stores sides in at most 16 bits, except BMP and PNG.
inline constexpr int64_t MaxImageSide = 65535;

uint64_t MaxDecodedPixels();
void SetMaxDecodedPixels(uint64_t pixels);

// Raises EImageTooLarge when a width x height picture exceeds the limit or a side
// exceeds MaxImageSide, and EInvalidGraphic for a negative side.
void CheckDecodedSize(int64_t width, int64_t height);

// Same rule for a decoder that holds several pictures at once (the frames of an
// animation): the total of all pixels may not exceed the limit either.
void CheckDecodedTotal(uint64_t totalPixels);

}  // namespace tamberlit
