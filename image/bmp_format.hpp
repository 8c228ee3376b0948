#pragma once
// What the BMP reader, the BMP writer and the lenient loader share: the file
// and bitmap headers as the BMP documentation gives them (BITMAPFILEHEADER,
// BITMAPCOREHEADER, BITMAPINFOHEADER and its longer V2-V5 forms, the OS/2 2.x
// BITMAPINFOHEADER2), their validation, and the colour table.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/dib.hpp"
#include "image/stream.hpp"

namespace tamberlit::bmp {

inline constexpr uint32_t FileHeaderSize = 14;
inline constexpr uint32_t CoreHeaderSize = 12;
inline constexpr uint32_t InfoHeaderSize = 40;
inline constexpr uint32_t MaskBytes = 12;

// The strict reader accepts the documented variants and refuses the rest; the
// lenient loader stands in for the platform's loader and takes what it can.
enum class TReadMode { Strict, Lenient };

struct THeader {
    uint32_t PixelOffset = 0;  // from the start of the file
    uint32_t HeaderSize = 0;
    int32_t Width = 0;
    int32_t Height = 0;  // negative: rows stored top-down
    uint16_t Planes = 0;
    uint16_t BitCount = 0;
    uint32_t Compression = BI_RGB;
    uint32_t ImageSize = 0;
    int32_t XPelsPerMeter = 0;
    int32_t YPelsPerMeter = 0;
    uint32_t ColorsUsed = 0;
    uint32_t ColorsImportant = 0;
    uint32_t Masks[3] = {0, 0, 0};  // red, green, blue; only with BI_BITFIELDS
    uint32_t AlphaMask = 0;         // only with BI_BITFIELDS and a header of 56 bytes or more

    bool Core() const { return HeaderSize == CoreHeaderSize; }
    bool TopDown() const { return Height < 0; }
    int64_t Rows() const { return Height < 0 ? -int64_t{Height} : Height; }
    bool RunLength() const { return Compression == BI_RLE8 || Compression == BI_RLE4; }
    size_t ColorEntrySize() const { return Core() ? 3 : 4; }
    size_t Stride() const { return BytesPerRow(Width, BitCount); }
};

// Reads the file header, the bitmap header and the colour masks that follow a
// 40-byte header, and checks them: the stream is left where the colour table
// begins. Raises EInvalidGraphic "Bitmap image is not valid" for what cannot
// be read as a BMP, EImageTooLarge beyond the decoded-size limit, and
// EReadError "Stream read error" when the data ends inside the headers.
THeader ReadHeaders(TStream& stream, TReadMode mode, const TSizeLimits& limits);

// A 32-bit file whose masks are exactly the blue, green, red, alpha byte order
// of Px32 and which declares the fourth byte as alpha.
bool HasPx32Layout(const THeader& header);

// Reads the colour table (entries of 3 bytes after a core header, 4 otherwise,
// widened to TRGBQuad) and leaves the stream where the pixels begin.
// fileStart and fileEnd are the stream positions of "BM" and of the end of the
// data. The pixel offset of the file header is honoured when it points into
// the data at or after the start of the table (the table then ends there at the
// latest); otherwise the pixels follow the declared table. The table kept holds
// at most 2^bits entries (256 above 8 bits) whatever the header declares. A
// declared table that runs past the end of the data raises "Stream read error"
// in strict mode and is cut short in lenient mode.
std::vector<TRGBQuad> ReadColorTable(TStream& stream, const THeader& header, int64_t fileStart, int64_t fileEnd,
                                     TReadMode mode);

// The rows of uncompressed pixel data that `available` bytes hold in full: a
// row counts once its pixels are there, whatever becomes of its padding (so a
// file that ends after the last row's pixels is complete).
int64_t RowsHeld(const THeader& header, uint64_t available);

// The most run-length data a picture of this size can need: two bytes per
// pixel (a run of one), an end of line per row and an end of bitmap, with room
// to spare. Data beyond this is not read.
uint64_t RunLengthDataLimit(const THeader& header);

[[noreturn]] void RaiseInvalidBitmap();

}  // namespace tamberlit::bmp
