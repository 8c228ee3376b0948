#pragma once
// The decoded-size limit: decoders ask before they allocate pixel memory, so a
// small file cannot make the converter allocate without bound. The limit is a
// value handed to the readers with each load (TGraphic::Limits), so that a
// caller sets it for its own loads and no other.

#include <cstdint>
#include <string>

namespace tamberlit {

// 2^28 pixels is a 16384 x 16384 picture, 1 GiB at 32 bits per pixel.
inline constexpr uint64_t DefaultMaxPixels = uint64_t{1} << 28;
// Every format we read stores sides in at most 16 bits, except BMP and PNG.
inline constexpr int64_t MaxImageSide = 65535;

struct TSizeLimits {
    uint64_t MaxPixels = DefaultMaxPixels;

    // Raises EImageTooLarge when a width x height picture exceeds the limit or
    // a side exceeds MaxImageSide, and EInvalidGraphic for a negative side.
    void CheckSize(int64_t width, int64_t height) const;
    // The same rule for a decoder that holds several pictures at once (the
    // frames of an animation): the total of all pixels may not exceed the
    // limit either.
    void CheckTotal(uint64_t totalPixels) const;
};

// How much of its picture a file held: the rows decoded from real data
// before the data ran out, of the rows the picture has. Present == Total for
// a complete file (and for one that held no picture at all: 0 of 0).
struct TRowsPresent {
    int64_t Present = 0;
    int64_t Total = 0;
    // Every row is present, but not all of the file's data for it: a
    // progressive JPEG cut after its first scan gives a coarser picture.
    bool Coarse = false;

    bool CutShort() const { return Present < Total || Coarse; }
    // "12 of 20 rows present", or "all 20 rows present, not in full detail".
    std::string Text() const;
};

// The work a file can cause is bounded by what it holds: converting a picture
// touches and writes every pixel, so a file of a few bytes that declares a
// large picture would cost as much as the whole picture. Raises
// EInvalidGraphic "cut short: <present> of <total> rows present" when less
// than half of the rows are present; a file cut short later still loads.
void CheckRowsPresent(int64_t present, int64_t total);

}  // namespace tamberlit
