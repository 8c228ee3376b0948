#pragma once
// TGIFImage: a whole GIF file (GIF87a or GIF89a) held in memory: the header with
// the logical screen and the global colour table, and the frames in file order,
// each with the extension blocks that came before it. Assigning the image to a
// TBitmap gives the picture of its first frame.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "formats/gif/gif_frame.hpp"
#include "formats/gif/gif_header.hpp"
#include "image/bitmap.hpp"
#include "image/graphic.hpp"

namespace tamberlit {

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
    friend class TGIFInternals;

    TGIFHeader header_;
    TGIFImageList images_;
    uint64_t decodedUnits_ = 0;
    std::unique_ptr<TBitmap> bitmap_;
    HPALETTE palette_;
    bool paletteLookup_ = false;  // an image palette lookup is in progress
};

}  // namespace tamberlit
