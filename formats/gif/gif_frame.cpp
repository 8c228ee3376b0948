#include "formats/gif/gif_frame.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "color/color_lookup.hpp"
#include "color/dib_rows.hpp"
#include "color/dither.hpp"
#include "color/palettes.hpp"
#include "color/reduce.hpp"
#include "formats/gif/gif_internal.hpp"
#include "formats/gif/gif_lzw_decoder.hpp"
#include "formats/gif/gif_lzw_encoder.hpp"
#include "formats/gif/gif_rle_encoder.hpp"
#include "image/byte_order.hpp"
#include "image/limits.hpp"

namespace tamberlit {

TGIFSubImage::TGIFSubImage(TGIFImage& image) : TGIFItem(image), extensions_(*this), colorMap_(*this) {}

TGIFSubImage::~TGIFSubImage() {
    // Extensions refer back to the frame while they go.
    extensions_.Clear();
}

void TGIFSubImage::Clear() {
    extensions_.Clear();
    colorMap_.Clear();
    FreeData();
    descriptor_.Width = 0;
    descriptor_.Height = 0;
    transparent_ = false;
    graphicControl_ = nullptr;
    DropBitmap();
}

TGIFColorMap& TGIFSubImage::ActiveColorMap() {
    if (colorMap_.Count() > 0) return colorMap_;
    TGIFColorMap& global = Image().GlobalColorMap();
    if (global.Count() > 0) return global;
    return colorMap_;
}

// ---------------------------------------------------------------- pixels

bool TGIFSubImage::Empty() const { return !data_ || dataSize_ == 0 || Width() == 0 || Height() == 0; }

void TGIFSubImage::FreeData() {
    TGIFInternals::ReleaseDecoded(Image(), dataSize_);
    data_.reset();
    dataSize_ = 0;
}

void TGIFSubImage::DropBitmap() {
    bitmap_.reset();
    mask_.reset();
    maskNeeded_ = true;
}

uint8_t* TGIFSubImage::AllocateData() {
    Image().Limits.CheckSize(Width(), Height());
    const size_t size = static_cast<size_t>(Width()) * static_cast<size_t>(Height());
    Image().ChargeDecoded(size);
    FreeData();
    DropBitmap();
    if (size > 0) {
        try {
            data_ = std::make_unique_for_overwrite<uint8_t[]>(size);
        } catch (const std::bad_alloc&) {
            throw EOutOfMemory("Out of memory");
        }
    }
    dataSize_ = size;
    return data_.get();
}

uint8_t* TGIFSubImage::Data() {
    if (!data_) {
        const size_t size = static_cast<size_t>(Width()) * static_cast<size_t>(Height());
        if (size == 0) RaiseGIFError(GIFText::ImageIsEmpty);
        std::memset(AllocateData(), 0, size);
    }
    return data_.get();
}

uint8_t* TGIFSubImage::Scanline(int y) {
    if (y < 0 || y >= Height()) RaiseGIFError(GIFText::InvalidPixelCoordinates);
    return Data() + static_cast<size_t>(y) * static_cast<size_t>(Width());
}

uint8_t TGIFSubImage::Pixel(int x, int y) {
    if (x < 0 || x >= Width()) RaiseGIFError(GIFText::InvalidPixelCoordinates);
    return Scanline(y)[x];
}

void TGIFSubImage::RemapPixels(const uint8_t (&map)[TGIFColorMap::MaxColors]) {
    if (!Empty()) {
        uint8_t* pixels = data_.get();
        for (size_t i = 0; i < dataSize_; ++i) pixels[i] = map[pixels[i]];
    }
    for (int i = 0; i < extensions_.Count(); ++i)
        if (auto* control = dynamic_cast<TGIFGraphicControlExtension*>(&extensions_[i])) {
            uint8_t& index = TGIFInternals::TransparentColorIndex(*control);
            index = map[index];
        }
}

// ---------------------------------------------------------------- reading and writing

namespace {

// The largest bits per pixel over the global and all local colour tables.
int HighestBitsPerPixel(const TGIFImage& image) {
    int bits = image.Header().ColorMap().BitsPerPixel();
    for (int i = 0; i < image.Images().Count(); ++i) bits = std::max(bits, image.Images()[i].ColorMap().BitsPerPixel());
    return bits;
}

}  // namespace

void TGIFSubImage::Load(TGIFReader& reader) {
    Clear();
    // The graphic control extension read here decides the fill before any
    // pixel is decoded.
    extensions_.Load(reader);

    // A run of extensions followed by the trailer or a 0 byte is a frame
    // without image that keeps its extensions.
    const int next = reader.ReadByte();
    if (next < 0) return;
    reader.StepBack();
    if (next == GIFTrailer || next == 0) return;

    uint8_t bytes[10];
    reader.ReadExact(bytes, sizeof bytes);
    TByteReader fields(bytes);
    descriptor_.Separator = fields.U8();
    descriptor_.Left = fields.U16();
    descriptor_.Top = fields.U16();
    descriptor_.Width = fields.U16();
    descriptor_.Height = fields.U16();
    descriptor_.PackedFields = fields.U8();
    if (descriptor_.Width == 0 || descriptor_.Height == 0) {
        // A frame without a size takes the logical screen's.
        descriptor_.Width = static_cast<uint16_t>(Image().Width());
        descriptor_.Height = static_cast<uint16_t>(Image().Height());
        ReportWarning(gsWarning, GIFText::ImageExceedsScreen);
    }
    if (descriptor_.PackedFields & 0x80) colorMap_.LoadColors(reader, 2 << (descriptor_.PackedFields & 0x07));
    DecodeFrameData(*this, reader);
}

TGIFVersion TGIFSubImage::RequiredVersion() const {
    if (colorMap_.Optimized && colorMap_.Count() > 0) return gv89a;
    return extensions_.Count() > 0 ? gv89a : gv87a;
}

void TGIFSubImage::Save(TStream& stream) {
    extensions_.Save(stream);
    if (Empty()) return;

    TGIFImage& image = Image();
    TGIFColorMap& global = image.GlobalColorMap();
    int bits;
    int colorCount;
    if (colorMap_.Count() > 0) {
        // A frame with its own table is written in plain row order.
        descriptor_.PackedFields =
            static_cast<uint8_t>(0x80 | (colorMap_.Optimized ? 0x20 : 0) | (colorMap_.BitsPerPixel() - 1));
        bits = colorMap_.BitsPerPixel();
        colorCount = colorMap_.Count();
    } else {
        descriptor_.PackedFields &= 0x58;  // interlaced and the two reserved bits
        bits = HighestBitsPerPixel(image);
        // Pixels may use the global table as written (padded to a power of 2),
        // and no more: a decoder looks colours up in the table it has.
        colorCount = global.Count() > 0 ? 1 << global.BitsPerPixel() : 1 << bits;
    }

    TByteWriter fields;
    fields.U8(GIFImageSeparator)
        .U16(descriptor_.Left)
        .U16(descriptor_.Top)
        .U16(descriptor_.Width)
        .U16(descriptor_.Height)
        .U8(descriptor_.PackedFields);
    WriteRecord(stream, fields);
    if (colorMap_.Count() > 0) colorMap_.SaveColors(stream);

    TLZWEncoder lzw;
    TRLEEncoder rle;
    TGIFEncoder& encoder = image.Compression == 1 ? static_cast<TGIFEncoder&>(rle) : lzw;
    EncodeFrameData(encoder, stream, bits, colorCount, data_.get(), Interlaced(), Height(), Width());
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
    descriptor_.PackedFields = static_cast<uint8_t>((descriptor_.PackedFields & ~0x40) | (interlaced ? 0x40 : 0));
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

void ImportRows(TGIFSubImage& frame, TBitmap& bitmap) {
    const TPixelFormat format = IsPaletteFormat(bitmap.PixelFormat()) ? bitmap.PixelFormat() : Px24;
    const TDIBReader rows(bitmap, format);
    const int width = frame.Width();
    const int height = frame.Height();
    if (format != Px24) {
        const HPALETTE palette = bitmap.Palette();
        std::vector<TGIFColor> colors;
        for (size_t i = 0; i < std::min<size_t>(PaletteEntryCount(palette), TGIFColorMap::MaxColors); ++i) {
            const TPaletteEntry& entry = palette->Entries[i];
            colors.push_back({entry.peRed, entry.peGreen, entry.peBlue});
        }
        frame.ColorMap().Assign(colors.data(), static_cast<int>(colors.size()));
    }

    TGIFImage& image = frame.Image();
    TColorIndexMap known;
    TRecentColors recent;
    uint8_t* pixels = frame.Data();
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
                            index = frame.ColorMap().Add(RGBColor(row[2], row[1], row[0]));
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

void ApplyTransparency(TGIFSubImage& frame, const TBitmap& source) {
    const TDIBSection* dib = source.Image().Handle.get();
    if (!dib) return;
    const int width = frame.Width();
    const int height = frame.Height();
    std::vector<uint8_t> quads(4 * static_cast<size_t>(width));
    TColor transparent = source.TransparentColor & 0xFFFFFF;
    if (source.TransparentColor == defaultTransparentColor) {
        ReadPixelsBGRA(*dib, height - 1, 0, 1, quads.data());
        transparent = RGBColor(quads[2], quads[1], quads[0]);
    }

    // The most used colours first; the transparent entry goes after them.
    frame.ColorMap().Optimize();
    const int count = frame.ColorMap().Count();
    if (count < 1 || count >= TGIFColorMap::MaxColors) return;
    const int index = frame.ColorMap().Add(clBlack);
    bool marked = false;
    uint8_t* pixels = frame.Data();
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
        frame.ColorMap().Delete(index);
        return;
    }
    auto control = std::make_unique<TGIFGraphicControlExtension>(frame);
    control->SetTransparent(true);
    control->SetTransparentColorIndex(index);
    frame.Extensions().Add(std::move(control));
}

// Takes the frame's pixels and colours from a bitmap; returns the bitmap they
// were taken from (the source itself, or its colours reduced), which becomes
// the frame's bitmap.
std::unique_ptr<TBitmap> ImportBitmap(TGIFSubImage& frame, TBitmap& source) {
    frame.Clear();
    if (source.Empty()) return nullptr;
    TGIFImage& image = frame.Image();
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
            frame.SetBounds(frame.Left(), frame.Top(), bitmap->Width(), bitmap->Height());
            ImportRows(frame, *bitmap);
            if (source.Transparent) ApplyTransparency(frame, source);
        } catch (...) {
            // No half-built frame stays behind.
            frame.Clear();
            throw;
        }
    }
    return bitmap;
}

}  // namespace

void TGIFSubImage::CopyFrom(TGraphic* source) {
    if (!source) {
        Clear();
        return;
    }
    if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
        bitmap_ = ImportBitmap(*this, *bitmap);
        return;
    }
    Clear();
    if (source->Empty()) return;
    // Any other picture is taken through a bitmap (a refusal is EConvertError).
    TBitmap bitmap;
    bitmap.CopyFrom(source);
    bitmap_ = ImportBitmap(*this, bitmap);
}

// ---------------------------------------------------------------- the frame as a bitmap

namespace {

// round(value * numerator / denominator), halves away from zero, for value >= 0.
int RoundedRatio(int value, int numerator, int denominator) {
    return (2 * value * numerator + denominator) / (2 * denominator);
}

// The frame's bitmap and, when asked for, the mask that marks its transparent
// pixels for drawing (nullptr when no pixel is transparent).
struct TFrameBitmap {
    std::unique_ptr<TBitmap> Bitmap;
    std::unique_ptr<TBitmap> Mask;
};

// The frame's pixels as an 8-bit bitmap, in the frame's own colours or
// dithered to the 216-colour cube.
TFrameBitmap BuildBitmap(TGIFSubImage& frame, bool dithered, bool buildMask) {
    const int width = frame.Width();
    const int height = frame.Height();
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->Limits = frame.Image().Limits;
    TDIBWriter writer(*bitmap, frame.FramePalette(), width, height, Px8);

    const size_t maskRowBytes = static_cast<size_t>((width + 15) / 16) * 2;
    std::vector<uint8_t> mask(buildMask ? maskRowBytes * static_cast<size_t>(height) : 0);
    bool anyMasked = false;
    const TGIFGraphicControlExtension* control = frame.GraphicControlExtension();
    const uint8_t transparentIndex = control ? control->TransparentColorIndex() : 0;
    auto markTransparent = [&](int x, int y) {
        mask[static_cast<size_t>(y) * maskRowBytes + static_cast<size_t>(x / 8)] |=
            static_cast<uint8_t>(0x80 >> (x % 8));
        anyMasked = true;
    };

    // The dithered build maps the frame's colours to the 216-colour cube.
    std::unique_ptr<TNetscapeColorLookup> lookup;
    std::unique_ptr<TFloydSteinbergDitherer> ditherer;
    TGIFColorMap* colors = nullptr;
    TGIFColor known[256];
    uint8_t transparentFill = 0;
    if (dithered) {
        lookup = std::make_unique<TNetscapeColorLookup>();
        ditherer = std::make_unique<TFloydSteinbergDitherer>(width, *lookup);
        colors = &frame.ActiveColorMap();
        for (int i = 0; i < colors->Count(); ++i) known[i] = colors->Entry(i);
        if (buildMask) {
            // The cube index of the transparent colour plus 1 (not the index itself).
            const TColor color = colors->Color(transparentIndex);
            transparentFill = static_cast<uint8_t>(RoundedRatio(RedOf(color), 36, 51) +
                                                   RoundedRatio(GreenOf(color), 6, 51) + BlueOf(color) / 51 + 1);
        }
    }

    TGIFImage& image = frame.Image();
    for (int y = 0; y < height; ++y) {
        if (y % 32 == 0) image.Progress(gpsRunning, static_cast<int>(int64_t{y} * 100 / height), GIFText::Rendering);
        const uint8_t* source = std::as_const(frame).Data() + static_cast<size_t>(y) * static_cast<size_t>(width);
        uint8_t* target = writer.RowAddress(y);
        if (!dithered) {
            std::memcpy(target, source, static_cast<size_t>(width));
            if (buildMask)
                for (int x = 0; x < width; ++x)
                    if (source[x] == transparentIndex) markTransparent(x, y);
            continue;
        }
        if (buildMask) std::memset(target, transparentFill, static_cast<size_t>(width));
        // The ditherer chooses the direction of each row.
        for (int i = 0; i < width; ++i) {
            const int x = ditherer->Column();
            const uint8_t index = source[x];
            if (buildMask && index == transparentIndex) {
                markTransparent(x, y);
                ditherer->SkipPixel();
                continue;
            }
            // An index outside the table reports a warning and uses entry 0.
            const TGIFColor color = index < colors->Count() ? known[index] : ToGIFColor(colors->Color(index));
            target[x] = ditherer->DitherPixel(color.Red, color.Green, color.Blue);
        }
        ditherer->EndRow();
    }
    writer.Finish();

    TFrameBitmap built;
    if (anyMasked) {
        built.Mask = std::make_unique<TBitmap>();
        built.Mask->NewImage(width, height, Px1);
        for (int y = 0; y < height; ++y)
            std::memcpy(built.Mask->RowAddress(y), mask.data() + static_cast<size_t>(y) * maskRowBytes,
                        static_cast<size_t>((width + 7) / 8));
    }
    built.Bitmap = std::move(bitmap);
    return built;
}

}  // namespace

HPALETTE TGIFSubImage::FramePalette() {
    if (bitmap_) {
        HPALETTE own = bitmap_->Palette();
        if (PaletteEntryCount(own) > 0) return own;
    }
    if (palette_) return palette_;
    if (Image().ShouldDither()) return palette_ = CreateNetscapePalette();
    if (colorMap_.Count() > 0) return palette_ = PaletteFromColorMap(colorMap_);
    return Image().ImagePalette();
}

void TGIFSubImage::SetFramePalette(HPALETTE palette) {
    if (palette == palette_) return;
    palette_ = std::move(palette);
    if (bitmap_ && !SameColors(bitmap_->Palette(), palette_)) {
        DropBitmap();
        Image().ContentChanged();
        TGIFInternals::Changed(Image());
    }
}

TBitmap* TGIFSubImage::FrameBitmap() {
    if (bitmap_ || Empty()) return bitmap_.get();
    TGIFImage& image = Image();
    HPALETTE imagePalette;
    {
        TGIFProgressScope progress(image, GIFText::Rendering);
        imagePalette = TGIFInternals::CachedPalette(image);
        try {
            // The mask is built with the first bitmap of a transparent frame.
            const bool buildMask = maskNeeded_ && transparent_;
            maskNeeded_ = false;
            TFrameBitmap built = BuildBitmap(*this, image.ShouldDither(), buildMask);
            if (built.Mask) mask_ = std::move(built.Mask);
            bitmap_ = std::move(built.Bitmap);
        } catch (const EAbort&) {
            // A silent abort (from a progress handler) leaves the frame without bitmap.
            DropBitmap();
            progress.GiveUp();
            return nullptr;
        } catch (...) {
            DropBitmap();
            throw;
        }
    }
    if (TGIFInternals::CachedPalette(image) != imagePalette) TGIFInternals::Changed(image);
    return bitmap_.get();
}

void TGIFSubImage::AssignTo(TBitmap& dest) { dest.CopyFrom(FrameBitmap()); }

}  // namespace tamberlit
