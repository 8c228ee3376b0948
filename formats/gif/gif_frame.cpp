#include <algorithm>
#include <cstring>
#include <new>

#include "formats/gif/gif_image.hpp"
#include "formats/gif/gif_lzw_decoder.hpp"
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

bool TGIFSubImage::Empty() const { return !data_ || dataSize_ == 0 || Width() == 0 || Height() == 0; }

void TGIFSubImage::FreeData() {
    TGIFImage& image = Image();
    image.decodedUnits_ -= std::min<uint64_t>(image.decodedUnits_, dataSize_);
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

}  // namespace tamberlit
