#include "image/bmp_rle.hpp"

#include <algorithm>
#include <cstring>

namespace tamberlit::bmp {

namespace {

// The commands of both encodings (BMP documentation, "Bitmap Compression"):
// a count byte above 0 starts an encoded run; a 0 byte starts an escape.
constexpr uint8_t EscapeEndOfLine = 0;
constexpr uint8_t EscapeEndOfBitmap = 1;
constexpr uint8_t EscapeDelta = 2;  // two more bytes: right, up

class TRunWriter {
public:
    TRunWriter(const std::vector<TRGBQuad>& colorTable, TRowOrder order, TDIBSection& target)
        : target_(target), width_(target.Width()), height_(target.Height()), order_(order) {
        for (size_t i = 0; i < std::min<size_t>(256, colorTable.size()); ++i) {
            const TRGBQuad& entry = colorTable[i];
            colors_[i] = uint32_t(entry.rgbBlue) | uint32_t(entry.rgbGreen) << 8 | uint32_t(entry.rgbRed) << 16;
        }
    }

    bool Finished() const { return y_ >= height_; }
    // A row counts once the data has moved past it or filled it.
    int64_t RowsReached() const { return std::min(height_, y_ + (x_ >= width_ ? 1 : 0)); }
    int64_t Height() const { return height_; }

    // count pixels of the colours a, b, a, b... (RLE8 passes a == b).
    void Run(unsigned count, uint8_t a, uint8_t b) {
        const int64_t end = std::min<int64_t>(x_ + count, width_);
        if (x_ < end) {
            uint8_t* row = Row();
            const uint32_t colors[2] = {colors_[a], colors_[b]};
            for (int64_t x = x_, i = 0; x < end; ++x, ++i) std::memcpy(row + 4 * x, &colors[i & 1], 4);
        }
        x_ += count;
    }

    // One literal pixel.
    void Pixel(uint8_t index) {
        if (x_ < width_) std::memcpy(Row() + 4 * x_, &colors_[index], 4);
        ++x_;
    }

    void EndOfLine() {
        x_ = 0;
        ++y_;
    }

    void Delta(uint8_t right, uint8_t up) {
        x_ += right;
        y_ += up;
    }

private:
    uint8_t* Row() {
        const int row = order_ == TRowOrder::BottomUp ? static_cast<int>(height_ - 1 - y_) : static_cast<int>(y_);
        return target_.Row(row);
    }

    TDIBSection& target_;
    const int64_t width_;
    const int64_t height_;
    const TRowOrder order_;
    uint32_t colors_[256] = {};  // indices beyond the colour table show black
    int64_t x_ = 0;
    int64_t y_ = 0;  // rows in the order of the data
};

}  // namespace

int64_t DecodeRunLength(const uint8_t* data, size_t size, int bitCount, const std::vector<TRGBQuad>& colorTable,
                        TRowOrder order, TDIBSection& target) {
    const bool fourBits = bitCount == 4;
    TRunWriter writer(colorTable, order, target);
    size_t position = 0;
    while (position + 2 <= size && !writer.Finished()) {
        const uint8_t first = data[position];
        const uint8_t second = data[position + 1];
        position += 2;
        if (first > 0) {
            if (fourBits) writer.Run(first, static_cast<uint8_t>(second >> 4), static_cast<uint8_t>(second & 0x0F));
            else writer.Run(first, second, second);
            continue;
        }
        switch (second) {
            case EscapeEndOfLine: writer.EndOfLine(); break;
            case EscapeEndOfBitmap: return writer.Height();
            case EscapeDelta:
                if (position + 2 > size) return writer.RowsReached();
                writer.Delta(data[position], data[position + 1]);
                position += 2;
                break;
            default: {
                // Absolute mode: `second` literal pixels, their bytes padded
                // to a 16-bit boundary.
                const unsigned count = second;
                const size_t bytes = fourBits ? (count + 1) / 2 : count;
                const size_t available = std::min(bytes, size - position);
                const uint8_t* literal = data + position;
                if (fourBits) {
                    for (unsigned i = 0; i < count && i / 2 < available; ++i)
                        writer.Pixel(static_cast<uint8_t>(i % 2 == 0 ? literal[i / 2] >> 4 : literal[i / 2] & 0x0F));
                } else {
                    for (size_t i = 0; i < available; ++i) writer.Pixel(literal[i]);
                }
                if (available < bytes) return writer.RowsReached();  // the data ends inside the literal run
                position += std::min(bytes + (bytes & 1), size - position);
                break;
            }
        }
    }
    return writer.RowsReached();
}

}  // namespace tamberlit::bmp
