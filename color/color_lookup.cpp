#include "color/color_lookup.hpp"

#include <algorithm>
#include <limits>

namespace tamberlit {

namespace {

// Palettes this small are searched entry by entry; the cells pay off above it.
constexpr size_t CellThreshold = 16;

int Square(int value) { return value * value; }

}  // namespace

TSlowColorLookup::TSlowColorLookup(HPALETTE palette)
    : TColorLookup(static_cast<int>(std::min<size_t>(PaletteEntryCount(palette), 256))), palette_(std::move(palette)) {
    if (colorCount_ == 0) return;
    entries_.assign(palette_->Entries.begin(), palette_->Entries.begin() + colorCount_);
    useCells_ = entries_.size() > CellThreshold;
    if (useCells_) {
        cellStart_.assign(CellsPerSide * CellsPerSide * CellsPerSide, NotFilled);
        cellCount_.assign(cellStart_.size(), 0);
    }
}

void TSlowColorLookup::FillCell(uint32_t cell) {
    const int side = 1 << CellShift;
    const int low[3] = {int(cell / (CellsPerSide * CellsPerSide)) * side, int(cell / CellsPerSide % CellsPerSide) * side,
                        int(cell % CellsPerSide) * side};
    // For every entry the least and greatest squared distance to any colour of
    // the cell.
    uint32_t least[256];
    uint32_t smallestGreatest = std::numeric_limits<uint32_t>::max();
    for (size_t i = 0; i < entries_.size(); ++i) {
        const int value[3] = {entries_[i].peRed, entries_[i].peGreen, entries_[i].peBlue};
        int nearDistance = 0;
        int farDistance = 0;
        for (int c = 0; c < 3; ++c) {
            const int lo = low[c];
            const int hi = low[c] + side - 1;
            if (value[c] < lo) nearDistance += Square(lo - value[c]);
            else if (value[c] > hi) nearDistance += Square(value[c] - hi);
            farDistance += Square(std::max(value[c] - lo, hi - value[c]));
        }
        least[i] = static_cast<uint32_t>(nearDistance);
        smallestGreatest = std::min(smallestGreatest, static_cast<uint32_t>(farDistance));
    }
    cellStart_[cell] = static_cast<uint32_t>(candidates_.size());
    for (size_t i = 0; i < entries_.size(); ++i)
        if (least[i] <= smallestGreatest) candidates_.push_back(static_cast<uint8_t>(i));
    cellCount_[cell] = static_cast<uint16_t>(candidates_.size() - cellStart_[cell]);
}

uint8_t TSlowColorLookup::NearestIndex(uint8_t red, uint8_t green, uint8_t blue) {
    const uint8_t* candidates = nullptr;
    size_t count = 0;
    if (useCells_) {
        const uint32_t cell = (uint32_t(red >> CellShift) * CellsPerSide + uint32_t(green >> CellShift)) * CellsPerSide +
                              uint32_t(blue >> CellShift);
        if (cellStart_[cell] == NotFilled) FillCell(cell);
        candidates = candidates_.data() + cellStart_[cell];
        count = cellCount_[cell];
    }
    int bestDistance = std::numeric_limits<int>::max();
    uint8_t best = 0;
    if (candidates) {
        for (size_t k = 0; k < count; ++k) {
            const TPaletteEntry& entry = entries_[candidates[k]];
            const int distance = Square(entry.peRed - red) + Square(entry.peGreen - green) + Square(entry.peBlue - blue);
            if (distance < bestDistance) {
                bestDistance = distance;
                best = candidates[k];
            }
        }
        return best;
    }
    for (size_t i = 0; i < entries_.size(); ++i) {
        const TPaletteEntry& entry = entries_[i];
        const int distance = Square(entry.peRed - red) + Square(entry.peGreen - green) + Square(entry.peBlue - blue);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<uint8_t>(i);
        }
    }
    return best;
}

uint8_t TSlowColorLookup::MapColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                   uint8_t& outBlue) {
    if (entries_.empty()) {
        outRed = outGreen = outBlue = 0;
        return 0;
    }
    const uint8_t index = NearestIndex(red, green, blue);
    outRed = entries_[index].peRed;
    outGreen = entries_[index].peGreen;
    outBlue = entries_[index].peBlue;
    return index;
}

uint8_t TNetscapeColorLookup::MapColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed,
                                       uint8_t& outGreen, uint8_t& outBlue) {
    const int redLevel = (red + 3) / 51;
    const int greenLevel = (green + 3) / 51;
    const int blueLevel = (blue + 3) / 51;
    outRed = static_cast<uint8_t>(redLevel * 51);
    outGreen = static_cast<uint8_t>(greenLevel * 51);
    outBlue = static_cast<uint8_t>(blueLevel * 51);
    return static_cast<uint8_t>(blueLevel + greenLevel * 6 + redLevel * 36);
}

uint8_t TGrayScaleLookup::MapColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                   uint8_t& outBlue) {
    const auto grey = static_cast<uint8_t>((77 * red + 150 * green + 29 * blue) >> 8);
    outRed = outGreen = outBlue = grey;
    return grey;
}

uint8_t TMonochromeLookup::MapColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                    uint8_t& outBlue) {
    if (77 * red + 150 * green + 29 * blue > 32512) {
        outRed = outGreen = outBlue = 255;
        return 1;
    }
    outRed = outGreen = outBlue = 0;
    return 0;
}

}  // namespace tamberlit
