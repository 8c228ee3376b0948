#include "color/dib_rows.hpp"

#include <algorithm>
#include <new>
#include <utility>
#include <vector>

#include "image/exceptions.hpp"
#include "image/limits.hpp"

namespace tamberlit {

TDIBReader::TDIBReader(TBitmap& bitmap, TPixelFormat format) : TDIB(bitmap, format) { bitmap.SetPixelFormat(format); }

uint8_t* TDIBReader::RowAddress(int y) { return bitmap_.RowAddress(y); }

const uint8_t* TDIBReader::ConstRowAddress(int y) const { return bitmap_.ConstRowAddress(y); }

TDIBWriter::TDIBWriter(TBitmap& target, HPALETTE palette, int width, int height, TPixelFormat format)
    : TDIB(target, format), palette_(std::move(palette)), width_(width), height_(height), rowBytes_(0) {
    if (format != Px8 && format != Px24) throw EInvalidGraphic("Unsupported PixelFormat");
    // A negative height would describe a top-down block, but every row request
    // on it would then fall outside 0..height-1: refuse it with the zero sizes.
    if (width <= 0 || height <= 0) throw EInvalidGraphic("Invalid image dimensions");
    // The target bitmap's limit: the block is made for it.
    target.Limits.CheckSize(width, height);
    rowBytes_ = BytesPerRow(width, BitCountOf(format));
}

TDIBWriter::~TDIBWriter() = default;

void TDIBWriter::AllocateImage() {
    try {
        std::vector<TRGBQuad> colorTable;
        uint32_t copied = 0;
        if (pixelFormat_ == Px8) {
            // The colour table is always complete: 256 entries, the palette's
            // colours first. Indices are bytes, so entries past 256 cannot be used.
            colorTable.resize(256);
            const size_t count = std::min<size_t>(PaletteEntryCount(palette_), 256);
            for (size_t i = 0; i < count; ++i) {
                const TPaletteEntry& entry = palette_->Entries[i];
                colorTable[i] = {entry.peBlue, entry.peGreen, entry.peRed, 0};
            }
            copied = static_cast<uint32_t>(count);
        }
        // Bottom-up, as blocks made for bitmaps always are.
        image_ = TDIBSection::Create(width_, height_, BitCountOf(pixelFormat_), BI_RGB, nullptr, std::move(colorTable),
                                     bitmap_.Limits);
        if (pixelFormat_ == Px8) {
            image_->Header.biClrUsed = 256;
            image_->Header.biClrImportant = copied;
        }
    } catch (const EOutOfMemory&) {
        image_.reset();
        throw EOutOfMemory("Failed to allocate memory for GIF DIB");
    } catch (const std::bad_alloc&) {
        image_.reset();
        throw EOutOfMemory("Failed to allocate memory for GIF DIB");
    }
}

uint8_t* TDIBWriter::RowAddress(int y) {
    if (!image_) {
        if (finished_) throw EInvalidGraphic("Image has no DIB");
        AllocateImage();
    }
    if (y < 0 || y >= height_) throw EInvalidGraphicOperation("Scan line index out of range");
    return image_->Row(y);
}

void TDIBWriter::Finish() {
    finished_ = true;
    if (!image_) return;
    bitmap_.SetHandle(std::move(image_));
}

}  // namespace tamberlit
