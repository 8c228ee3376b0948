#pragma once
// What the files of the GIF codec share among themselves and callers do not
// use. Only formats/gif includes this header; callers include gif_image.hpp.

#include <algorithm>
#include <cstdint>
#include <exception>

#include "formats/gif/gif_image.hpp"
#include "image/byte_order.hpp"
#include "image/palette.hpp"
#include "image/stream.hpp"

namespace tamberlit {

// The private state one class of the codec keeps for another. TGIFImage,
// TGIFSubImage and TGIFGraphicControlExtension name this one friend, so that
// what crosses between them is listed here and nowhere else.
class TGIFInternals {
public:
    // A frame's first graphic control extension and its transparent mark are
    // kept by the graphic control extensions as they come and go.
    static TGIFGraphicControlExtension*& GraphicControl(TGIFSubImage& frame) { return frame.graphicControl_; }
    static void SetTransparent(TGIFSubImage& frame, bool transparent) { frame.transparent_ = transparent; }

    // A local colour table that changes drops the palette made from it; a
    // colour table sorted by usage moves the pixels of the frames it serves.
    static void DropPalette(TGIFSubImage& frame) { frame.palette_.reset(); }
    static void RemapPixels(TGIFSubImage& frame, const uint8_t (&map)[TGIFColorMap::MaxColors]) {
        frame.RemapPixels(map);
    }
    // The transparent index follows its colour when the pixels move.
    static uint8_t& TransparentColorIndex(TGIFGraphicControlExtension& control) {
        return control.record_.TransparentColorIndex;
    }

    // The LZW decoder fills a frame's pixels and notes how many rows its data
    // reached.
    static uint8_t* AllocateData(TGIFSubImage& frame) { return frame.AllocateData(); }
    static TRowsPresent& RowsPresent(TGIFSubImage& frame) { return frame.rowsPresent_; }

    // A frame gives back what its pixels counted against the decoded-size
    // limit, and notices when building its bitmap made the image keep a palette.
    static void ReleaseDecoded(TGIFImage& image, uint64_t units) {
        image.decodedUnits_ -= std::min<uint64_t>(image.decodedUnits_, units);
    }
    static const HPALETTE& CachedPalette(const TGIFImage& image) { return image.palette_; }
    // A frame whose picture changed tells the image's change handler.
    static void Changed(TGIFImage& image) { image.Changed(); }
};

// The progress bracket of a long step of an image (loading, saving, copying,
// converting, rendering): gpsStarting at 0 when it is made, gpsEnding when it
// goes, at 100 after a step that completed and at 0 after one that an error
// left or that was given up.
class TGIFProgressScope {
public:
    TGIFProgressScope(TGIFImage& image, const char* message);
    // Like every report, the end may raise what the handler raises, except
    // while an error is leaving the step.
    ~TGIFProgressScope() noexcept(false);
    TGIFProgressScope(const TGIFProgressScope&) = delete;
    TGIFProgressScope& operator=(const TGIFProgressScope&) = delete;

    // The step stops without an error and without its result (a silent abort).
    void GiveUp() { givenUp_ = true; }

private:
    TGIFImage& image_;
    const char* message_;
    const int errorsAtStart_;  // exceptions already under way when the step began
    bool givenUp_ = false;
};

// A colour table as a palette, and whether two palettes hold the same colours.
HPALETTE PaletteFromColorMap(const TGIFColorMap& colors);
bool SameColors(const HPALETTE& a, const HPALETTE& b);

inline void WriteByte(TStream& stream, uint8_t byte) { stream.WriteBuffer(&byte, 1); }

// A record whose fields were collected first goes to the stream in one write.
inline void WriteRecord(TStream& stream, const TByteWriter& fields) {
    stream.WriteBuffer(fields.Data().data(), fields.Size());
}

}  // namespace tamberlit
