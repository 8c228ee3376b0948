#pragma once
// TGIFSubImage, one frame of a GIF file: the extension blocks in front of it,
// its image descriptor, its local colour table and its pixels; and
// TGIFImageList, the frames of an image.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "formats/gif/gif_color_map.hpp"
#include "formats/gif/gif_extensions.hpp"
#include "formats/gif/gif_item.hpp"
#include "image/bitmap.hpp"
#include "image/graphic.hpp"
#include "image/limits.hpp"

namespace tamberlit {

// One frame: its extensions, image descriptor, local colour table and pixels
// (one colour index per byte, rows top first, no padding).
class TGIFSubImage : public TGIFItem {
public:
    // The 10-byte image descriptor exactly as in the file.
    struct TImageDescriptor {
        uint8_t Separator = GIFImageSeparator;
        uint16_t Left = 0, Top = 0, Width = 0, Height = 0;
        uint8_t PackedFields = 0;  // bit 7 local table, bit 6 interlaced, bit 5 sort, bits 0-2 size
    };

    explicit TGIFSubImage(TGIFImage& image);
    ~TGIFSubImage() override;

    // Reads extensions, descriptor, local colour table and image data.
    void Load(TGIFReader& reader) override;
    // Writes extensions and, for a frame that is not empty, descriptor, local
    // colour table and image data.
    void Save(TStream& stream) override;
    // GIF89a when the frame has extensions or a sorted local colour table.
    TGIFVersion RequiredVersion() const override;
    void Clear();

    // ---- building a frame
    // From another frame (of any image): descriptor, transparent mark, pixels,
    // local colour table, extensions and bitmap. nullptr clears the frame.
    void CopyFrom(const TGIFSubImage* source);
    // From a TBitmap: palette bitmaps as they are, others reduced to 256
    // colours or fewer with the image's reduction settings; a transparent
    // bitmap's transparent colour becomes the frame's transparent index. Any
    // other graphic is assigned to a bitmap first. nullptr clears the frame.
    void CopyFrom(TGraphic* source);

    // Position and size on the logical screen. A new size drops the pixels (new
    // ones are zero); a frame beyond the logical screen enlarges it.
    void SetLeft(int left) { SetBounds(left, Top(), Width(), Height()); }
    void SetTop(int top) { SetBounds(Left(), top, Width(), Height()); }
    void SetWidth(int width) { SetBounds(Left(), Top(), width, Height()); }
    void SetHeight(int height) { SetBounds(Left(), Top(), Width(), height); }
    void SetBounds(int left, int top, int width, int height);
    void SetInterlaced(bool interlaced);

    TGIFExtensionList& Extensions() { return extensions_; }
    const TGIFExtensionList& Extensions() const { return extensions_; }
    // The first graphic control extension of the frame, or nullptr.
    TGIFGraphicControlExtension* GraphicControlExtension() const { return graphicControl_; }
    // A graphic control extension with the transparent flag was read.
    bool Transparent() const { return transparent_; }

    const TImageDescriptor& Descriptor() const { return descriptor_; }
    int Left() const { return descriptor_.Left; }
    int Top() const { return descriptor_.Top; }
    int Width() const { return descriptor_.Width; }
    int Height() const { return descriptor_.Height; }
    bool Interlaced() const { return (descriptor_.PackedFields & 0x40) != 0; }

    TGIFLocalColorMap& ColorMap() { return colorMap_; }
    // The local table if it has entries, else the global one if that has
    // entries, else the (empty) local table.
    TGIFColorMap& ActiveColorMap();

    // What the image data held of the frame's rows, as last read: a frame
    // whose data runs out keeps the fill value in the rows it did not reach.
    const TRowsPresent& RowsPresent() const { return rowsPresent_; }

    // No pixel data, or a width or height of 0.
    bool Empty() const;
    size_t DataSize() const { return dataSize_; }
    // The pixel data; a frame without any gets zero-filled data of its size
    // ("Image is empty" when that size is 0).
    uint8_t* Data();
    const uint8_t* Data() const { return data_.get(); }
    // Row y (0 = top) and pixel (x, y); "Invalid pixel coordinates" outside the frame.
    uint8_t* Scanline(int y);
    uint8_t Pixel(int x, int y);

    // ---- the frame as a bitmap
    // The frame's 8-bit bitmap (built on first use), nullptr for an empty frame.
    TBitmap* FrameBitmap();
    // The palette the frame is shown with.
    HPALETTE FramePalette();
    void SetFramePalette(HPALETTE palette);
    // The transparency mask built with the bitmap (a set bit marks a
    // transparent pixel), or nullptr.
    const TBitmap* Mask() const { return mask_.get(); }
    // Into a TBitmap: the frame bitmap.
    void AssignTo(TBitmap& dest);

private:
    friend class TGIFInternals;

    // Checks and sets the bounds; enlarges the logical screen when needed.
    // Returns whether the size changed.
    bool PlaceOnScreen(int left, int top, int width, int height);
    void RemapPixels(const uint8_t (&map)[TGIFColorMap::MaxColors]);
    // Pixel data of the frame's size, not initialised, after the size checks.
    uint8_t* AllocateData();
    void FreeData();
    void DropBitmap();

    TGIFExtensionList extensions_;
    TGIFGraphicControlExtension* graphicControl_ = nullptr;
    bool transparent_ = false;
    TImageDescriptor descriptor_;
    TGIFLocalColorMap colorMap_;
    std::unique_ptr<uint8_t[]> data_;
    size_t dataSize_ = 0;
    TRowsPresent rowsPresent_;
    // Built on request and dropped when the frame changes.
    std::unique_ptr<TBitmap> bitmap_;
    std::unique_ptr<TBitmap> mask_;
    bool maskNeeded_ = true;
    HPALETTE palette_;
};

// The frames of an image, in file order; the list owns them.
class TGIFImageList {
public:
    int Count() const { return static_cast<int>(items_.size()); }
    TGIFSubImage& operator[](int index) const { return *items_[static_cast<size_t>(index)]; }
    void Add(std::unique_ptr<TGIFSubImage> frame) { items_.push_back(std::move(frame)); }
    void Delete(int index) { items_.erase(items_.begin() + index); }
    void Clear() { items_.clear(); }

private:
    std::vector<std::unique_ptr<TGIFSubImage>> items_;
};

}  // namespace tamberlit
