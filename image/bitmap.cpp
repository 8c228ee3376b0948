#include "image/bitmap.hpp"

#include <algorithm>
#include <cstring>

#include "image/exceptions.hpp"

namespace tamberlit {

std::mutex& BitmapImageLock() {
    static std::mutex lock;
    return lock;
}

std::shared_ptr<TBitmapImage> TBitmapImage::Clone() const {
    auto copy = std::make_shared<TBitmapImage>();
    if (Handle) copy->Handle = Handle->Clone();
    copy->Palette = Palette;
    copy->Halftone = Halftone;
    copy->OS2Format = OS2Format;
    return copy;
}

namespace {

[[noreturn]] void RaiseScanLineError() { throw EInvalidGraphicOperation("Scan line index out of range"); }

// The colour table a block of the given format gets when it is made here.
std::vector<TRGBQuad> DefaultColorTable(TPixelFormat format, const HPALETTE& current) {
    switch (format) {
        case Px1:
            if (PaletteEntryCount(current) >= 2) {
                auto table = ColorTableFromPalette(current);
                table.resize(2);
                return table;
            }
            return {TRGBQuad{0, 0, 0, 0}, TRGBQuad{255, 255, 255, 0}};
        case Px4: return ColorTableFromPalette(SystemPalette16());
        case Px8: return ColorTableFromPalette(HalftonePalette());
        default: return {};
    }
}

std::unique_ptr<TDIBSection> CreateBlock(TPixelFormat format, int width, int height, const HPALETTE& current,
                                         const TSizeLimits& limits) {
    if (format == PxDevice) return TDIBSection::CreateDevice(width, height, limits);
    static const uint32_t masks565[3] = {0xF800, 0x07E0, 0x001F};
    const bool masked = format == Px16;
    return TDIBSection::Create(width, height, BitCountOf(format), masked ? BI_BITFIELDS : BI_RGB,
                               masked ? masks565 : nullptr, DefaultColorTable(format, current), limits);
}

// Carries the picture from one block into another of the same size.
void ConvertPixels(const TDIBSection& from, TDIBSection& to) {
    const int width = from.Width();
    const int height = from.Height();
    const TPixelFormat fromFormat = from.Format();
    const TPixelFormat toFormat = to.Format();
    if (fromFormat == Px32 && toFormat == Px24) {
        for (int y = 0; y < height; ++y) {
            const uint8_t* source = from.Row(y);
            uint8_t* target = to.Row(y);
            for (int x = 0; x < width; ++x, source += 4, target += 3) {
                target[0] = source[0];
                target[1] = source[1];
                target[2] = source[2];
            }
        }
        return;
    }
    if (fromFormat == Px8 && toFormat == Px24) {
        uint8_t colors[256][3] = {};
        for (size_t i = 0; i < std::min<size_t>(256, from.ColorTable.size()); ++i) {
            colors[i][0] = from.ColorTable[i].rgbBlue;
            colors[i][1] = from.ColorTable[i].rgbGreen;
            colors[i][2] = from.ColorTable[i].rgbRed;
        }
        for (int y = 0; y < height; ++y) {
            const uint8_t* source = from.Row(y);
            uint8_t* target = to.Row(y);
            for (int x = 0; x < width; ++x, target += 3) std::memcpy(target, colors[source[x]], 3);
        }
        return;
    }
    std::vector<uint8_t> quads(4 * static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        ReadPixelsBGRA(from, y, 0, width, quads.data());
        WritePixelsBGRA(to, y, 0, width, quads.data());
    }
}

void FillBlock(TDIBSection& dib, TColor color) {
    const int width = dib.Width();
    const int height = dib.Height();
    if (width == 0 || height == 0) return;
    std::vector<uint8_t> quads(4 * static_cast<size_t>(width));
    for (int x = 0; x < width; ++x) {
        quads[4 * x] = BlueOf(color);
        quads[4 * x + 1] = GreenOf(color);
        quads[4 * x + 2] = RedOf(color);
        quads[4 * x + 3] = 0;
    }
    WritePixelsBGRA(dib, 0, 0, width, quads.data());
    for (int y = 1; y < height; ++y) std::memcpy(dib.Row(y), dib.Row(0), dib.Stride());
}

// Copies the top-left width x height pixels of one block into another of the
// same layout.
void CopyCorner(const TDIBSection& from, TDIBSection& to, int width, int height) {
    // A block without pixels (0 wide or high) has no memory to copy from.
    if (width <= 0 || height <= 0) return;
    const int bits = from.BitCount();
    if (bits >= 8) {
        const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(bits / 8);
        for (int y = 0; y < height; ++y) std::memcpy(to.Row(y), from.Row(y), bytes);
        return;
    }
    const int perByte = 8 / bits;
    const unsigned mask = (1u << bits) - 1;
    for (int y = 0; y < height; ++y) {
        const uint8_t* source = from.Row(y);
        uint8_t* target = to.Row(y);
        for (int x = 0; x < width; ++x) {
            const unsigned shift = static_cast<unsigned>((perByte - 1 - x % perByte) * bits);
            const unsigned index = (source[x / perByte] >> shift) & mask;
            target[x / perByte] = static_cast<uint8_t>((target[x / perByte] & ~(mask << shift)) | index << shift);
        }
    }
}

}  // namespace

TBitmap::TBitmap() : image_(std::make_shared<TBitmapImage>()) {}

void TBitmap::ReplaceImage(std::shared_ptr<TBitmapImage> image) {
    std::lock_guard lock(BitmapImageLock());
    image_.swap(image);
    // The old image, possibly its last reference, goes here, under the lock.
    image.reset();
}

TBitmap::~TBitmap() {
    std::lock_guard lock(BitmapImageLock());
    image_.reset();
}

void TBitmap::CopyFrom(TGraphic* source) {
    if (source == this) return;
    if (source == nullptr) {
        ReplaceImage(std::make_shared<TBitmapImage>());
        formatRequested_ = false;
        Changed();
        return;
    }
    if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
        ReplaceImage(bitmap->image_);
        formatRequested_ = bitmap->formatRequested_;
        requestedFormat_ = bitmap->requestedFormat_;
        Transparent = bitmap->Transparent;
        TransparentColor = bitmap->TransparentColor;
        Changed();
        return;
    }
    source->AssignTo(*this);
}

void TBitmap::AssignTo(TGraphic& dest) {
    if (auto* bitmap = dynamic_cast<TBitmap*>(&dest)) {
        bitmap->CopyFrom(this);
        return;
    }
    TGraphic::AssignTo(dest);
}

void TBitmap::MakePrivate() {
    std::shared_ptr<TBitmapImage> shared;
    {
        std::lock_guard lock(BitmapImageLock());
        if (image_.use_count() == 1) {
            image_->SavedStream.reset();
            return;
        }
        shared = image_;
    }
    // Nobody writes into an image while we hold a reference to it: a writer
    // first sees the count above 1 and makes its own copy.
    ReplaceImage(shared->Clone());
    std::lock_guard lock(BitmapImageLock());
    shared.reset();
}

TDIBSection* TBitmap::MutableDib() {
    MakePrivate();
    return image_->Handle.get();
}

TBitmapImage& TBitmap::MutableImage() {
    MakePrivate();
    return *image_;
}

bool TBitmap::Empty() const {
    const TDIBSection* dib = Dib();
    return dib == nullptr || dib->Width() == 0 || dib->Height() == 0;
}

int TBitmap::Width() const { return Dib() ? Dib()->Width() : 0; }

int TBitmap::Height() const { return Dib() ? Dib()->Height() : 0; }

TPixelFormat TBitmap::PixelFormat() const {
    if (const TDIBSection* dib = Dib()) return dib->Format();
    return formatRequested_ ? requestedFormat_ : PxDevice;
}

void TBitmap::SetWidth(int width) { Resize(width, Height()); }

void TBitmap::SetHeight(int height) { Resize(Width(), height); }

void TBitmap::SetSize(int width, int height) { Resize(width, height); }

void TBitmap::Resize(int width, int height) {
    if (width < 0 || height < 0) throw EInvalidGraphicOperation("Invalid image size");
    const TDIBSection* old = Dib();
    if (old && old->Width() == width && old->Height() == height) return;
    if (!old && width == 0 && height == 0) return;

    std::unique_ptr<TDIBSection> block;
    if (old) {
        // The same layout as before: format, masks and colour table.
        block = old->DeviceDependent ? TDIBSection::CreateDevice(width, height, Limits)
                                     : TDIBSection::Create(width, height, old->BitCount(), old->Header.biCompression,
                                                           old->Masks, old->ColorTable, Limits);
    } else if (formatRequested_) {
        block = CreateBlock(requestedFormat_, width, height, image_->Palette, Limits);
    } else {
        block = TDIBSection::CreateDevice(width, height, Limits);
    }
    FillBlock(*block, canvas_ ? canvas_->Brush.Color : clWhite);
    if (old) CopyCorner(*old, *block, std::min(width, old->Width()), std::min(height, old->Height()));

    auto image = std::make_shared<TBitmapImage>();
    image->Handle = std::move(block);
    image->Palette = image_->Palette;
    image->OS2Format = image_->OS2Format;
    image->Halftone = old ? image_->Halftone : formatRequested_ && requestedFormat_ == Px8;
    ReplaceImage(std::move(image));
    Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    if (format == PixelFormat()) return;
    if (format == PxCustom) throw EInvalidGraphic("Invalid pixel format");
    const TDIBSection* old = Dib();
    if (!old) {
        requestedFormat_ = format;
        formatRequested_ = format != PxDevice;
        return;
    }
    const HPALETTE palette = Palette();
    auto block = CreateBlock(format, old->Width(), old->Height(), palette, Limits);
    ConvertPixels(*old, *block);

    auto image = std::make_shared<TBitmapImage>();
    image->OS2Format = image_->OS2Format;
    if (format == Px8) {
        image->Halftone = true;
    } else if (format != Px1 && format != Px4) {
        // Formats above 8 bits keep the palette, and with it whether the
        // bitmap made that palette for itself.
        image->Palette = palette;
        image->Halftone = image_->Halftone;
    }
    image->Handle = std::move(block);
    ReplaceImage(std::move(image));
    formatRequested_ = false;
    Changed();
}

void TBitmap::NewImage(int width, int height, TPixelFormat format) {
    if (format == PxCustom) throw EInvalidGraphic("Invalid pixel format");
    auto image = std::make_shared<TBitmapImage>();
    image->Handle = CreateBlock(format, width, height, nullptr, Limits);
    image->Halftone = format == Px8;
    ReplaceImage(std::move(image));
    formatRequested_ = false;
}

uint8_t* TBitmap::RowAddress(int row) {
    const TDIBSection* dib = Dib();
    if (!dib || row < 0 || row >= dib->Height()) RaiseScanLineError();
    if (dib->DeviceDependent) SetHandleType(THandleType::bmDIB);
    return MutableDib()->Row(row);
}

const uint8_t* TBitmap::ConstRowAddress(int row) const {
    const TDIBSection* dib = Dib();
    if (!dib || row < 0 || row >= dib->Height()) RaiseScanLineError();
    return dib->Row(row);
}

size_t TBitmap::RowBytes() const { return Dib() ? Dib()->Stride() : 0; }

TDIBSection* TBitmap::Handle() {
    if (Empty()) return nullptr;
    return MutableDib();
}

void TBitmap::SetHandle(HBITMAP handle) {
    auto image = std::make_shared<TBitmapImage>();
    image->Handle = std::move(handle);
    ReplaceImage(std::move(image));
    formatRequested_ = false;
    Changed();
}

HBITMAP TBitmap::DetachHandle() {
    if (!Dib()) return nullptr;
    MakePrivate();
    HBITMAP handle = std::move(image_->Handle);
    ReplaceImage(std::make_shared<TBitmapImage>());
    Changed();
    return handle;
}

THandleType TBitmap::HandleType() const {
    return Dib() && Dib()->DeviceDependent ? THandleType::bmDDB : THandleType::bmDIB;
}

void TBitmap::SetHandleType(THandleType type) {
    const TDIBSection* dib = Dib();
    if (!dib || type == HandleType()) return;
    if (type == THandleType::bmDDB) {
        SetPixelFormat(PxDevice);
        return;
    }
    // A device-dependent block becomes a block at the display's depth.
    MutableDib()->DeviceDependent = false;
    Changed();
}

HPALETTE TBitmap::Palette() const {
    const TDIBSection* dib = Dib();
    if (dib && !dib->DeviceDependent && dib->BitCount() <= 8) return CreatePaletteFromColorTable(dib->ColorTable);
    return image_->Palette;
}

void TBitmap::SetPalette(HPALETTE palette) {
    MakePrivate();
    TDIBSection* dib = image_->Handle.get();
    if (dib && !dib->DeviceDependent && dib->BitCount() <= 8) {
        if (!palette) return;
        auto table = ColorTableFromPalette(palette);
        table.resize(std::min(table.size(), size_t{1} << dib->BitCount()));
        dib->ColorTable = std::move(table);
    } else {
        image_->Palette = std::move(palette);
    }
    image_->Halftone = false;
    Changed();
}

TCanvas& TBitmap::Canvas() {
    if (!canvas_) canvas_ = std::make_unique<TCanvas>(*this);
    return *canvas_;
}

void TBitmap::Changed() { TGraphic::Changed(); }

void TBitmap::LoadFromStream(TStream& stream) { ReadBMP(stream); }

void TBitmap::SaveToStream(TStream& stream) { WriteBMP(stream); }

// ---------------------------------------------------------------- TCanvas

TRect TCanvas::ClipRect() const { return {0, 0, owner_.Width(), owner_.Height()}; }

void TCanvas::FillRect(const TRect& rect) {
    const TRect clip = ClipRect();
    const int left = std::max(rect.Left, clip.Left), right = std::min(rect.Right, clip.Right);
    const int top = std::max(rect.Top, clip.Top), bottom = std::min(rect.Bottom, clip.Bottom);
    if (left >= right || top >= bottom) return;
    TDIBSection* dib = owner_.MutableDib();
    std::vector<uint8_t> quads(4 * static_cast<size_t>(right - left));
    for (size_t x = 0; x < quads.size(); x += 4) {
        quads[x] = BlueOf(Brush.Color);
        quads[x + 1] = GreenOf(Brush.Color);
        quads[x + 2] = RedOf(Brush.Color);
        quads[x + 3] = 0;
    }
    for (int y = top; y < bottom; ++y) WritePixelsBGRA(*dib, y, left, right, quads.data());
    owner_.Changed();
}

void TCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect) {
    if (dest.Width() <= 0 || dest.Height() <= 0 || sourceRect.Width() <= 0 || sourceRect.Height() <= 0) return;
    if (source.owner_.Empty() || owner_.Empty()) return;
    // Reading from the image we are about to write needs a copy of it.
    std::unique_ptr<TDIBSection> selfCopy;
    if (&source.owner_ == &owner_) selfCopy = owner_.Dib()->Clone();
    const TDIBSection& from = selfCopy ? *selfCopy : *source.owner_.Dib();
    TDIBSection* to = owner_.MutableDib();

    const TRect clip = ClipRect();
    const int left = std::max(dest.Left, clip.Left), right = std::min(dest.Right, clip.Right);
    const int top = std::max(dest.Top, clip.Top), bottom = std::min(dest.Bottom, clip.Bottom);
    if (left >= right || top >= bottom) return;

    std::vector<uint8_t> sourceRow(4 * static_cast<size_t>(from.Width()));
    std::vector<uint8_t> targetRow(4 * static_cast<size_t>(right - left));
    for (int y = top; y < bottom; ++y) {
        const int64_t sy = sourceRect.Top + int64_t(y - dest.Top) * sourceRect.Height() / dest.Height();
        if (sy < 0 || sy >= from.Height()) continue;
        ReadPixelsBGRA(from, static_cast<int>(sy), 0, from.Width(), sourceRow.data());
        bool any = false;
        int runStart = left;
        for (int x = left; x < right; ++x) {
            const int64_t sx = sourceRect.Left + int64_t(x - dest.Left) * sourceRect.Width() / dest.Width();
            if (sx < 0 || sx >= from.Width()) {
                // Outside the source: leave the target pixel as it is.
                if (any) WritePixelsBGRA(*to, y, runStart, x, targetRow.data() + 4 * (runStart - left));
                any = false;
                runStart = x + 1;
                continue;
            }
            std::memcpy(targetRow.data() + 4 * (x - left), sourceRow.data() + 4 * sx, 4);
            any = true;
        }
        if (any) WritePixelsBGRA(*to, y, runStart, right, targetRow.data() + 4 * (runStart - left));
    }
    owner_.Changed();
}

void TCanvas::StretchDraw(const TRect& dest, TBitmap& source) {
    CopyRect(dest, source.Canvas(), source.Canvas().ClipRect());
}

void TCanvas::Draw(int x, int y, TBitmap& source) {
    StretchDraw({x, y, x + source.Width(), y + source.Height()}, source);
}

TColor TCanvas::Pixel(int x, int y) {
    const TDIBSection* dib = owner_.Dib();
    if (!dib || x < 0 || y < 0 || x >= dib->Width() || y >= dib->Height()) return 0xFFFFFFFF;
    uint8_t quad[4];
    ReadPixelsBGRA(*dib, y, x, x + 1, quad);
    return RGBColor(quad[2], quad[1], quad[0]);
}

void TCanvas::SetPixel(int x, int y, TColor color) {
    if (owner_.Empty() || x < 0 || y < 0 || x >= owner_.Width() || y >= owner_.Height()) return;
    const uint8_t quad[4] = {BlueOf(color), GreenOf(color), RedOf(color), 0};
    WritePixelsBGRA(*owner_.MutableDib(), y, x, x + 1, quad);
    owner_.Changed();
}

}  // namespace tamberlit
