// A loaded GIF as a bitmap: each frame becomes an 8-bit palette bitmap (its own
// colours, or dithered to the 216-colour cube), and the image's picture is its
// first frame on the logical screen.

#include <cstring>

#include "color/color_lookup.hpp"
#include "color/dib_rows.hpp"
#include "color/dither.hpp"
#include "color/palettes.hpp"
#include "formats/gif/gif_internal.hpp"
#include "image/limits.hpp"

namespace tamberlit {

namespace {

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

// round(value * numerator / denominator), halves away from zero, for value >= 0.
int RoundedRatio(int value, int numerator, int denominator) {
    return (2 * value * numerator + denominator) / (2 * denominator);
}

// A position on the logical screen scaled to a target extent.
int ScaleToTarget(int position, int targetExtent, int screenExtent) {
    return static_cast<int>((int64_t{position} * targetExtent * 2 + screenExtent) / (int64_t{screenExtent} * 2));
}

}  // namespace

// ---------------------------------------------------------------- TGIFImage

bool TGIFImage::ShouldDither() const {
    return (DrawOptions & goUseDithering) != 0 &&
           ((DrawOptions & goDitherOnlyOnPalettedScreens) == 0 || PalettedScreen);
}

HPALETTE TGIFImage::Palette() const { return const_cast<TGIFImage*>(this)->ImagePalette(); }

void TGIFImage::SetPalette(HPALETTE palette) {
    if (palette == palette_) return;
    palette_ = std::move(palette);
    if (bitmap_ && !SameColors(bitmap_->Palette(), palette_)) {
        bitmap_.reset();
        Changed();
    }
}

void TGIFImage::RaiseNoColorTable() { RaiseGIFError(GIFText::NoColorTable); }

HPALETTE TGIFImage::ImagePalette() {
    if (bitmap_) {
        HPALETTE own = bitmap_->Palette();
        if (PaletteEntryCount(own) > 0) return own;
    }
    if (palette_) return palette_;
    if (ShouldDither()) return palette_ = CreateNetscapePalette();
    if (GlobalColorMap().Count() > 0) return palette_ = PaletteFromColorMap(GlobalColorMap());
    if (images_.Count() == 0) return nullptr;
    // The first frame's palette, not kept here. When that frame has no table
    // either it asks the image again: that second lookup ends the loop.
    if (paletteLookup_) RaiseNoColorTable();
    paletteLookup_ = true;
    try {
        HPALETTE palette = images_[0].FramePalette();
        paletteLookup_ = false;
        return palette;
    } catch (...) {
        paletteLookup_ = false;
        throw;
    }
}

TBitmap* TGIFImage::RenderedBitmap() {
    if (images_.Count() == 0) return nullptr;
    if (bitmap_) return bitmap_.get();
    bitmap_ = std::make_unique<TBitmap>();
    bitmap_->Limits = Limits;
    bitmap_->OnChange = [this](TGraphic&) { Changed(); };
    try {
        TGIFSubImage& frame = images_[0];
        if (frame.Width() == Width() && frame.Height() == Height()) {
            // The frame is the picture; its position is not looked at.
            bitmap_->CopyFrom(frame.FrameBitmap());
        } else {
            // The frame drawn at its place on a white screen, opaque. Sizing a
            // bitmap without a format makes a display-format picture.
            Limits.CheckSize(Width(), Height());
            bitmap_->SetPalette(ImagePalette());
            bitmap_->SetHeight(Height());
            bitmap_->SetWidth(Width());
            TBitmap* source = frame.FrameBitmap();
            if (source && !bitmap_->Empty()) {
                const TRect target = bitmap_->Canvas().ClipRect();
                const TRect place{
                    target.Left + ScaleToTarget(frame.Left(), target.Width(), Width()),
                    target.Top + ScaleToTarget(frame.Top(), target.Height(), Height()),
                    target.Left + ScaleToTarget(frame.Left() + frame.Width(), target.Width(), Width()),
                    target.Top + ScaleToTarget(frame.Top() + frame.Height(), target.Height(), Height())};
                bitmap_->Canvas().StretchDraw(place, *source);
            }
        }
    } catch (...) {
        bitmap_.reset();  // a half-built picture is not kept
        throw;
    }
    return bitmap_.get();
}

void TGIFImage::AssignTo(TGraphic& dest) {
    if (auto* bitmap = dynamic_cast<TBitmap*>(&dest)) {
        bitmap->CopyFrom(RenderedBitmap());
        return;
    }
    TGraphic::AssignTo(dest);
}

// ---------------------------------------------------------------- TGIFSubImage

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
        Image().Changed();
    }
}

TBitmap* TGIFSubImage::FrameBitmap() {
    if (bitmap_ || Empty()) return bitmap_.get();
    TGIFImage& image = Image();
    HPALETTE imagePalette;
    {
        TGIFProgressScope progress(image, GIFText::Rendering);
        imagePalette = image.palette_;
        try {
            BuildBitmap(image.ShouldDither());
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
    if (image.palette_ != imagePalette) image.Changed();
    return bitmap_.get();
}

void TGIFSubImage::AssignTo(TBitmap& dest) { dest.CopyFrom(FrameBitmap()); }

void TGIFSubImage::BuildBitmap(bool dithered) {
    const int width = Width();
    const int height = Height();
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->Limits = Image().Limits;
    TDIBWriter writer(*bitmap, FramePalette(), width, height, Px8);

    // The mask marks transparent pixels for drawing; it is built with the
    // first bitmap of a transparent frame.
    const bool buildMask = maskNeeded_ && transparent_;
    maskNeeded_ = false;
    const size_t maskRowBytes = static_cast<size_t>((width + 15) / 16) * 2;
    std::vector<uint8_t> mask(buildMask ? maskRowBytes * static_cast<size_t>(height) : 0);
    bool anyMasked = false;
    const uint8_t transparentIndex = graphicControl_ ? graphicControl_->TransparentColorIndex() : 0;
    auto markTransparent = [&](int x, int y) {
        mask[static_cast<size_t>(y) * maskRowBytes + static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
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
        colors = &ActiveColorMap();
        for (int i = 0; i < colors->Count(); ++i) known[i] = colors->Entry(i);
        if (buildMask) {
            // The cube index of the transparent colour plus 1 (not the index itself).
            const TColor color = colors->Color(transparentIndex);
            transparentFill = static_cast<uint8_t>(RoundedRatio(RedOf(color), 36, 51) +
                                                   RoundedRatio(GreenOf(color), 6, 51) + BlueOf(color) / 51 + 1);
        }
    }

    TGIFImage& image = Image();
    for (int y = 0; y < height; ++y) {
        if (y % 32 == 0) image.Progress(gpsRunning, static_cast<int>(int64_t{y} * 100 / height), GIFText::Rendering);
        const uint8_t* source = data_.get() + static_cast<size_t>(y) * static_cast<size_t>(width);
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

    if (anyMasked) {
        mask_ = std::make_unique<TBitmap>();
        mask_->NewImage(width, height, Px1);
        for (int y = 0; y < height; ++y)
            std::memcpy(mask_->RowAddress(y), mask.data() + static_cast<size_t>(y) * maskRowBytes,
                        static_cast<size_t>((width + 7) / 8));
    }
    bitmap_ = std::move(bitmap);
}

}  // namespace tamberlit
