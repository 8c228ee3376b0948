#include "image/bmp_format.hpp"

#include <algorithm>
#include <array>

#include "image/byte_order.hpp"
#include "image/exceptions.hpp"
#include "image/limits.hpp"

namespace tamberlit::bmp {

namespace {

// The longest header whose fields we read: BITMAPV5HEADER. Bytes beyond it
// (in a header the lenient loader accepts) are skipped.
constexpr uint32_t LongestKnownHeader = 124;

// OS/2 2.x lets BITMAPINFOHEADER2 end after any of its fields, from 16 to 64
// bytes; 40, 52 and 56 bytes are also the Windows info header and its V2 and
// V3 forms.
bool IsOs2HeaderSize(uint32_t size) {
    static constexpr uint32_t sizes[] = {16, 20, 24, 28, 32, 36, 40, 42, 44, 46, 48, 52, 56, 60, 64};
    return std::find(std::begin(sizes), std::end(sizes), size) != std::end(sizes);
}

bool IsWindowsHeaderSize(uint32_t size) { return size == 40 || size == 52 || size == 56 || size == 108 || size == 124; }

bool AcceptsHeaderSize(uint32_t size, TReadMode mode) {
    if (size == CoreHeaderSize) return true;
    if (mode == TReadMode::Strict) return IsOs2HeaderSize(size) || IsWindowsHeaderSize(size);
    // Like the platform's loader, take any longer header as an info header
    // followed by fields we do not know. Below 16 bytes the width, height,
    // planes and bit count do not fit.
    return size >= 16;
}

// Where the colour masks of a BI_BITFIELDS file are: after a 40-byte header,
// or inside a header long enough to hold them (V2 and later). In the other
// OS/2 2.x sizes compression 3 means Huffman 1D coding, which we do not read.
enum class TMaskPlace { None, AfterHeader, InHeader };

TMaskPlace MaskPlace(uint32_t size, TReadMode mode) {
    if (size == InfoHeaderSize) return TMaskPlace::AfterHeader;
    if (size == 52 || size == 56 || size >= 108 || (mode == TReadMode::Lenient && size > 64))
        return TMaskPlace::InHeader;
    return TMaskPlace::None;
}

bool ValidBitLayout(const THeader& header, TReadMode mode) {
    switch (header.Compression) {
        case BI_RGB:
            switch (header.BitCount) {
                case 1:
                case 4:
                case 8:
                case 16:
                case 24:
                case 32: return true;
                // Two bits per pixel is a Windows CE variant the desktop
                // platform's bitmap services do not make; the lenient loader
                // decodes it.
                case 2: return mode == TReadMode::Lenient;
                default: return false;
            }
        case BI_RLE8: return header.BitCount == 8;
        case BI_RLE4: return header.BitCount == 4;
        case BI_BITFIELDS: return header.BitCount == 16 || header.BitCount == 32;
        // JPEG, PNG, RLE24, Huffman, BI_ALPHABITFIELDS and the CMYK codes.
        default: return false;
    }
}

void Validate(const THeader& header, TReadMode mode, const TSizeLimits& limits) {
    // The planes field has meant nothing since the OS/2 1.x days; the strict
    // reader insists on 1 as the platform does, the lenient loader ignores it.
    if (mode == TReadMode::Strict && header.Planes != 1) RaiseInvalidBitmap();
    if (header.Width <= 0 || header.Height == 0) RaiseInvalidBitmap();
    if (!ValidBitLayout(header, mode)) RaiseInvalidBitmap();
    // The BMP documentation allows run-length data only bottom-up.
    if (mode == TReadMode::Strict && header.RunLength() && header.TopDown()) RaiseInvalidBitmap();
    limits.CheckSize(header.Width, header.Rows());
}

}  // namespace

void RaiseInvalidBitmap() { throw EInvalidGraphic("Bitmap image is not valid"); }

THeader ReadHeaders(TStream& stream, TReadMode mode, const TSizeLimits& limits) {
    uint8_t fileHeader[FileHeaderSize];
    stream.ReadBuffer(fileHeader, sizeof fileHeader);
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M') RaiseInvalidBitmap();
    THeader header;
    // The file size and the reserved fields are not used: many writers get
    // the file size wrong.
    header.PixelOffset = LittleEndian32(fileHeader + 10);

    std::array<uint8_t, LongestKnownHeader> bytes{};
    stream.ReadBuffer(bytes.data(), 4);
    header.HeaderSize = LittleEndian32(bytes.data());
    if (!AcceptsHeaderSize(header.HeaderSize, mode)) RaiseInvalidBitmap();
    const uint32_t known = std::min(header.HeaderSize, LongestKnownHeader);
    stream.ReadBuffer(bytes.data() + 4, known - 4);
    if (header.HeaderSize > known) {
        const int64_t rest = header.HeaderSize - known;
        if (stream.Remaining() < rest) throw EReadError("Stream read error");
        stream.Seek(rest, TSeekOrigin::Current);
    }

    TByteReader fields(bytes.data() + 4);
    if (header.Core()) {
        header.Width = fields.U16();
        header.Height = fields.U16();
        header.Planes = fields.U16();
        header.BitCount = fields.U16();
    } else {
        // Fields a short OS/2 2.x header leaves out stay 0, as its documentation says.
        header.Width = fields.I32();
        header.Height = fields.I32();
        header.Planes = fields.U16();
        header.BitCount = fields.U16();
        header.Compression = fields.U32();
        header.ImageSize = fields.U32();
        header.XPelsPerMeter = fields.I32();
        header.YPelsPerMeter = fields.I32();
        header.ColorsUsed = fields.U32();
        header.ColorsImportant = fields.U32();
    }

    Validate(header, mode, limits);
    if (header.Compression == BI_BITFIELDS) {
        switch (MaskPlace(header.HeaderSize, mode)) {
            case TMaskPlace::None: RaiseInvalidBitmap();
            case TMaskPlace::AfterHeader: {
                uint8_t bytesAfter[MaskBytes];
                stream.ReadBuffer(bytesAfter, sizeof bytesAfter);
                TByteReader masks(bytesAfter);
                for (uint32_t& mask : header.Masks) mask = masks.U32();
                break;
            }
            case TMaskPlace::InHeader: {
                TByteReader masks(bytes.data() + InfoHeaderSize);
                for (uint32_t& mask : header.Masks) mask = masks.U32();
                if (header.HeaderSize >= 56) header.AlphaMask = masks.U32();
                break;
            }
        }
    }
    return header;
}

bool HasPx32Layout(const THeader& header) {
    return header.BitCount == 32 && header.Compression == BI_BITFIELDS && header.Masks[0] == 0x00FF0000 &&
           header.Masks[1] == 0x0000FF00 && header.Masks[2] == 0x000000FF && header.AlphaMask == 0xFF000000;
}

std::vector<TRGBQuad> ReadColorTable(TStream& stream, const THeader& header, int64_t fileStart, int64_t fileEnd,
                                     TReadMode mode) {
    const int64_t tableStart = stream.Position();
    const int64_t entrySize = static_cast<int64_t>(header.ColorEntrySize());
    const int64_t declared = header.ColorsUsed != 0 ? int64_t{header.ColorsUsed}
                             : header.BitCount <= 8 ? int64_t{1} << header.BitCount
                                                    : 0;
    // Never more entries than pixel values (a table of 300 entries for 8-bit
    // pixels has 44 nobody can use); above 8 bits the table is only a palette
    // hint, and a palette has at most 256 entries.
    const int64_t kept = header.BitCount <= 8 ? int64_t{1} << header.BitCount : 256;
    int64_t count = std::min(declared, kept);
    int64_t pixelStart;

    const int64_t offset = fileStart + int64_t{header.PixelOffset};
    if (offset >= tableStart && offset < fileEnd) {
        // Writers leave gaps before the pixels (and some OS/2 files a table
        // shorter than their bit count implies): the offset tells where the
        // pixels really are.
        count = std::min(count, (offset - tableStart) / entrySize);
        pixelStart = offset;
    } else {
        pixelStart = tableStart + declared * entrySize;
        if (pixelStart > fileEnd) {
            if (mode == TReadMode::Strict) throw EReadError("Stream read error");
            count = std::min(count, (fileEnd - tableStart) / entrySize);
            pixelStart = fileEnd;
        }
    }

    std::array<uint8_t, 256 * 4> bytes;
    stream.ReadBuffer(bytes.data(), static_cast<size_t>(count * entrySize));
    std::vector<TRGBQuad> table(static_cast<size_t>(count));
    for (size_t i = 0; i < table.size(); ++i) {
        const uint8_t* entry = bytes.data() + i * static_cast<size_t>(entrySize);
        // The fourth byte of an entry is reserved: it is written as 0 and read as 0.
        table[i] = TRGBQuad{entry[0], entry[1], entry[2], 0};
    }
    stream.SetPosition(pixelStart);
    return table;
}

int64_t RowsHeld(const THeader& header, uint64_t available) {
    const uint64_t pixelBytes = (uint64_t(header.Width) * header.BitCount + 7) / 8;
    if (available < pixelBytes) return 0;
    return std::min<int64_t>(header.Rows(), static_cast<int64_t>((available - pixelBytes) / header.Stride()) + 1);
}

uint64_t RunLengthDataLimit(const THeader& header) {
    const uint64_t pixels = uint64_t(header.Width) * uint64_t(header.Rows());
    return 4 * pixels + 4 * uint64_t(header.Rows()) + (uint64_t{1} << 20);
}

}  // namespace tamberlit::bmp
