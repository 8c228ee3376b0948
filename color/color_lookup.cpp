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
        // An entry equal to an earlier one never wins (the earlier index does).
        repeated_.assign(entries_.size(), false);
        for (size_t i = 0; i < entries_.size(); ++i)
            for (size_t j = 0; j < i && !repeated_[i]; ++j)
                repeated_[i] = entries_[i].peRed == entries_[j].peRed && entries_[i].peGreen == entries_[j].peGreen &&
                               entries_[i].peBlue == entries_[j].peBlue;
        cellStart_.assign(CellsPerSide * CellsPerSide * CellsPerSide, NotFilled);
        cellCount_.assign(cellStart_.size(), 0);
    }
}

void TSlowColorLookup::FillCell(uint32_t cell) {
    const int side = 1 << CellShift;
    const int low[3] = {int(cell / (CellsPerSide * CellsPerSide)) * side,
                        int(cell / CellsPerSide % CellsPerSide) * side, int(cell % CellsPerSide) * side};
    // For every entry the least and greatest squared distance to any colour of
    // the cell.
    uint32_t least[256];
    uint32_t smallestGreatest = std::numeric_limits<uint32_t>::max();
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (repeated_[i]) continue;
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
    const size_t start = candidates_.size();
    for (size_t i = 0; i < entries_.size(); ++i)
        if (!repeated_[i] && least[i] <= smallestGreatest) candidates_.push_back({least[i], static_cast<uint32_t>(i)});
    std::sort(candidates_.begin() + static_cast<ptrdiff_t>(start), candidates_.end(),
              [](const TCandidate& a, const TCandidate& b) {
                  return a.LeastDistance != b.LeastDistance ? a.LeastDistance < b.LeastDistance : a.Index < b.Index;
              });
    cellStart_[cell] = static_cast<uint32_t>(start);
    cellCount_[cell] = static_cast<uint16_t>(candidates_.size() - start);
}

uint8_t TSlowColorLookup::NearestIndex(uint8_t red, uint8_t green, uint8_t blue) {
    int bestDistance = std::numeric_limits<int>::max();
    uint8_t best = 0;
    if (useCells_) {
        const uint32_t cell =
            (uint32_t(red >> CellShift) * CellsPerSide + uint32_t(green >> CellShift)) * CellsPerSide +
            uint32_t(blue >> CellShift);
        if (cellStart_[cell] == NotFilled) FillCell(cell);
        const TCandidate* candidate = candidates_.data() + cellStart_[cell];
        const TCandidate* end = candidate + cellCount_[cell];
        // An entry whose least distance exceeds the best distance cannot be
        // nearer, nor equally near; every equally near entry is still seen, and
        // the lower index wins among them.
        for (; candidate != end && static_cast<int>(candidate->LeastDistance) <= bestDistance; ++candidate) {
            const TPaletteEntry& entry = entries_[candidate->Index];
            const int distance =
                Square(entry.peRed - red) + Square(entry.peGreen - green) + Square(entry.peBlue - blue);
            if (distance < bestDistance || (distance == bestDistance && candidate->Index < best)) {
                bestDistance = distance;
                best = static_cast<uint8_t>(candidate->Index);
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

}  // namespace tamberlit
