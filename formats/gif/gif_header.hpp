#pragma once
// TGIFHeader, the start of a GIF file.

#include <cstdint>

#include "formats/gif/gif_color_map.hpp"
#include "formats/gif/gif_item.hpp"

namespace tamberlit {

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

}  // namespace tamberlit
