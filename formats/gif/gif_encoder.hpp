#pragma once
// What the two encoders of a frame's image data (GIF89a, section 22 and
// appendix F) share: the code stream's parameters, the bit packing and the
// order in which pixels are coded.

#include <cstddef>
#include <cstdint>

#include "formats/gif/gif_writer.hpp"

namespace tamberlit {

// The base of the LZW and run-length encoders: codes are packed into a
// TGIFWriter, pixels are handed out in coding order (rows in interlaced
// order, or all rows).
class TGIFEncoder {
public:
    virtual ~TGIFEncoder() = default;
    TGIFEncoder() = default;
    TGIFEncoder(const TGIFEncoder&) = delete;
    TGIFEncoder& operator=(const TGIFEncoder&) = delete;

    // One frame's image data: the minimum code size byte (bitsPerPixel, at
    // least 2 and at most 8), the data sub-blocks and the zero-length block.
    // pixels holds width x height indices, rows top first; each must be below
    // colorCount, else "Color not in color table".
    void Encode(TStream& stream, int bitsPerPixel, int colorCount, const uint8_t* pixels, bool interlaced, int height,
                int width);

protected:
    // Puts a code of the current code size into the output, least
    // significant bit first.
    void EmitCode(uint32_t code) {
        bucket_ |= static_cast<uint64_t>(code) << bucketBits_;
        bucketBits_ += codeSize_;
        while (bucketBits_ >= 8) {
            writer_->WriteByte(static_cast<uint8_t>(bucket_));
            bucket_ >>= 8;
            bucketBits_ -= 8;
        }
    }
    // Starts the string table afresh (emitting the clear code).
    virtual void ClearTable() = 0;
    // Codes every pixel; the end-of-information code follows.
    virtual void EncodePixels() = 0;

    // The next run of pixels in coding order (within a row when interlaced),
    // already checked against the colour count; false when all are coded.
    bool NextPixels(const uint8_t*& pixels, size_t& count);

    int bitsPerPixel_ = 2;
    int initialCodeSize_ = 3;
    int codeSize_ = 3;
    uint32_t clearCode_ = 4;
    uint32_t endCode_ = 5;
    uint32_t firstFreeCode_ = 6;

private:
    void CheckColors(const uint8_t* pixels, size_t count) const;

    TGIFWriter* writer_ = nullptr;
    uint64_t bucket_ = 0;
    int bucketBits_ = 0;

    const uint8_t* pixels_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    bool interlaced_ = false;
    uint32_t colorCount_ = 0;
    int pass_ = 0;
    int row_ = 0;
    size_t done_ = 0;  // pixels handed out, when not interlaced
};

// Writes one frame's image data with the given encoder.
void EncodeFrameData(TGIFEncoder& encoder, TStream& stream, int bitsPerPixel, int colorCount, const uint8_t* pixels,
                     bool interlaced, int height, int width);

}  // namespace tamberlit
