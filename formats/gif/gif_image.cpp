#include "formats/gif/gif_image.hpp"

#include <algorithm>
#include <exception>

#include "formats/gif/gif_internal.hpp"
#include "formats/gif/gif_lzw_decoder.hpp"
#include "image/byte_order.hpp"
#include "image/file_names.hpp"
#include "image/limits.hpp"
#include "image/picture_registry.hpp"

namespace tamberlit {

const bool PalettedScreen = ScreenBitsPerPixel * ScreenPlanes <= 8;

namespace {

// A frame object with its lists costs a few hundred bytes besides its pixels.
constexpr uint64_t frameOverhead = 256;

bool StartsWithGIF(const uint8_t* bytes, size_t count) {
    return count >= 3 && SameTextAscii(std::string_view(reinterpret_cast<const char*>(bytes), 3), "GIF");
}

// The format registration, and the clipboard format of the same name.
struct TGIFRegistration {
    TPictureFormatRegistration format{
        {"GIF"}, GIFText::GIFImage, "TGIFImage", [] { return std::make_unique<TGIFImage>(); }};
    TGIFRegistration() { TPicture::RegisterClipboardFormat(RegisterClipboardFormat(GIFText::GIFImage), "TGIFImage"); }
};
const TGIFRegistration registration;

}  // namespace

// ---------------------------------------------------------------- TGIFItem

void TGIFItem::ReportWarning(TGIFSeverity severity, const std::string& message) {
    Image().ReportWarning(this, severity, message);
}

void TGIFItem::LoadFromStream(TStream& stream) {
    TGIFReader reader(stream);
    Load(reader);
    reader.Commit();
}

void TGIFItem::LoadFile(const std::string& path) {
    TFileStream stream(path);
    LoadFromStream(stream);
}

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

void TGIFColorMap::LoadColors(TGIFReader& reader, int count) {
    uint8_t bytes[3 * MaxColors];
    reader.ReadExact(bytes, 3 * static_cast<size_t>(count));
    entries_.clear();
    GrowFor(count);
    for (int i = 0; i < count; ++i) entries_.push_back({bytes[3 * i], bytes[3 * i + 1], bytes[3 * i + 2]});
    Optimized = false;
    Changed();
}

void TGIFGlobalColorMap::ReportWarning(TGIFSeverity severity, const std::string& message) {
    header_.ReportWarning(severity, message);
}

void TGIFGlobalColorMap::Changed() { header_.Image().ContentChanged(); }

void TGIFLocalColorMap::ReportWarning(TGIFSeverity severity, const std::string& message) {
    frame_.ReportWarning(severity, message);
}

void TGIFLocalColorMap::Changed() { frame_.palette_.reset(); }

// ---------------------------------------------------------------- TGIFHeader

void TGIFHeader::Clear() {
    colorMap_.Clear();
    Descriptor = TScreenDescriptor{};
}

void TGIFHeader::Load(TGIFReader& reader) {
    // The signature is compared without regard to case, and a 4-byte prefix in
    // front of it is tolerated (files saved with a wrapper header). The version
    // is not checked: any version is read as GIF89a.
    const int64_t start = reader.Position();
    uint8_t signature[6] = {};
    size_t got = reader.Read(signature, sizeof signature);
    if (!StartsWithGIF(signature, got)) {
        reader.Seek(start + 4);
        std::fill(std::begin(signature), std::end(signature), uint8_t{0});
        got = reader.Read(signature, sizeof signature);
        if (!StartsWithGIF(signature, got)) RaiseGIFError(GIFText::InvalidGIFSignature);
    }
    uint8_t bytes[7];
    reader.ReadExact(bytes, sizeof bytes);
    TByteReader fields(bytes);
    Descriptor.ScreenWidth = fields.U16();
    Descriptor.ScreenHeight = fields.U16();
    Descriptor.PackedFields = fields.U8();
    Descriptor.BackgroundColorIndex = fields.U8();
    Descriptor.AspectRatio = fields.U8();
    if (Descriptor.PackedFields & 0x80)
        colorMap_.LoadColors(reader, 2 << (Descriptor.PackedFields & 0x07));
    else
        colorMap_.Clear();
}

// ---------------------------------------------------------------- TGIFImage

TGIFImage::TGIFImage() : header_(*this) {}

TGIFImage::~TGIFImage() { images_.Clear(); }

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

void TGIFImage::ChargeDecoded(uint64_t units) {
    Limits.CheckTotal(decodedUnits_ + units);
    decodedUnits_ += units;
}

void TGIFImage::ContentChanged() {
    bitmap_.reset();
    palette_.reset();
}

void TGIFImage::Clear() {
    rowsPresent_ = {};
    bitmap_.reset();
    images_.Clear();
    header_.Clear();
    palette_.reset();
    decodedUnits_ = 0;
}

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

void TGIFImage::LoadFromStream(TStream& stream) {
    {
        TGIFProgressScope progress(*this, GIFText::Loading);
        Clear();
        TGIFReader reader(stream);
        const int64_t start = reader.Position();
        try {
            header_.Load(reader);
            if (LoadFrames(reader)) CheckTrailer(reader);
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

bool TGIFImage::LoadFrames(TGIFReader& reader) {
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
            ReportWarning(nullptr, gsWarning, GIFText::UnknownGIFBlockType);
            return true;
        }
        ChargeDecoded(frameOverhead);
        auto frame = std::make_unique<TGIFSubImage>(*this);
        frame->Load(reader);  // a frame that fails goes with the unwinding
        images_.Add(std::move(frame));
        if (FirstFrameOnly) return false;
        const int64_t size = reader.Size();
        Progress(gpsRunning, size > 0 ? static_cast<int>((200 * reader.Position() + size) / (2 * size)) : 100,
                 GIFText::Loading);
        byte = nextBlock();
    }
    reader.StepBack();
    return true;
}

void TGIFImage::CheckTrailer(TGIFReader& reader) {
    // A file that ends without its trailer is accepted silently.
    const int byte = reader.ReadByte();
    if (byte >= 0 && byte != GIFTrailer) ReportWarning(nullptr, gsWarning, GIFText::InvalidImageTrailer);
}

}  // namespace tamberlit
