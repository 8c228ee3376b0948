// Reading BMP data into a TBitmap (LoadFromStream).

#include <algorithm>

#include "image/bitmap.hpp"
#include "image/bmp_format.hpp"
#include "image/bmp_rle.hpp"
#include "image/exceptions.hpp"
#include "image/limits.hpp"

namespace tamberlit {

namespace {

using bmp::THeader;
using bmp::TReadMode;

struct TReadResult {
    HBITMAP Block;
    HPALETTE Palette;  // a colour table read for more than 8 bits per pixel
    std::shared_ptr<const std::vector<uint8_t>> SavedStream;
    TRowsPresent RowsPresent;
};

// The header fields a block keeps from the file; the rest follow from its layout.
void KeepHeaderFields(TDIBSection& block, const THeader& header, size_t tableSize) {
    block.Header.biXPelsPerMeter = header.XPelsPerMeter;
    block.Header.biYPelsPerMeter = header.YPelsPerMeter;
    block.Header.biClrUsed = static_cast<uint32_t>(tableSize);
    block.Header.biClrImportant = header.ColorsImportant <= tableSize ? header.ColorsImportant : 0;
}

// The run-length bytes the header announces: its image size, or the size of
// the uncompressed rows when it gives none.
uint64_t AnnouncedImageSize(const THeader& header) {
    return header.ImageSize != 0 ? header.ImageSize : uint64_t(header.Stride()) * uint64_t(header.Rows());
}

TReadResult ReadUncompressed(TStream& stream, const THeader& header, int64_t fileStart, int64_t fileEnd,
                             const TSizeLimits& limits) {
    std::vector<TRGBQuad> table = bmp::ReadColorTable(stream, header, fileStart, fileEnd, TReadMode::Strict);
    const uint64_t available = static_cast<uint64_t>(std::max<int64_t>(0, fileEnd - stream.Position()));
    // Known before a byte of the picture is allocated.
    const TRowsPresent rowsPresent{bmp::RowsHeld(header, available), header.Rows()};
    CheckRowsPresent(rowsPresent.Present, rowsPresent.Total);
    const bool paletted = header.BitCount <= 8;
    const size_t tableSize = paletted ? table.size() : 0;
    TReadResult result;
    if (!paletted && !table.empty()) result.Palette = CreatePaletteFromColorTable(table);
    std::unique_ptr<TDIBSection> block;
    if (bmp::HasPx32Layout(header)) {
        // The masks say what a plain 32-bit block says: blue, green, red,
        // alpha. Keep the alpha the file declares instead of dropping it.
        block = TDIBSection::Create(header.Width, header.Height, 32, BI_RGB, nullptr, {}, limits);
    } else {
        const bool masked = header.Compression == BI_BITFIELDS;
        block = TDIBSection::Create(header.Width, header.Height, header.BitCount, header.Compression,
                                    masked ? header.Masks : nullptr,
                                    paletted ? std::move(table) : std::vector<TRGBQuad>{}, limits);
    }
    KeepHeaderFields(*block, header, tableSize);

    // A short file loads with its missing rows zero. The header's image size
    // is redundant for uncompressed pixels (the BMP documentation lets it be
    // 0) and some writers get it wrong, leaving out the row padding: the
    // block's size decides, so a size too large never reads past the block and
    // one too small never drops rows the file holds.
    const uint64_t count = std::min<uint64_t>(available, block->ImageSize());
    stream.ReadBuffer(block->Bits(), static_cast<size_t>(count));
    result.Block = std::move(block);
    result.RowsPresent = rowsPresent;
    return result;
}

// Run-length data: the file bytes are kept so that an unchanged image is
// written back as it came, and the pixels are decoded into a device-dependent
// block.
TReadResult ReadRunLength(TStream& stream, const THeader& header, int64_t fileStart, int64_t fileEnd,
                          const TSizeLimits& limits) {
    const int64_t headersEnd = stream.Position();
    const uint64_t total = static_cast<uint64_t>(fileEnd - fileStart);
    // No picture of this size needs more data; refusing here keeps a huge
    // file from being read into memory (the lenient loader reads a prefix).
    if (total > bmp::RunLengthDataLimit(header)) bmp::RaiseInvalidBitmap();
    auto saved = std::make_shared<std::vector<uint8_t>>(static_cast<size_t>(total));
    stream.SetPosition(fileStart);
    stream.ReadBuffer(saved->data(), saved->size());

    TMemoryViewStream copy(saved->data(), saved->size());
    copy.SetPosition(headersEnd - fileStart);
    const std::vector<TRGBQuad> table =
        bmp::ReadColorTable(copy, header, 0, static_cast<int64_t>(saved->size()), TReadMode::Strict);
    const uint64_t start = static_cast<uint64_t>(copy.Position());
    const uint64_t count = std::min<uint64_t>(AnnouncedImageSize(header), saved->size() - start);

    auto block = TDIBSection::CreateDevice(header.Width, static_cast<int>(header.Rows()), limits);
    const int64_t rows = bmp::DecodeRunLength(saved->data() + start, static_cast<size_t>(count), header.BitCount, table,
                                              bmp::TRowOrder::BottomUp, *block);
    CheckRowsPresent(rows, header.Rows());
    TReadResult result;
    result.RowsPresent = {rows, header.Rows()};
    result.Block = std::move(block);
    result.SavedStream = std::move(saved);
    return result;
}

}  // namespace

void TBitmap::ReadBMP(TStream& stream) {
    const int64_t fileStart = stream.Position();
    const int64_t fileEnd = stream.Size();
    if (fileEnd <= fileStart) {
        SetHandle(nullptr);
        rowsPresent_ = {};
        return;
    }
    const THeader header = bmp::ReadHeaders(stream, TReadMode::Strict, Limits);
    TReadResult result = header.RunLength() ? ReadRunLength(stream, header, fileStart, fileEnd, Limits)
                                            : ReadUncompressed(stream, header, fileStart, fileEnd, Limits);
    SetHandle(std::move(result.Block));
    TBitmapImage& image = MutableImage();
    image.OS2Format = header.Core();
    image.Palette = std::move(result.Palette);
    image.SavedStream = std::move(result.SavedStream);
    rowsPresent_ = result.RowsPresent;
}

}  // namespace tamberlit
