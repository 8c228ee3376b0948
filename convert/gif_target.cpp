#include "convert/gif_target.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "formats/gif/gif_errors.hpp"
#include "formats/gif/gif_extensions.hpp"
#include "formats/gif/gif_image.hpp"

namespace tamberlit {

namespace {

constexpr int paletteSize = TGIFColorMap::MaxColors;

// Gives every transparent pixel of work (the source's 24-bit copy) the colour
// of the opaque pixel before it in reading order, and those ahead of the first
// opaque pixel that pixel's colour: the palette is then made of opaque colours
// only, and a ditherer finds little error to carry from a transparent pixel
// into its opaque neighbours. Returns whether any pixel is transparent.
bool FillTransparentPixels(const TBitmap& source, TBitmap& work, int threshold) {
    const int width = source.Width();
    const int height = source.Height();
    uint8_t fill[3] = {0, 0, 0};
    bool found = false;
    for (int y = 0; y < height && !found; ++y) {
        const uint8_t* quads = source.ConstRowAddress(y);
        for (int x = 0; x < width && !found; ++x)
            if (quads[4 * x + 3] >= threshold) {
                std::memcpy(fill, quads + 4 * x, 3);
                found = true;
            }
    }
    bool any = false;
    for (int y = 0; y < height; ++y) {
        const uint8_t* quad = source.ConstRowAddress(y);
        uint8_t* row = nullptr;  // taken for writing only when the row needs it
        for (int x = 0; x < width; ++x, quad += 4) {
            if (quad[3] >= threshold) {
                std::memcpy(fill, quad, 3);
                continue;
            }
            if (!row) row = work.RowAddress(y);
            std::memcpy(row + 3 * x, fill, 3);
            any = true;
        }
    }
    return any;
}

int SquaredDistance(const TPaletteEntry& a, const TPaletteEntry& b) {
    const int red = a.peRed - b.peRed, green = a.peGreen - b.peGreen, blue = a.peBlue - b.peBlue;
    return red * red + green * green + blue * blue;
}

// The entry nearest to entry's colour among the others (the lowest index
// among equally near ones).
int NearestOtherEntry(const std::vector<TPaletteEntry>& entries, int entry) {
    const TPaletteEntry& color = entries[static_cast<size_t>(entry)];
    int best = -1;
    int bestDistance = 0;
    for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
        const int distance = SquaredDistance(entries[static_cast<size_t>(i)], color);
        if (i != entry && (best < 0 || distance < bestDistance)) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

struct TIndexChoice {
    int Transparent = -1;  // -1: no pixel is transparent
    int Merged = -1;       // an entry that gave way to the transparent one; -1: none
    int MergedInto = -1;
    int ColorCount = 0;  // entries the frame needs: the highest index in use + 1
};

// Chooses the transparent index from the use counts of the opaque pixels.
TIndexChoice ChooseIndices(const uint64_t (&uses)[paletteSize], bool anyTransparent,
                           const std::vector<TPaletteEntry>& entries) {
    TIndexChoice choice;
    uint64_t counts[paletteSize];
    std::copy(std::begin(uses), std::end(uses), counts);
    if (anyTransparent) {
        const auto unused = std::find(std::begin(counts), std::end(counts), 0);
        if (unused != std::end(counts)) {
            choice.Transparent = static_cast<int>(unused - std::begin(counts));
        } else {
            // Every entry is in use: the least used one gives way.
            const auto least = std::min_element(std::begin(counts), std::end(counts));
            choice.Merged = static_cast<int>(least - std::begin(counts));
            choice.MergedInto = NearestOtherEntry(entries, choice.Merged);
            counts[choice.MergedInto] += counts[choice.Merged];
            counts[choice.Merged] = 0;
            choice.Transparent = choice.Merged;
        }
    }
    int highest = choice.Transparent;
    for (int i = 0; i < paletteSize; ++i)
        if (counts[i] > 0) highest = std::max(highest, i);
    choice.ColorCount = std::max(highest, 0) + 1;
    return choice;
}

// The reduced picture with the transparent index written where alpha is below
// the threshold; returns the frame's colour count and transparent index.
TIndexChoice MarkTransparency(TBitmap& reduced, const TBitmap& source, bool alpha, bool anyTransparent, int threshold) {
    const int width = reduced.Width();
    const int height = reduced.Height();
    uint64_t uses[paletteSize] = {};
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = reduced.ConstRowAddress(y);
        if (!anyTransparent) {
            for (int x = 0; x < width; ++x) ++uses[row[x]];
            continue;
        }
        const uint8_t* quad = source.ConstRowAddress(y) + 3;
        for (int x = 0; x < width; ++x, quad += 4)
            if (*quad >= threshold) ++uses[row[x]];
    }
    // The reduced bitmap's colour table has 256 entries (black past the
    // palette's own); a shorter one is read the same way.
    const HPALETTE palette = reduced.Palette();
    std::vector<TPaletteEntry> entries = palette ? palette->Entries : std::vector<TPaletteEntry>{};
    entries.resize(paletteSize, TPaletteEntry{});
    const TIndexChoice choice = ChooseIndices(uses, alpha && anyTransparent, entries);
    if (choice.Transparent < 0) return choice;

    const auto transparent = static_cast<uint8_t>(choice.Transparent);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = reduced.RowAddress(y);
        const uint8_t* quad = source.ConstRowAddress(y) + 3;
        for (int x = 0; x < width; ++x, quad += 4) {
            if (*quad < threshold) row[x] = transparent;
            else if (row[x] == transparent) row[x] = static_cast<uint8_t>(choice.MergedInto);
        }
    }
    return choice;
}

}  // namespace

void WriteGIFTarget(TBitmap& source, const std::string& path, const TGIFSettings& settings) {
    const bool alpha = source.PixelFormat() == Px32 && settings.AlphaThreshold > 0;
    const int threshold = std::clamp(settings.AlphaThreshold, 0, 255);
    std::unique_ptr<TBitmap> reduced;
    bool anyTransparent = false;
    {
        // The reduction works on a 24-bit copy (the same pixels for a 24-bit
        // source), freed before the frame is built.
        TBitmap work;
        work.Limits = source.Limits;
        work.CopyFrom(&source);
        work.SetPixelFormat(Px24);
        if (alpha) anyTransparent = FillTransparentPixels(source, work, threshold);
        reduced = ReduceBitmapColors(work, settings.Reduction, settings.Dither, settings.ReductionBits);
    }
    if (!reduced || reduced->Empty()) RaiseGIFError(GIFText::InvalidReductionMethod);
    const TIndexChoice choice = MarkTransparency(*reduced, source, alpha, anyTransparent, threshold);

    TGIFImage gif;
    gif.Limits = source.Limits;
    TGIFSubImage& frame = gif.Add(reduced.get());
    // Only the entries in use are written: a two-colour picture gets a table of
    // 2 entries and codes that start at 3 bits, not a table of 256.
    std::vector<TGIFColor> colors(static_cast<size_t>(choice.ColorCount));
    const HPALETTE palette = reduced->Palette();
    for (size_t i = 0; i < colors.size() && i < PaletteEntryCount(palette); ++i) {
        const TPaletteEntry& entry = palette->Entries[i];
        colors[i] = {entry.peRed, entry.peGreen, entry.peBlue};
    }
    reduced.reset();
    frame.ColorMap().Assign(colors.data(), choice.ColorCount);
    // The control extension marks the file GIF89a even when nothing is
    // transparent.
    auto control = std::make_unique<TGIFGraphicControlExtension>(frame);
    if (choice.Transparent >= 0) {
        control->SetTransparent(true);
        control->SetTransparentColorIndex(choice.Transparent);
    }
    frame.Extensions().Add(std::move(control));
    gif.SaveFile(path);
}

}  // namespace tamberlit
