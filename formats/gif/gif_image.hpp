#pragma once
// TGIFImage: a whole GIF file (GIF87a or GIF89a) held in memory: the header with
// the logical screen and the global colour table, and the frames in file order,
// each with the extension blocks that came before it. Assigning the image to a
// TBitmap gives the picture of its first frame.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "formats/gif/gif_extensions.hpp"
#include "image/bitmap.hpp"
#include "image/graphic.hpp"

namespace tamberlit {

class TGIFHeader;

// The global colour table, owned by the header.
class TGIFGlobalColorMap : public TGIFColorMap {
public:
    explicit TGIFGlobalColorMap(TGIFHeader& header) : header_(header) {}
    void ReportWarning(TGIFSeverity severity, const std::string& message) override;
    void Changed() override;
    // Over the frames whose active table this is (those without a local table).
    void CountUsage(uint64_t (&counts)[MaxColors]) override;
    void Remap(const uint8_t (&map)[MaxColors]) override;

private:
    TGIFHeader& header_;
};

// The local colour table of a frame.
class TGIFLocalColorMap : public TGIFColorMap {
public:
    explicit TGIFLocalColorMap(TGIFSubImage& frame) : frame_(frame) {}
    void ReportWarning(TGIFSeverity severity, const std::string& message) override;
    void Changed() override;
    void CountUsage(uint64_t (&counts)[MaxColors]) override;
    void Remap(const uint8_t (&map)[MaxColors]) override;

private:
    TGIFSubImage& frame_;
};

// Signature, logical screen descriptor and global colour table.
class TGIFHeader : public TGIFItem {
public:
    // The 7-byte logical screen descriptor exactly as in the file.
    struct TScreenDescriptor {
        uint16_t ScreenWidth = 0;
        uint16_t ScreenHeight = 0;
        uint8_t PackedFields = 0;  // bit 7 global table, bits 4-6 colour resolution, bit 3 sort, bits 0-2 size
        uint8_t BackgroundColorIndex = 0;
        uint8_t AspectRatio = 0;  // kept as read
    };

    explicit TGIFHeader(TGIFImage& image) : TGIFItem(image), colorMap_(*this) {}
    void Load(TGIFReader& reader) override;
    // Signature and version, logical screen descriptor (with its packed byte
    // recomputed from the colour tables) and global colour table.
    void Save(TStream& stream) override;
    // The highest version the frames need; gvUnknown without frames.
    TGIFVersion RequiredVersion() const override;
    void Clear();

    TScreenDescriptor Descriptor;
    TGIFGlobalColorMap& ColorMap() { return colorMap_; }
    const TGIFGlobalColorMap& ColorMap() const { return colorMap_; }

private:
    TGIFGlobalColorMap colorMap_;
};

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
    friend class TGIFGraphicControlExtension;
    friend class TGIFLocalColorMap;
    friend class TGIFGlobalColorMap;
    friend void DecodeFrameData(TGIFSubImage& frame, TGIFReader& reader);

    void ImportBitmap(TBitmap& source);
    void ImportRows(TBitmap& bitmap);
    void ApplyTransparency(const TBitmap& source);
    // Checks and sets the bounds; enlarges the logical screen when needed.
    // Returns whether the size changed.
    bool PlaceOnScreen(int left, int top, int width, int height);
    void RemapPixels(const uint8_t (&map)[TGIFColorMap::MaxColors]);

    // Pixel data of the frame's size, not initialised, after the size checks.
    uint8_t* AllocateData();
    void FreeData();
    void DropBitmap();
    void BuildBitmap(bool dithered);

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

enum TGIFProgressStage { gpsStarting, gpsRunning, gpsEnding };

// Drawing options (a 16-bit set). Only the dithering bits matter to the
// picture a bitmap gets; the others concern drawing and animation.
inline constexpr uint16_t goAnimate = 1u << 2;
inline constexpr uint16_t goTile = 1u << 8;
inline constexpr uint16_t goUseDithering = 1u << 9;
inline constexpr uint16_t goDitherOnlyOnPalettedScreens = 1u << 10;
inline constexpr uint16_t DefaultGIFDrawOptions = 0x060F;

// True when the screen shows at most 256 colours; it decides, with the drawing
// options, whether frames are dithered to the 216-colour cube. Our display has
// 32 bits per pixel, so it is false.
extern const bool PalettedScreen;

class TGIFImage : public TGraphic {
public:
    TGIFImage();
    ~TGIFImage() override;

    const char* ClassName() const override { return "TGIFImage"; }

    // Into a TBitmap: the rendered picture (the first frame); other targets are refused.
    void AssignTo(TGraphic& dest) override;
    bool Empty() const override { return images_.Count() == 0; }
    int Width() const override { return header_.Descriptor.ScreenWidth; }
    int Height() const override { return header_.Descriptor.ScreenHeight; }
    // The logical screen size; below what a frame needs raises "Image width
    // (height) too small for contained frames".
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    HPALETTE Palette() const override;
    void SetPalette(HPALETTE palette) override;

    // Replaces the content with the GIF read from the stream's position. On an
    // error the frames read completely before it stay, the stream goes back to
    // where it was and the error passes on.
    void LoadFromStream(TStream& stream) override;
    // Writes the image as a GIF stream: header, frames, trailer. An image
    // without frames raises "Unsupported GIF version".
    void SaveToStream(TStream& stream) override;

    // From a TGIFImage: header, settings and every frame. From any other
    // graphic: one frame made from its picture (TGIFSubImage::CopyFrom).
    // nullptr clears the image.
    void CopyFrom(TGraphic* source) override;
    // Appends a frame made from a graphic (nullptr raises "Object type not
    // supported for operation") or copied from a frame.
    TGIFSubImage& Add(TGraphic* source);
    TGIFSubImage& Add(const TGIFSubImage& source);

    void Clear();

    TGIFHeader& Header() { return header_; }
    const TGIFHeader& Header() const { return header_; }
    TGIFGlobalColorMap& GlobalColorMap() { return header_.ColorMap(); }
    TGIFImageList& Images() { return images_; }
    const TGIFImageList& Images() const { return images_; }

    // ---- rendering
    // The picture of the whole image (its first frame), nullptr without frames.
    TBitmap* RenderedBitmap();
    HPALETTE ImagePalette();
    bool ShouldDither() const;

    // ---- settings, with their documented defaults
    uint16_t DrawOptions = DefaultGIFDrawOptions;
    int ColorReduction = 6;  // used when frames are built from true-colour pictures
    int ReductionBits = 8;
    int DitherMode = 0;
    int Compression = 0;     // 0 LZW, 1 run-length, when writing
    int ThreadPriority = 3;  // for animation, which this build does not run
    int AnimationSpeed = 100;
    // Loading stops after the first frame: the blocks after it are not read
    // (nor checked), so a converter that takes the first frame does not decode
    // thousands of frames it never uses.
    bool FirstFrameOnly = false;

    // Warnings (the reader goes on after them). sender is the item that found
    // the fault, or nullptr when the image itself reports.
    std::function<void(TGIFImage& image, const TGIFItem* sender, TGIFSeverity severity, const std::string& message)>
        OnGIFWarning;
    std::function<void(TGIFImage& image, TGIFProgressStage stage, int percent, const std::string& message)> OnProgress;

    virtual void ReportWarning(const TGIFItem* sender, TGIFSeverity severity, const std::string& message);
    void Progress(TGIFProgressStage stage, int percent, const std::string& message);

    // Memory held for the decoded content (pixels, frames, extension data) is
    // counted against the decoded-size limit, so that a file with many frames
    // cannot allocate without bound. Raises EImageTooLarge beyond the limit.
    void ChargeDecoded(uint64_t units);
    // The content changed: drop the rendered bitmap and the image palette.
    void ContentChanged();

private:
    friend class TGIFSubImage;

    // False when it stopped early (FirstFrameOnly), short of the trailer.
    bool LoadFrames(TGIFReader& reader);
    // The largest bits per pixel over the global and all local colour tables.
    int HighestBitsPerPixel() const;
    void CheckTrailer(TGIFReader& reader);
    [[noreturn]] void RaiseNoColorTable();

    TGIFHeader header_;
    TGIFImageList images_;
    uint64_t decodedUnits_ = 0;
    std::unique_ptr<TBitmap> bitmap_;
    HPALETTE palette_;
    bool paletteLookup_ = false;  // an image palette lookup is in progress
};

}  // namespace tamberlit
