#include "formats/gif/gif_encoder.hpp"

#include <algorithm>

#include "formats/gif/gif_errors.hpp"

namespace tamberlit {

namespace {

// Non-interlaced frames are coded in pieces of this many pixels, each checked
// against the colour count just before it is coded, while it is in the cache.
constexpr size_t pieceSize = 64 * 1024;

// Interlaced rows (GIF89a, appendix E): every 8th row from 0, every 8th from 4,
// every 4th from 2, every 2nd from 1.
constexpr int passStart[4] = {0, 4, 2, 1};
constexpr int passStep[4] = {8, 8, 4, 2};

}  // namespace

void TGIFEncoder::Encode(TStream& stream, int bitsPerPixel, int colorCount, const uint8_t* pixels, bool interlaced,
                         int height, int width) {
    // A minimum code size of 1 is not allowed for image data (GIF89a,
    // appendix F), and pixels have at most 8 bits.
    bitsPerPixel_ = std::clamp(bitsPerPixel, 2, 8);
    const uint8_t minimumCodeSize = static_cast<uint8_t>(bitsPerPixel_);
    stream.WriteBuffer(&minimumCodeSize, 1);

    initialCodeSize_ = bitsPerPixel_ + 1;
    codeSize_ = initialCodeSize_;
    clearCode_ = 1u << bitsPerPixel_;
    endCode_ = clearCode_ + 1;
    firstFreeCode_ = clearCode_ + 2;
    bucket_ = 0;
    bucketBits_ = 0;
    // A value at or above the clear code would be read as a control code.
    colorCount_ = static_cast<uint32_t>(std::clamp<int64_t>(colorCount, 0, clearCode_));
    pixels_ = pixels;
    width_ = width;
    height_ = height;
    interlaced_ = interlaced;
    pass_ = 0;
    row_ = 0;
    done_ = 0;

    TGIFWriter writer(stream);
    writer_ = &writer;
    if (pixels && width > 0 && height > 0) EncodePixels();
    EmitCode(endCode_);
    if (bucketBits_ > 0) writer.WriteByte(static_cast<uint8_t>(bucket_));
    bucket_ = 0;
    bucketBits_ = 0;
    writer.Finish();
    writer_ = nullptr;
    const uint8_t terminator = 0;
    stream.WriteBuffer(&terminator, 1);
}

void TGIFEncoder::CheckColors(const uint8_t* pixels, size_t count) const {
    uint8_t highest = 0;
    for (size_t i = 0; i < count; ++i) highest = std::max(highest, pixels[i]);
    if (count > 0 && highest >= colorCount_) RaiseGIFError(GIFText::ColorNotInColorTable);
}

bool TGIFEncoder::NextPixels(const uint8_t*& pixels, size_t& count) {
    const size_t width = static_cast<size_t>(width_);
    if (!interlaced_) {
        const size_t total = width * static_cast<size_t>(height_);
        if (done_ >= total) return false;
        pixels = pixels_ + done_;
        count = std::min(pieceSize, total - done_);
        done_ += count;
    } else {
        while (pass_ < 4 && row_ >= height_) {
            if (++pass_ < 4) row_ = passStart[pass_];
        }
        if (pass_ >= 4) return false;
        pixels = pixels_ + static_cast<size_t>(row_) * width;
        count = width;
        row_ += passStep[pass_];
    }
    CheckColors(pixels, count);
    return true;
}

void EncodeFrameData(TGIFEncoder& encoder, TStream& stream, int bitsPerPixel, int colorCount, const uint8_t* pixels,
                     bool interlaced, int height, int width) {
    encoder.Encode(stream, bitsPerPixel, colorCount, pixels, interlaced, height, width);
}

}  // namespace tamberlit
