#pragma once
// The platform bitmap our bitmap model wraps: a device-independent block of
// pixel rows with its header and colour table (what the window system calls a
// DIB section), or a device-dependent block in the display's fixed format.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "image/limits.hpp"

#include "image/palette.hpp"

namespace tamberlit {

// Pixel formats, as the bitmap reports them.
enum TPixelFormat : uint8_t { PxDevice, Px1, Px4, Px8, Px15, Px16, Px24, Px32, PxCustom };

inline constexpr uint32_t BI_RGB = 0;
inline constexpr uint32_t BI_RLE8 = 1;
inline constexpr uint32_t BI_RLE4 = 2;
inline constexpr uint32_t BI_BITFIELDS = 3;

// The display of our platform layer: 32 bits per pixel, one plane, no alpha.
inline constexpr int ScreenBitsPerPixel = 32;
inline constexpr int ScreenPlanes = 1;

// The 40-byte information header fields of a device-independent bitmap.
struct TBitmapInfoHeader {
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;  // negative: rows stored top-down
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = BI_RGB;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};

// Bytes in one row: ((width * bitCount + 31) div 32) * 4.
constexpr size_t BytesPerRow(int64_t width, int bitCount) {
    return static_cast<size_t>((width * bitCount + 31) / 32 * 4);
}

// Bits per pixel of a format that has a fixed layout (0 for PxDevice and PxCustom).
int BitCountOf(TPixelFormat format);

// Pixel memory. Large blocks are mapped from the system directly: fresh pages
// come zeroed at no cost, and a freed picture goes back to the system at once.
struct TPixelMemoryDeleter {
    size_t mappedBytes = 0;  // 0: the block came from malloc
    void operator()(uint8_t* bytes) const;
};
using TPixelMemory = std::unique_ptr<uint8_t, TPixelMemoryDeleter>;

enum class TPixelFill { Zero, Undefined };
// Raises EOutOfMemory when the memory cannot be had.
TPixelMemory AllocatePixelMemory(size_t bytes, TPixelFill fill);

class TDIBSection {
public:
    // A device-independent block; height < 0 makes it top-down. Masks (red,
    // green, blue) apply with BI_BITFIELDS. Pixels start zeroed.
    // Raises EImageTooLarge beyond the decoded-size limit and EOutOfMemory when
    // the memory cannot be had.
    static std::unique_ptr<TDIBSection> Create(int width, int height, int bitCount, uint32_t compression = BI_RGB,
                                               const uint32_t* masks = nullptr, std::vector<TRGBQuad> colorTable = {},
                                               const TSizeLimits& limits = {});
    // A device-dependent block in the display's format (32 bits, fourth byte 0).
    static std::unique_ptr<TDIBSection> CreateDevice(int width, int height, const TSizeLimits& limits = {});
    std::unique_ptr<TDIBSection> Clone() const;

    TBitmapInfoHeader Header;
    uint32_t Masks[3] = {0, 0, 0};  // red, green, blue
    std::vector<TRGBQuad> ColorTable;
    bool DeviceDependent = false;

    int Width() const { return Header.biWidth; }
    int Height() const { return Header.biHeight < 0 ? -Header.biHeight : Header.biHeight; }
    bool TopDown() const { return Header.biHeight < 0; }
    int BitCount() const { return Header.biBitCount; }
    size_t Stride() const { return stride_; }
    size_t ImageSize() const { return stride_ * static_cast<size_t>(Height()); }
    uint8_t* Bits() { return bits_.get(); }
    const uint8_t* Bits() const { return bits_.get(); }
    // Row y, 0 being the top row of the picture; y is not checked.
    uint8_t* Row(int y) { return bits_.get() + RowOffset(y); }
    const uint8_t* Row(int y) const { return bits_.get() + RowOffset(y); }
    bool UsesMasks() const { return Header.biCompression == BI_BITFIELDS; }
    TPixelFormat Format() const;

private:
    TDIBSection() = default;
    size_t RowOffset(int y) const {
        return (TopDown() ? static_cast<size_t>(y) : static_cast<size_t>(Height() - 1 - y)) * stride_;
    }
    size_t stride_ = 0;
    TPixelMemory bits_;
};

using HBITMAP = std::unique_ptr<TDIBSection>;

// Row conversion between any supported layout and blue, green, red, fourth-byte
// quads. Reading gives the stored fourth byte for uncompressed 32-bit rows and 0
// for every other layout. Writing to a palette layout picks the nearest colour of
// the colour table. Pixels x0 to x1 - 1 of row y.
void ReadPixelsBGRA(const TDIBSection& dib, int y, int x0, int x1, uint8_t* quads);
void WritePixelsBGRA(TDIBSection& dib, int y, int x0, int x1, const uint8_t* quads);

}  // namespace tamberlit
