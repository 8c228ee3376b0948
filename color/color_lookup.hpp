#pragma once
// Colour lookups: each maps a 24-bit colour to an index into its palette and
// tells the colour that index stands for. The ditherers ask one for every
// pixel.

#include <cstdint>
#include <vector>

#include "image/palette.hpp"

namespace tamberlit {

class TColorLookup {
public:
    explicit TColorLookup(int colorCount) : colorCount_(colorCount) {}
    virtual ~TColorLookup() = default;
    TColorLookup(const TColorLookup&) = delete;
    TColorLookup& operator=(const TColorLookup&) = delete;

    // The palette index for the colour; the index's own colour goes to the
    // three out-parameters.
    virtual uint8_t MapColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                             uint8_t& outBlue) = 0;

    // The number of palette entries the lookup can return.
    int ColorCount() const { return colorCount_; }

protected:
    int colorCount_;
};

// Any palette, through the nearest-colour rule of GetNearestPaletteIndex: the
// smallest sum of squared differences of red, green and blue, the lowest index
// among equally near entries. Indices are bytes, so only the first 256 entries
// of a larger palette take part.
//
// The answer is the one a search over every entry gives; it is found faster by
// splitting the colour cube into 32 x 32 x 32 cells and keeping, per cell,
// the entries that can be nearest to some colour in it (an entry whose least
// distance to the cell is above the smallest greatest distance of any entry
// can never win there). Cells are filled on first use; their entries are kept
// in order of that least distance, so the search stops as soon as no further
// entry can come nearer than the best found.
class TSlowColorLookup final : public TColorLookup {
public:
    explicit TSlowColorLookup(HPALETTE palette);

    uint8_t MapColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                     uint8_t& outBlue) override;

    const HPALETTE& Palette() const { return palette_; }

private:
    uint8_t NearestIndex(uint8_t red, uint8_t green, uint8_t blue);
    void FillCell(uint32_t cell);

    static constexpr int CellShift = 3;  // 8 levels per cell side
    static constexpr uint32_t CellsPerSide = 256 >> CellShift;
    static constexpr uint32_t NotFilled = UINT32_MAX;

    HPALETTE palette_;
    std::vector<TPaletteEntry> entries_;  // empty for an empty palette
    bool useCells_ = false;
    std::vector<bool> repeated_;       // the same colour as an earlier entry
    std::vector<uint32_t> cellStart_;  // into candidates_, NotFilled until first use
    std::vector<uint16_t> cellCount_;
    struct TCandidate {
        uint32_t LeastDistance;  // to any colour of the cell
        uint32_t Index;
    };
    std::vector<TCandidate> candidates_;  // per cell: by least distance, then index
};

// The 216-colour cube: per channel level (value + 3) div 51, index = blue level
// + 6 * green level + 36 * red level, colour = 51 * level per channel.
class TNetscapeColorLookup final : public TColorLookup {
public:
    TNetscapeColorLookup() : TColorLookup(216) {}
    uint8_t MapColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                     uint8_t& outBlue) override {
        const int redLevel = (red + 3) / 51;
        const int greenLevel = (green + 3) / 51;
        const int blueLevel = (blue + 3) / 51;
        outRed = static_cast<uint8_t>(redLevel * 51);
        outGreen = static_cast<uint8_t>(greenLevel * 51);
        outBlue = static_cast<uint8_t>(blueLevel * 51);
        return static_cast<uint8_t>(blueLevel + greenLevel * 6 + redLevel * 36);
    }
};

// 256 greys: grey = (77 red + 150 green + 29 blue) shr 8, which is also the index.
class TGrayScaleLookup final : public TColorLookup {
public:
    TGrayScaleLookup() : TColorLookup(256) {}
    uint8_t MapColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                     uint8_t& outBlue) override {
        const auto grey = static_cast<uint8_t>((77 * red + 150 * green + 29 * blue) >> 8);
        outRed = outGreen = outBlue = grey;
        return grey;
    }
};

// Black (index 0) and white (index 1), split at a weighted sum of 32512.
class TMonochromeLookup final : public TColorLookup {
public:
    TMonochromeLookup() : TColorLookup(2) {}
    uint8_t MapColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                     uint8_t& outBlue) override {
        const bool white = 77 * red + 150 * green + 29 * blue > 32512;
        outRed = outGreen = outBlue = white ? 255 : 0;
        return white ? 1 : 0;
    }
};

}  // namespace tamberlit
