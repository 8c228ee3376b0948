#include "formats/gif/gif_color_map.hpp"

#include <algorithm>
#include <numeric>

#include "formats/gif/gif_internal.hpp"

namespace tamberlit {

// ---------------------------------------------------------------- TGIFColorMap

int TGIFColorMap::BitsForColorCount(int count) {
    if (count <= 0) return 0;
    int bits = 1;
    while ((1 << bits) < count) ++bits;
    return bits;
}

void TGIFColorMap::GrowFor(int count) {
    if (count < capacity_) return;
    capacity_ = count <= 16 ? 16 : std::min(MaxColors, (count + 31) / 32 * 32);
    entries_.reserve(static_cast<size_t>(capacity_));
}

TColor TGIFColorMap::Color(int index) {
    if (index < 0 || index >= Count()) {
        ReportWarning(gsWarning, GIFText::InvalidColorIndex);
        index = 0;
    }
    if (entries_.empty()) RaiseGIFError(GIFText::ColorTableIsEmpty);
    return ToTColor(entries_[static_cast<size_t>(index)]);
}

void TGIFColorMap::SetColor(int index, TColor color) {
    if (index < 0 || index >= Count()) RaiseGIFError(GIFText::InvalidColorIndex);
    entries_[static_cast<size_t>(index)] = ToGIFColor(color);
    Changed();
}

int TGIFColorMap::Add(TColor color) {
    if (Count() >= MaxColors) RaiseGIFError(GIFText::ColorTableOverflow);
    GrowFor(Count() + 1);
    entries_.push_back(ToGIFColor(color));
    Changed();
    return Count() - 1;
}

void TGIFColorMap::Delete(int index) {
    if (index < 0 || index >= Count()) RaiseGIFError(GIFText::InvalidColorIndex);
    entries_.erase(entries_.begin() + index);
    Changed();
}

int TGIFColorMap::IndexOfColor(TColor color) const {
    const TGIFColor wanted = ToGIFColor(color);
    if (Optimized) {
        for (int i = 0; i < Count(); ++i)
            if (entries_[static_cast<size_t>(i)] == wanted) return i;
    } else {
        for (int i = Count() - 1; i >= 0; --i)
            if (entries_[static_cast<size_t>(i)] == wanted) return i;
    }
    return -1;
}

void TGIFColorMap::Clear() {
    entries_.clear();
    Optimized = false;
    Changed();
}

void TGIFColorMap::Assign(const TGIFColor* colors, int count) {
    count = std::clamp(count, 0, MaxColors);
    GrowFor(count);
    entries_.assign(colors, colors + count);
    Optimized = false;
    Changed();
}

void TGIFColorMap::LoadColors(TGIFReader& reader, int count) {
    uint8_t bytes[3 * MaxColors];
    reader.ReadExact(bytes, 3 * static_cast<size_t>(count));
    entries_.clear();
    GrowFor(count);
    for (int i = 0; i < count; ++i) entries_.push_back({bytes[3 * i], bytes[3 * i + 1], bytes[3 * i + 2]});
    Optimized = false;
    Changed();
}

void TGIFColorMap::SaveColors(TStream& stream) const {
    std::vector<uint8_t> bytes(3 * (size_t{1} << BitsPerPixel()), 0);
    for (int i = 0; i < Count(); ++i) {
        const TGIFColor& color = Entry(i);
        bytes[3 * static_cast<size_t>(i)] = color.Red;
        bytes[3 * static_cast<size_t>(i) + 1] = color.Green;
        bytes[3 * static_cast<size_t>(i) + 2] = color.Blue;
    }
    stream.WriteBuffer(bytes.data(), bytes.size());
}

void TGIFColorMap::Optimize() {
    const int count = Count();
    if (count <= 1) return;
    uint64_t usage[MaxColors] = {};
    CountUsage(usage);
    Optimized = true;
    int order[MaxColors];
    std::iota(order, order + count, 0);
    // Equally used entries keep their order.
    std::stable_sort(order, order + count, [&usage](int a, int b) { return usage[a] > usage[b]; });
    bool moved = false;
    for (int i = 0; i < count; ++i) moved = moved || order[i] != i;
    if (!moved) return;

    uint8_t map[MaxColors];
    std::iota(map, map + MaxColors, 0);  // indices outside the table stay
    for (int i = 0; i < count; ++i) map[order[i]] = static_cast<uint8_t>(i);
    Remap(map);
    std::vector<TGIFColor> sorted;
    sorted.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count && usage[order[i]] > 0; ++i) sorted.push_back(entries_[static_cast<size_t>(order[i])]);
    entries_ = std::move(sorted);
    Changed();
}

// ---------------------------------------------------------------- TGIFGlobalColorMap

void TGIFGlobalColorMap::ReportWarning(TGIFSeverity severity, const std::string& message) {
    header_.ReportWarning(severity, message);
}

void TGIFGlobalColorMap::Changed() { header_.Image().ContentChanged(); }

void TGIFGlobalColorMap::CountUsage(uint64_t (&counts)[MaxColors]) {
    TGIFImageList& frames = header_.Image().Images();
    for (int f = 0; f < frames.Count(); ++f) {
        TGIFSubImage& frame = frames[f];
        if (frame.ColorMap().Count() > 0 || frame.Empty()) continue;
        const uint8_t* pixels = frame.Data();
        for (size_t i = 0; i < frame.DataSize(); ++i) ++counts[pixels[i]];
    }
    for (int i = Count(); i < MaxColors; ++i) counts[i] = 0;
}

void TGIFGlobalColorMap::Remap(const uint8_t (&map)[MaxColors]) {
    TGIFImageList& frames = header_.Image().Images();
    for (int f = 0; f < frames.Count(); ++f)
        if (frames[f].ColorMap().Count() == 0) TGIFInternals::RemapPixels(frames[f], map);
}

// ---------------------------------------------------------------- TGIFLocalColorMap

void TGIFLocalColorMap::ReportWarning(TGIFSeverity severity, const std::string& message) {
    frame_.ReportWarning(severity, message);
}

void TGIFLocalColorMap::Changed() { TGIFInternals::DropPalette(frame_); }

void TGIFLocalColorMap::CountUsage(uint64_t (&counts)[MaxColors]) {
    if (frame_.Empty()) return;
    const uint8_t* pixels = frame_.Data();
    for (size_t i = 0; i < frame_.DataSize(); ++i) ++counts[pixels[i]];
    for (int i = Count(); i < MaxColors; ++i) counts[i] = 0;
}

void TGIFLocalColorMap::Remap(const uint8_t (&map)[MaxColors]) { TGIFInternals::RemapPixels(frame_, map); }

// ---------------------------------------------------------------- palettes from colour tables

HPALETTE PaletteFromColorMap(const TGIFColorMap& colors) {
    std::vector<TPaletteEntry> entries;
    entries.reserve(static_cast<size_t>(colors.Count()));
    for (int i = 0; i < colors.Count(); ++i) {
        const TGIFColor& color = colors.Entry(i);
        entries.push_back({color.Red, color.Green, color.Blue, PC_NOCOLLAPSE});
    }
    return CreatePalette(std::move(entries));
}

bool SameColors(const HPALETTE& a, const HPALETTE& b) {
    if (a == b) return true;
    if (!a || !b || a->Entries.size() != b->Entries.size()) return false;
    for (size_t i = 0; i < a->Entries.size(); ++i) {
        const TPaletteEntry &x = a->Entries[i], &y = b->Entries[i];
        if (x.peRed != y.peRed || x.peGreen != y.peGreen || x.peBlue != y.peBlue) return false;
    }
    return true;
}

}  // namespace tamberlit
