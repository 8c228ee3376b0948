#pragma once
// TBitmap: the in-memory raster image every reader fills and every writer
// reads. Bitmaps share one reference-counted pixel store (TBitmapImage) until
// one of them is about to change it; that one then gets a private copy.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "image/dib.hpp"
#include "image/graphic.hpp"

namespace tamberlit {

class TCanvas;

enum class THandleType { bmDIB, bmDDB };

// The shared pixel store.
class TBitmapImage {
public:
    HBITMAP Handle;          // none for an empty image
    HPALETTE Palette;        // palette of an image above 8 bits per pixel (kept from a palette source)
    bool Halftone = false;   // the colour table is the halftone palette this bitmap made for itself
    bool OS2Format = false;  // read from a BMP with the 12-byte core header; written back with it
    // The file bytes of a BMP read with compressed pixel data, kept until the
    // image is first changed so that saving writes them back unchanged.
    std::shared_ptr<const std::vector<uint8_t>> SavedStream;

    std::shared_ptr<TBitmapImage> Clone() const;
};

// The process-wide lock that guards the exchange of shared images.
std::mutex& BitmapImageLock();

class TBitmap : public TGraphic {
public:
    TBitmap();
    ~TBitmap() override;

    const char* ClassName() const override { return "TBitmap"; }

    // A TBitmap source is shared: no pixels are copied. nullptr empties this
    // bitmap. Any other graphic puts its picture in through AssignTo.
    void CopyFrom(TGraphic* source) override;
    // Into another TBitmap: the same as dest.CopyFrom(this).
    void AssignTo(TGraphic& dest) override;

    bool Empty() const override;
    int Width() const override;
    int Height() const override;
    // Resizing makes a new block of the current format and copies the old
    // picture into its top-left corner; the rest is white (or the canvas's
    // brush colour once a canvas exists).
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    void SetSize(int width, int height);

    TPixelFormat PixelFormat() const;
    // Converts the picture to another format. PxCustom raises "Invalid pixel format".
    void SetPixelFormat(TPixelFormat format);

    // Row y (0 = top) for reading and writing; first makes the image private.
    // Raises EInvalidGraphicOperation "Scan line index out of range".
    uint8_t* RowAddress(int row);
    // Row y for reading only; shares the image (no copy). Same range check.
    const uint8_t* ConstRowAddress(int row) const;
    // Bytes per row (the stride of the pixel block).
    size_t RowBytes() const;

    // The platform bitmap (made private first); nullptr for an empty bitmap.
    TDIBSection* Handle();
    // Takes ownership of a platform bitmap, dropping the previous image.
    void SetHandle(HBITMAP handle);
    // Gives the platform bitmap to the caller; this bitmap is left empty.
    HBITMAP DetachHandle();
    THandleType HandleType() const;
    void SetHandleType(THandleType type);

    // For 8 bits or fewer the colour table; otherwise the palette the image
    // kept. nullptr when there is none.
    HPALETTE Palette() const override;
    // Rewrites the colour table (8 bits or fewer) or replaces the kept palette.
    void SetPalette(HPALETTE palette) override;

    TCanvas& Canvas();

    // BMP data.
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;

    // Transparency settings; the converter does not use them.
    bool Transparent = false;
    TColor TransparentColor = 0x1FFFFFFF;  // "the colour of the bottom-left pixel"

    // ---- for codecs
    // Replaces the image with a fresh bottom-up block of the given format and
    // size whose pixels are all zero. Palette formats get the colour table the
    // format change would give them. Checks the decoded-size limit first.
    void NewImage(int width, int height, TPixelFormat format);
    // The shared image, for writers that only read it.
    const TBitmapImage& Image() const { return *image_; }
    // The image, made private, for readers that fill it.
    TBitmapImage& MutableImage();

protected:
    void Changed() override;

private:
    friend class TCanvas;
    void MakePrivate();
    // Swaps in another image under the process-wide lock.
    void ReplaceImage(std::shared_ptr<TBitmapImage> image);
    void Resize(int width, int height);
    const TDIBSection* Dib() const { return image_->Handle.get(); }
    TDIBSection* MutableDib();
    void ReadBMP(TStream& stream);
    void WriteBMP(TStream& stream);

    std::shared_ptr<TBitmapImage> image_;
    TPixelFormat requestedFormat_ = PxDevice;  // a format set while empty
    bool formatRequested_ = false;
    std::unique_ptr<TCanvas> canvas_;
};

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
};

// The drawing surface of a bitmap: fills and (stretched) copies. Drawing on a
// 32-bit bitmap writes 0 into the fourth byte, as the platform's drawing does.
class TCanvas {
public:
    explicit TCanvas(TBitmap& owner) : owner_(owner) {}

    struct TBrush {
        TColor Color = clWhite;
    } Brush;

    TRect ClipRect() const;
    void FillRect(const TRect& rect);
    // Copies source's rectangle into dest, stretched (nearest pixel) when the
    // sizes differ.
    void CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect);
    void StretchDraw(const TRect& dest, TBitmap& source);
    void Draw(int x, int y, TBitmap& source);
    TColor Pixel(int x, int y);
    void SetPixel(int x, int y, TColor color);

private:
    TBitmap& owner_;
};

}  // namespace tamberlit
