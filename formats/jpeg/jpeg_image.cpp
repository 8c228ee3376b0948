#include "formats/jpeg/jpeg_image.hpp"

#include <algorithm>

#include "formats/jpeg/jpeg_library.hpp"
#include "image/picture_registry.hpp"

namespace tamberlit {

EJPEG::EJPEG(int messageCode)
    : EInvalidGraphic("JPEG error #" + std::to_string(messageCode)), messageCode_(messageCode) {}

const TJPEGSettings& JPEGDefaults() {
    // Asked once: a screen of 8 or fewer bits per pixel shows palette pictures
    // best, so the library then quantises colour to a palette.
    static const TJPEGSettings defaults = [] {
        TJPEGSettings settings;
        settings.PixelFormat = ScreenBitsPerPixel * ScreenPlanes <= 8 ? jf8Bit : jf24Bit;
        return settings;
    }();
    return defaults;
}

TJPEGImage::TJPEGImage() : data_(std::make_shared<TJPEGData>()), settings_(JPEGDefaults()) {}

TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::FreeBitmap() { bitmap_.reset(); }

void TJPEGImage::CopyFrom(TGraphic* source) {
    if (source == this) return;
    if (auto* jpeg = dynamic_cast<TJPEGImage*>(source)) {
        data_ = jpeg->data_;
        std::unique_ptr<TBitmap> copy;
        if (jpeg->bitmap_) {
            copy = std::make_unique<TBitmap>();
            copy->CopyFrom(jpeg->bitmap_.get());
        }
        bitmap_ = std::move(copy);
        Changed();
        return;
    }
    if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
        auto copy = std::make_unique<TBitmap>();
        copy->CopyFrom(bitmap);
        data_ = std::make_shared<TJPEGData>();
        bitmap_ = std::move(copy);
        Changed();
        return;
    }
    TGraphic::CopyFrom(source);
}

void TJPEGImage::AssignTo(TGraphic& dest) {
    if (auto* bitmap = dynamic_cast<TBitmap*>(&dest)) {
        DIBNeeded();
        bitmap->CopyFrom(bitmap_.get());
        return;
    }
    TGraphic::AssignTo(dest);
}

bool TJPEGImage::Empty() const { return (!bitmap_ || bitmap_->Empty()) && data_->Data.ByteCount() == 0; }

int TJPEGImage::Width() const {
    if (bitmap_) return bitmap_->Width();
    // What the decoder will make: the library rounds scaled sizes up.
    const int denominator = 1 << settings_.Scale;
    return (data_->Width + denominator - 1) / denominator;
}

int TJPEGImage::Height() const {
    if (bitmap_) return bitmap_->Height();
    const int denominator = 1 << settings_.Scale;
    return (data_->Height + denominator - 1) / denominator;
}

void TJPEGImage::SetWidth(int) { throw EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }

void TJPEGImage::SetHeight(int) { throw EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }

HPALETTE TJPEGImage::Palette() const { return bitmap_ ? bitmap_->Palette() : nullptr; }

void TJPEGImage::LoadFromStream(TStream& stream) {
    auto data = std::make_shared<TJPEGData>();
    data->Data.LoadFromStream(stream);
    data_ = data;
    FreeBitmap();
    // An empty file loads; decoding it fails later with the library's
    // "empty input" error. Anything else must have a readable header now.
    if (data->Data.ByteCount() > 0) {
        const TJPEGHeader header = ReadJPEGHeader(data->Data.Memory(), data->Data.ByteCount());
        data->Width = header.Width;
        data->Height = header.Height;
        data->Grayscale = header.Grayscale;
        settings_.ProgressiveEncoding = header.Progressive;
    }
    Changed();
}

void TJPEGImage::SaveToStream(TStream& stream) {
    JPEGNeeded();
    const TJPEGData& data = *data_;
    if (data.Data.ByteCount() > 0) stream.WriteBuffer(data.Data.Memory(), data.Data.ByteCount());
}

void TJPEGImage::DIBNeeded() {
    if (bitmap_) return;
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->Limits = Limits;
    rowsPresent_ = DecodeJPEG(data_->Data.Memory(), data_->Data.ByteCount(), settings_, *bitmap);
    bitmap_ = std::move(bitmap);
}

void TJPEGImage::JPEGNeeded() {
    if (data_->Data.ByteCount() == 0) Compress();
}

void TJPEGImage::Compress() {
    auto data = std::make_shared<TJPEGData>();
    if (bitmap_ && !bitmap_->Empty()) {
        CompressJPEG(*bitmap_, settings_, data->Data);
        data->Width = bitmap_->Width();
        data->Height = bitmap_->Height();
        data->Grayscale = settings_.Grayscale;
    }
    data_ = std::move(data);
}

// A bitmap decoded from data is dropped when a decoding setting changes, so
// that the next assignment decodes again; a bitmap that was assigned to us is
// the only picture there is and stays.
void TJPEGImage::DecodingSettingChanged() {
    if (data_->Data.ByteCount() > 0) FreeBitmap();
    Changed();
}

void TJPEGImage::SetCompressionQuality(int quality) { settings_.CompressionQuality = std::clamp(quality, 1, 100); }

void TJPEGImage::SetGrayscale(bool grayscale) {
    if (settings_.Grayscale == grayscale) return;
    settings_.Grayscale = grayscale;
    DecodingSettingChanged();
}

void TJPEGImage::SetPerformance(TJPEGPerformance performance) {
    if (settings_.Performance == performance) return;
    settings_.Performance = performance;
    DecodingSettingChanged();
}

void TJPEGImage::SetPixelFormat(TJPEGPixelFormat format) {
    if (settings_.PixelFormat == format) return;
    settings_.PixelFormat = format;
    DecodingSettingChanged();
}

void TJPEGImage::SetProgressiveDisplay(bool progressive) {
    if (settings_.ProgressiveDisplay == progressive) return;
    settings_.ProgressiveDisplay = progressive;
    DecodingSettingChanged();
}

void TJPEGImage::SetScale(TJPEGScale scale) {
    if (settings_.Scale == scale) return;
    settings_.Scale = scale;
    DecodingSettingChanged();
}

void TJPEGImage::SetSmoothing(bool smoothing) {
    if (settings_.Smoothing == smoothing) return;
    settings_.Smoothing = smoothing;
    DecodingSettingChanged();
}

namespace {

const TPictureFormatRegistration registration({"jpeg", "jpg"}, "JPEG Image File", "TJPEGImage",
                                              [] { return std::make_unique<TJPEGImage>(); });

}  // namespace

}  // namespace tamberlit
