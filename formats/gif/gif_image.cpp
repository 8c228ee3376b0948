#include "formats/gif/gif_image.hpp"

#include <exception>

#include "color/palettes.hpp"
#include "formats/gif/gif_internal.hpp"
#include "image/limits.hpp"
#include "image/picture_registry.hpp"

namespace tamberlit {

const bool PalettedScreen = ScreenBitsPerPixel * ScreenPlanes <= 8;

namespace {

// A frame object with its lists costs a few hundred bytes besides its pixels.
constexpr uint64_t frameOverhead = 256;

// The format registration, and the clipboard format of the same name.
struct TGIFRegistration {
    TPictureFormatRegistration format{
        {"GIF"}, GIFText::GIFImage, "TGIFImage", [] { return std::make_unique<TGIFImage>(); }};
    TGIFRegistration() { TPicture::RegisterClipboardFormat(RegisterClipboardFormat(GIFText::GIFImage), "TGIFImage"); }
};
const TGIFRegistration registration;

// Reads the frames up to the trailer; false when it stopped early
// (FirstFrameOnly), short of the trailer.
bool LoadFrames(TGIFImage& image, TGIFReader& reader) {
    // Bytes of value 0 between blocks are skipped; a block that is neither an
    // extension nor an image ends the list (GIF89a, section 15, allows no others).
    auto nextBlock = [&reader] {
        int byte;
        do byte = reader.ReadByte();
        while (byte == 0);
        return byte;
    };
    int byte = nextBlock();
    while (byte != GIFTrailer) {
        if (byte < 0) return true;
        reader.StepBack();
        if (byte != GIFExtensionIntroducer && byte != GIFImageSeparator) {
            image.ReportWarning(nullptr, gsWarning, GIFText::UnknownGIFBlockType);
            return true;
        }
        image.ChargeDecoded(frameOverhead);
        auto frame = std::make_unique<TGIFSubImage>(image);
        frame->Load(reader);  // a frame that fails goes with the unwinding
        image.Images().Add(std::move(frame));
        if (image.FirstFrameOnly) return false;
        const int64_t size = reader.Size();
        image.Progress(gpsRunning, size > 0 ? static_cast<int>((200 * reader.Position() + size) / (2 * size)) : 100,
                       GIFText::Loading);
        byte = nextBlock();
    }
    reader.StepBack();
    return true;
}

void CheckTrailer(TGIFImage& image, TGIFReader& reader) {
    // A file that ends without its trailer is accepted silently.
    const int byte = reader.ReadByte();
    if (byte >= 0 && byte != GIFTrailer) image.ReportWarning(nullptr, gsWarning, GIFText::InvalidImageTrailer);
}

// A position on the logical screen scaled to a target extent.
int ScaleToTarget(int position, int targetExtent, int screenExtent) {
    return static_cast<int>((int64_t{position} * targetExtent * 2 + screenExtent) / (int64_t{screenExtent} * 2));
}

}  // namespace

TGIFImage::TGIFImage() : header_(*this) {}

TGIFImage::~TGIFImage() { images_.Clear(); }

void TGIFImage::Clear() {
    rowsPresent_ = {};
    bitmap_.reset();
    images_.Clear();
    header_.Clear();
    palette_.reset();
    decodedUnits_ = 0;
}

void TGIFImage::ContentChanged() {
    bitmap_.reset();
    palette_.reset();
}

void TGIFImage::ChargeDecoded(uint64_t units) {
    Limits.CheckTotal(decodedUnits_ + units);
    decodedUnits_ += units;
}

// ---------------------------------------------------------------- warnings and progress

void TGIFImage::ReportWarning(const TGIFItem* sender, TGIFSeverity severity, const std::string& message) {
    if (OnGIFWarning) OnGIFWarning(*this, sender, severity, message);
}

void TGIFImage::Progress(TGIFProgressStage stage, int percent, const std::string& message) {
    if (OnProgress) OnProgress(*this, stage, percent, message);
}

TGIFProgressScope::TGIFProgressScope(TGIFImage& image, const char* message)
    : image_(image), message_(message), errorsAtStart_(std::uncaught_exceptions()) {
    image_.Progress(gpsStarting, 0, message_);
}

TGIFProgressScope::~TGIFProgressScope() noexcept(false) {
    if (std::uncaught_exceptions() > errorsAtStart_) {
        // An error is leaving the step: what a handler raises now cannot take
        // its place (raising it here would end the program), so it is dropped.
        try {
            image_.Progress(gpsEnding, 0, message_);
        } catch (...) {
        }
        return;
    }
    image_.Progress(gpsEnding, givenUp_ ? 0 : 100, message_);
}

// ---------------------------------------------------------------- the logical screen

void TGIFImage::SetWidth(int width) {
    if (width < 0 || width > 0xFFFF) RaiseGIFError(GIFText::InvalidImageDimensions);
    for (int i = 0; i < images_.Count(); ++i)
        if (images_[i].Left() + images_[i].Width() > width) RaiseGIFError(GIFText::ImageWidthTooSmall);
    header_.Descriptor.ScreenWidth = static_cast<uint16_t>(width);
    ContentChanged();
    Changed();
}

void TGIFImage::SetHeight(int height) {
    if (height < 0 || height > 0xFFFF) RaiseGIFError(GIFText::InvalidImageDimensions);
    for (int i = 0; i < images_.Count(); ++i)
        if (images_[i].Top() + images_[i].Height() > height) RaiseGIFError(GIFText::ImageHeightTooSmall);
    header_.Descriptor.ScreenHeight = static_cast<uint16_t>(height);
    ContentChanged();
    Changed();
}

// ---------------------------------------------------------------- reading and writing

void TGIFImage::LoadFromStream(TStream& stream) {
    {
        TGIFProgressScope progress(*this, GIFText::Loading);
        Clear();
        TGIFReader reader(stream);
        const int64_t start = reader.Position();
        try {
            header_.Load(reader);
            if (LoadFrames(*this, reader)) CheckTrailer(*this, reader);
        } catch (...) {
            // The frames read completely before the error stay.
            stream.SetPosition(start);
            throw;
        }
        reader.Commit();
        // The first frame is the picture a conversion takes.
        rowsPresent_ = images_.Count() > 0 ? images_[0].RowsPresent() : TRowsPresent{};
    }
    Changed();
}

void TGIFImage::SaveToStream(TStream& stream) {
    TGIFProgressScope progress(*this, GIFText::Saving);
    header_.Save(stream);
    const int count = images_.Count();
    for (int i = 0; i < count; ++i) {
        images_[i].Save(stream);
        Progress(gpsRunning, (i + 1) * 100 / count, GIFText::Saving);
    }
    WriteByte(stream, GIFTrailer);
}

// ---------------------------------------------------------------- building

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

// ---------------------------------------------------------------- rendering

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
    if (paletteLookup_) RaiseGIFError(GIFText::NoColorTable);
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
                const TRect place{target.Left + ScaleToTarget(frame.Left(), target.Width(), Width()),
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

}  // namespace tamberlit
