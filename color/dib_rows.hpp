#pragma once
// Row views used when pictures move between the GIF codec and the colour
// reduction: a reader over a bitmap's own rows in a chosen pixel format, and a
// writer that collects 8- or 24-bit rows and hands the finished image to a
// bitmap.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "image/bitmap.hpp"
#include "image/dib.hpp"
#include "image/palette.hpp"

namespace tamberlit {

class TDIB {
public:
    TDIB(TBitmap& bitmap, TPixelFormat format) : bitmap_(bitmap), pixelFormat_(format) {}
    virtual ~TDIB() = default;
    TDIB(const TDIB&) = delete;
    TDIB& operator=(const TDIB&) = delete;

    // Row y, 0 being the top row.
    virtual uint8_t* RowAddress(int y) = 0;

    TBitmap& Bitmap() const { return bitmap_; }
    TPixelFormat PixelFormat() const { return pixelFormat_; }

protected:
    TBitmap& bitmap_;
    TPixelFormat pixelFormat_;
};

// Converts the bitmap to the format once, then hands out the bitmap's rows.
class TDIBReader : public TDIB {
public:
    TDIBReader(TBitmap& bitmap, TPixelFormat format);

    // The bitmap's row for writing (makes its image private first).
    uint8_t* RowAddress(int y) override;
    // The bitmap's row for reading only; a shared image is not copied.
    const uint8_t* ConstRowAddress(int y) const;
    int Width() const { return bitmap_.Width(); }
    int Height() const { return bitmap_.Height(); }
};

// Its refusals are the GIF codec's own messages, raised as EInvalidGraphic (the
// class the codec's errors derive from: this unit sits below the codec).
//
// Collects the rows of an 8-bit (palette) or 24-bit image and gives it to the
// target bitmap on Finish(). The 8-bit colour table always has 256 entries:
// the palette's entries in order (at most 256), then black.
//
// A destructor must not throw, so the hand-over is an explicit step: a writer
// destroyed without Finish() only frees its memory and leaves the target as it
// was.
class TDIBWriter : public TDIB {
public:
    // Raises "Unsupported PixelFormat" for a format other than Px8 or Px24 and
    // "Invalid image dimensions" for a width or height that is not positive;
    // the decoded-size limit is checked here as well, before any allocation.
    TDIBWriter(TBitmap& target, HPALETTE palette, int width, int height, TPixelFormat format);
    ~TDIBWriter() override;

    // Row y (0 = top). The first request allocates the pixel block ("Failed to
    // allocate memory for GIF DIB" when that fails). After Finish() there is no
    // block: "Image has no DIB". Rows outside the image: "Scan line index out of
    // range". Pixel bytes start at zero.
    uint8_t* RowAddress(int y) override;

    // Hands the image to the target bitmap; the writer holds nothing afterwards.
    // Without any row requested there is no image, and the target is unchanged.
    void Finish();

    int Width() const { return width_; }
    int Height() const { return height_; }
    size_t RowBytes() const { return rowBytes_; }

private:
    void AllocateImage();

    HPALETTE palette_;
    int width_;
    int height_;
    size_t rowBytes_;
    bool finished_ = false;
    HBITMAP image_;
};

}  // namespace tamberlit
