// Writing a TBitmap as BMP data (SaveToStream).

#include <algorithm>
#include <cstring>
#include <limits>

#include "image/bitmap.hpp"
#include "image/bmp_format.hpp"
#include "image/byte_order.hpp"
#include "image/exceptions.hpp"

namespace tamberlit {

namespace {

// The colour table written after the header.
std::vector<TRGBQuad> TableToWrite(const TDIBSection& dib, const TBitmapImage& image, bool core) {
    const int bits = dib.BitCount();
    if (bits <= 8) {
        const size_t values = size_t{1} << bits;
        size_t count = std::min(dib.ColorTable.size(), values);
        const uint32_t used = dib.Header.biClrUsed;
        if (used != 0 && used < count) count = used;
        // A core header has no count of its own: its table always has 2^bits
        // entries. And a paletted block without a table still needs one.
        if (core || count == 0) count = values;
        std::vector<TRGBQuad> table(count);
        std::copy_n(dib.ColorTable.begin(), std::min(count, dib.ColorTable.size()), table.begin());
        return table;
    }
    // Above 8 bits a palette the image kept from its source is written as the
    // optional table, unless it is the halftone palette the bitmap made for
    // itself. A core header has no place for one.
    if (core || !image.Palette || image.Halftone) return {};
    return ColorTableFromPalette(image.Palette);
}

}  // namespace

void TBitmap::WriteBMP(TStream& stream) {
    const TBitmapImage& image = *image_;
    if (image.SavedStream) {
        // Read from run-length data and unchanged since: the file as it came.
        stream.WriteBuffer(image.SavedStream->data(), image.SavedStream->size());
        return;
    }
    if (Empty()) return;
    // A device-dependent block is already in the display's 32-bit layout and
    // is written as such.
    const TDIBSection& dib = *Dib();
    const int bits = dib.BitCount();
    const bool masked = bits > 8 && dib.UsesMasks();
    // A core header cannot carry colour masks: such an image is written with
    // an info header rather than with pixels nobody could decode.
    const bool core = image.OS2Format && !masked;

    const std::vector<TRGBQuad> table = TableToWrite(dib, image, core);
    const uint32_t headerSize = core ? bmp::CoreHeaderSize : bmp::InfoHeaderSize + (masked ? bmp::MaskBytes : 0);
    const size_t entrySize = core ? 3 : 4;
    const uint64_t imageSize = dib.ImageSize();
    const uint64_t pixelOffset = bmp::FileHeaderSize + headerSize + entrySize * table.size();
    const uint64_t fileSize = pixelOffset + imageSize;
    if (fileSize > std::numeric_limits<uint32_t>::max())
        throw EInvalidGraphicOperation("Bitmap image is too large for a BMP file");

    TByteWriter out;
    // File header.
    out.Bytes("BM", 2);
    out.U32(static_cast<uint32_t>(fileSize));
    out.U16(0);  // reserved
    out.U16(0);  // reserved
    out.U32(static_cast<uint32_t>(pixelOffset));
    if (core) {
        out.U32(bmp::CoreHeaderSize);
        out.U16(static_cast<unsigned>(dib.Width()));
        out.U16(static_cast<unsigned>(dib.Height()));
        out.U16(1);  // planes
        out.U16(static_cast<unsigned>(bits));
    } else {
        out.U32(bmp::InfoHeaderSize);
        out.I32(dib.Header.biWidth);
        out.I32(dib.Header.biHeight);  // negative for a block read top-down
        out.U16(1);                    // planes
        out.U16(static_cast<unsigned>(bits));
        out.U32(dib.Header.biCompression);
        out.U32(static_cast<uint32_t>(imageSize));
        out.I32(dib.Header.biXPelsPerMeter);
        out.I32(dib.Header.biYPelsPerMeter);
        const uint32_t colorsUsed = static_cast<uint32_t>(table.size());
        out.U32(colorsUsed);
        out.U32(dib.Header.biClrImportant <= colorsUsed ? dib.Header.biClrImportant : 0);
        if (masked) {
            uint32_t masks[3] = {dib.Masks[0], dib.Masks[1], dib.Masks[2]};
            if ((masks[0] | masks[1] | masks[2]) == 0) {
                static const uint32_t defaults16[3] = {0xF800, 0x07E0, 0x001F};
                static const uint32_t defaults32[3] = {0xFF0000, 0x00FF00, 0x0000FF};
                std::memcpy(masks, bits == 16 ? defaults16 : defaults32, sizeof masks);
            }
            for (uint32_t mask : masks) out.U32(mask);
        }
    }
    for (const TRGBQuad& entry : table) {
        const uint8_t bytes[4] = {entry.rgbBlue, entry.rgbGreen, entry.rgbRed, 0};
        out.Bytes(bytes, entrySize);
    }
    stream.WriteBuffer(out.Data().data(), out.Data().size());

    if (core && dib.TopDown()) {
        // The core header's height cannot say top-down: write the rows
        // bottom row first.
        for (int y = dib.Height() - 1; y >= 0; --y) stream.WriteBuffer(dib.Row(y), dib.Stride());
        return;
    }
    stream.WriteBuffer(dib.Bits(), static_cast<size_t>(imageSize));
}

}  // namespace tamberlit
