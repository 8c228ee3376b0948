// Building GIF content from other pictures: frames from frames and from
// bitmaps (with colour reduction where needed), images from images, frame
// placement on the logical screen, and colour tables sorted by usage.

#include <algorithm>
#include <cstring>
#include <numeric>

#include "color/dib_rows.hpp"
#include "color/reduce.hpp"
#include "formats/gif/gif_internal.hpp"
#include "image/limits.hpp"

namespace tamberlit {

namespace {

// The colours of a true-colour import and their table indices: at most 256
// colours in 1024 slots, found without walking the table.
class TColorIndexMap {
public:
    TColorIndexMap() { std::fill(std::begin(colors_), std::end(colors_), emptyColor); }
    int Find(uint32_t color) const {
        for (uint32_t slot = Hash(color);; slot = (slot + 1) % slotCount) {
            if (colors_[slot] == color) return indices_[slot];
            if (colors_[slot] == emptyColor) return -1;
        }
    }
    void Insert(uint32_t color, uint8_t index) {
        uint32_t slot = Hash(color);
        while (colors_[slot] != emptyColor) slot = (slot + 1) % slotCount;
        colors_[slot] = color;
        indices_[slot] = index;
    }

private:
    static constexpr uint32_t slotCount = 1024;
    static constexpr uint32_t emptyColor = 0xFFFFFFFFu;  // colours have 24 bits
    static uint32_t Hash(uint32_t color) { return (color * 2654435761u) >> 22; }
    uint32_t colors_[slotCount];
    uint8_t indices_[slotCount];
};

// The most recently seen colours of a true-colour import: pictures repeat a
// few colours in runs and small patterns, so most pixels are found here.
class TRecentColors {
public:
    // The index of the colour, searched from the last hit backwards; -1 when
    // it is not among them.
    int Find(uint32_t color) {
        for (int k = 0; k < used_; ++k) {
            const int slot = (last_ - k) & 7;
            if (colors_[slot] == color) {
                last_ = slot;
                return indices_[slot];
            }
        }
        return -1;
    }
    void Add(uint32_t color, uint8_t index) {
        colors_[next_] = color;
        indices_[next_] = index;
        last_ = next_;
        next_ = (next_ + 1) & 7;
        used_ = std::min(used_ + 1, 8);
    }

private:
    uint32_t colors_[8] = {};
    uint8_t indices_[8] = {};
    int used_ = 0;
    int last_ = 0;
    int next_ = 0;
};

bool IsPaletteFormat(TPixelFormat format) { return format == Px1 || format == Px4 || format == Px8; }

// The default transparent colour of a bitmap stands for its bottom-left pixel.
constexpr TColor defaultTransparentColor = 0x1FFFFFFF;

}  // namespace

// ---------------------------------------------------------------- colour tables

void TGIFColorMap::Assign(const TGIFColor* colors, int count) {
    count = std::clamp(count, 0, MaxColors);
    GrowFor(count);
    entries_.assign(colors, colors + count);
    Optimized = false;
    Changed();
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

void TGIFLocalColorMap::CountUsage(uint64_t (&counts)[MaxColors]) {
    if (frame_.Empty()) return;
    const uint8_t* pixels = frame_.Data();
    for (size_t i = 0; i < frame_.DataSize(); ++i) ++counts[pixels[i]];
    for (int i = Count(); i < MaxColors; ++i) counts[i] = 0;
}

void TGIFLocalColorMap::Remap(const uint8_t (&map)[MaxColors]) { frame_.RemapPixels(map); }

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
        if (frames[f].ColorMap().Count() == 0) frames[f].RemapPixels(map);
}

void TGIFSubImage::RemapPixels(const uint8_t (&map)[TGIFColorMap::MaxColors]) {
    if (!Empty()) {
        uint8_t* pixels = data_.get();
        for (size_t i = 0; i < dataSize_; ++i) pixels[i] = map[pixels[i]];
    }
    for (int i = 0; i < extensions_.Count(); ++i)
        if (auto* control = dynamic_cast<TGIFGraphicControlExtension*>(&extensions_[i]))
            control->record_.TransparentColorIndex = map[control->record_.TransparentColorIndex];
}

// ---------------------------------------------------------------- placement

bool TGIFSubImage::PlaceOnScreen(int left, int top, int width, int height) {
    for (int value : {left, top, width, height})
        if (value < 0 || value > 0xFFFF) RaiseGIFError(GIFText::InvalidImageDimensions);
    // The logical screen has 16-bit sides: a frame beyond them cannot be contained.
    if (left + width > 0xFFFF || top + height > 0xFFFF) RaiseGIFError(GIFText::ImageExceedsScreen);

    TGIFImage& image = Image();
    TGIFHeader::TScreenDescriptor& screen = image.Header().Descriptor;
    const bool widthShort = left + width > screen.ScreenWidth;
    const bool heightShort = top + height > screen.ScreenHeight;
    const bool warnWidth = widthShort && screen.ScreenWidth != 0;
    const bool warnHeight = heightShort && screen.ScreenHeight != 0;
    if (warnWidth) ReportWarning(gsWarning, GIFText::ImageWidthTooSmall);
    if (warnHeight) ReportWarning(gsWarning, GIFText::ImageHeightTooSmall);
    if (warnWidth || warnHeight) ReportWarning(gsWarning, GIFText::ImageExceedsScreen);
    if (widthShort) screen.ScreenWidth = static_cast<uint16_t>(left + width);
    if (heightShort) screen.ScreenHeight = static_cast<uint16_t>(top + height);

    const bool resized = width != Width() || height != Height();
    descriptor_.Left = static_cast<uint16_t>(left);
    descriptor_.Top = static_cast<uint16_t>(top);
    descriptor_.Width = static_cast<uint16_t>(width);
    descriptor_.Height = static_cast<uint16_t>(height);
    image.ContentChanged();
    return resized;
}

void TGIFSubImage::SetBounds(int left, int top, int width, int height) {
    // The new pixels must be possible before anything changes.
    if (width > 0 && height > 0) Image().Limits.CheckSize(width, height);
    if (!PlaceOnScreen(left, top, width, height)) return;
    FreeData();
    DropBitmap();
    const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (size > 0) std::memset(AllocateData(), 0, size);
}

void TGIFSubImage::SetInterlaced(bool interlaced) {
    descriptor_.PackedFields =
        static_cast<uint8_t>((descriptor_.PackedFields & ~0x40) | (interlaced ? 0x40 : 0));
}

// ---------------------------------------------------------------- frames from frames

void TGIFSubImage::CopyFrom(const TGIFSubImage* source) {
    if (source == this) return;
    Clear();
    if (!source) return;
    // Extensions go through their stream form, which makes them this frame's.
    // An empty frame keeps them too: they are all it has.
    if (source->extensions_.Count() > 0) {
        TMemoryStream stream;
        source->extensions_.Save(stream);
        stream.SetPosition(0);
        TGIFReader reader(stream);
        extensions_.Load(reader);
    }
    if (source->Empty()) return;
    PlaceOnScreen(source->Left(), source->Top(), source->Width(), source->Height());
    descriptor_.PackedFields = source->descriptor_.PackedFields;
    std::memcpy(AllocateData(), source->data_.get(), source->dataSize_);
    colorMap_.Assign(source->colorMap_.Data(), source->colorMap_.Count());
    colorMap_.Optimized = source->colorMap_.Optimized;
    transparent_ = source->transparent_;
    if (source->bitmap_) {
        bitmap_ = std::make_unique<TBitmap>();
        bitmap_->CopyFrom(source->bitmap_.get());
    }
}

// ---------------------------------------------------------------- frames from pictures

void TGIFSubImage::CopyFrom(TGraphic* source) {
    if (!source) {
        Clear();
        return;
    }
    if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
        ImportBitmap(*bitmap);
        return;
    }
    Clear();
    if (source->Empty()) return;
    // Any other picture is taken through a bitmap (a refusal is EConvertError).
    TBitmap bitmap;
    bitmap.CopyFrom(source);
    ImportBitmap(bitmap);
}

void TGIFSubImage::ImportBitmap(TBitmap& source) {
    Clear();
    if (source.Empty()) return;
    TGIFImage& image = Image();
    std::unique_ptr<TBitmap> bitmap;
    if (IsPaletteFormat(source.PixelFormat())) {
        bitmap = std::make_unique<TBitmap>();
        bitmap->CopyFrom(&source);
    } else {
        if (image.ColorReduction < rmNone || image.ColorReduction > rmPalette)
            RaiseGIFError(GIFText::InvalidReductionMethod);
        // The reduction works on a copy that shares the pixels: the caller's
        // bitmap keeps its format (and a 32-bit bitmap its alpha).
        TBitmap work;
        work.CopyFrom(&source);
        bitmap = ReduceBitmapColors(work, static_cast<TColorReduction>(image.ColorReduction),
                                    static_cast<TDitherMode>(image.DitherMode), image.ReductionBits);
        if (bitmap->Empty()) RaiseGIFError(GIFText::InvalidReductionMethod);
    }

    {
        TGIFProgressScope progress(image, GIFText::Converting);
        try {
            SetBounds(Left(), Top(), bitmap->Width(), bitmap->Height());
            ImportRows(*bitmap);
            if (source.Transparent) ApplyTransparency(source);
        } catch (...) {
            // No half-built frame stays behind.
            Clear();
            throw;
        }
    }
    bitmap_ = std::move(bitmap);
}

void TGIFSubImage::ImportRows(TBitmap& bitmap) {
    const TPixelFormat format = IsPaletteFormat(bitmap.PixelFormat()) ? bitmap.PixelFormat() : Px24;
    const TDIBReader rows(bitmap, format);
    const int width = Width();
    const int height = Height();
    if (format != Px24) {
        const HPALETTE palette = bitmap.Palette();
        std::vector<TGIFColor> colors;
        for (size_t i = 0; i < std::min<size_t>(PaletteEntryCount(palette), TGIFColorMap::MaxColors); ++i) {
            const TPaletteEntry& entry = palette->Entries[i];
            colors.push_back({entry.peRed, entry.peGreen, entry.peBlue});
        }
        colorMap_.Assign(colors.data(), static_cast<int>(colors.size()));
    }

    TGIFImage& image = Image();
    TColorIndexMap known;
    TRecentColors recent;
    uint8_t* pixels = Data();
    for (int y = 0; y < height; ++y) {
        if (y % 32 == 0) image.Progress(gpsRunning, static_cast<int>(int64_t{y} * 100 / height), GIFText::Converting);
        const uint8_t* row = rows.ConstRowAddress(y);
        uint8_t* out = pixels + static_cast<size_t>(y) * static_cast<size_t>(width);
        switch (format) {
            case Px8: std::memcpy(out, row, static_cast<size_t>(width)); break;
            case Px4:
                for (int x = 0; x < width; ++x)
                    out[x] = static_cast<uint8_t>((x & 1) ? row[x / 2] & 0x0F : row[x / 2] >> 4);
                break;
            case Px1:
                for (int x = 0; x < width; ++x) out[x] = static_cast<uint8_t>(row[x / 8] >> (7 - x % 8) & 1);
                break;
            default:
                // Rows hold blue, green, red.
                for (int x = 0; x < width; ++x, row += 3) {
                    const uint32_t color = uint32_t{row[0]} | uint32_t{row[1]} << 8 | uint32_t{row[2]} << 16;
                    int index = recent.Find(color);
                    if (index < 0) {
                        index = known.Find(color);
                        if (index < 0) {
                            // Beyond 256 colours: "Color table overflow".
                            index = colorMap_.Add(RGBColor(row[2], row[1], row[0]));
                            known.Insert(color, static_cast<uint8_t>(index));
                        }
                        recent.Add(color, static_cast<uint8_t>(index));
                    }
                    out[x] = static_cast<uint8_t>(index);
                }
                break;
        }
    }
}

void TGIFSubImage::ApplyTransparency(const TBitmap& source) {
    const TDIBSection* dib = source.Image().Handle.get();
    if (!dib) return;
    const int width = Width();
    const int height = Height();
    std::vector<uint8_t> quads(4 * static_cast<size_t>(width));
    TColor transparent = source.TransparentColor & 0xFFFFFF;
    if (source.TransparentColor == defaultTransparentColor) {
        ReadPixelsBGRA(*dib, height - 1, 0, 1, quads.data());
        transparent = RGBColor(quads[2], quads[1], quads[0]);
    }

    // The most used colours first; the transparent entry goes after them.
    colorMap_.Optimize();
    const int count = colorMap_.Count();
    if (count < 1 || count >= TGIFColorMap::MaxColors) return;
    const int index = colorMap_.Add(clBlack);
    bool marked = false;
    uint8_t* pixels = Data();
    for (int y = 0; y < height; ++y) {
        ReadPixelsBGRA(*dib, y, 0, width, quads.data());
        uint8_t* out = pixels + static_cast<size_t>(y) * static_cast<size_t>(width);
        for (int x = 0; x < width; ++x) {
            const uint8_t* quad = &quads[4 * static_cast<size_t>(x)];
            if (RGBColor(quad[2], quad[1], quad[0]) == transparent) {
                out[x] = static_cast<uint8_t>(index);
                marked = true;
            }
        }
    }
    if (!marked) {
        colorMap_.Delete(index);
        return;
    }
    auto control = std::make_unique<TGIFGraphicControlExtension>(*this);
    control->SetTransparent(true);
    control->SetTransparentColorIndex(index);
    extensions_.Add(std::move(control));
}

// ---------------------------------------------------------------- images

void TGIFImage::CopyFrom(TGraphic* source) {
    if (source == this) return;
    if (!source) {
        Clear();
        Changed();
        return;
    }
    if (auto* gif = dynamic_cast<TGIFImage*>(source)) {
        Clear();
        header_.Descriptor = gif->header_.Descriptor;
        header_.ColorMap().Assign(gif->GlobalColorMap().Data(), gif->GlobalColorMap().Count());
        header_.ColorMap().Optimized = gif->GlobalColorMap().Optimized;
        ThreadPriority = gif->ThreadPriority;
        DrawOptions = gif->DrawOptions;
        ColorReduction = gif->ColorReduction;
        DitherMode = gif->DitherMode;
        OnGIFWarning = gif->OnGIFWarning;
        OnProgress = gif->OnProgress;
        const int count = gif->images_.Count();
        {
            TGIFProgressScope progress(*this, GIFText::Copying);
            for (int i = 0; i < count; ++i) {
                auto frame = std::make_unique<TGIFSubImage>(*this);
                frame->CopyFrom(&gif->images_[i]);
                images_.Add(std::move(frame));
                Progress(gpsRunning, (i + 1) * 100 / count, GIFText::Copying);
            }
        }
        Changed();
        return;
    }
    Clear();
    try {
        Add(source);
    } catch (const EConvertError&) {
        // The standard refusal: "Cannot assign a ... to a TGIFImage".
        TGraphic::CopyFrom(source);
    }
}

TGIFSubImage& TGIFImage::Add(TGraphic* source) {
    if (!source) RaiseGIFError(GIFText::ObjectTypeNotSupported);
    auto frame = std::make_unique<TGIFSubImage>(*this);
    frame->CopyFrom(source);
    TGIFSubImage& added = *frame;
    images_.Add(std::move(frame));
    ContentChanged();
    Changed();
    return added;
}

TGIFSubImage& TGIFImage::Add(const TGIFSubImage& source) {
    auto frame = std::make_unique<TGIFSubImage>(*this);
    frame->CopyFrom(&source);
    TGIFSubImage& added = *frame;
    images_.Add(std::move(frame));
    ContentChanged();
    Changed();
    return added;
}

}  // namespace tamberlit
