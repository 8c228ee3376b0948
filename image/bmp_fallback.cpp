// The lenient BMP loader: our stand-in for the platform's image loader, which
// the dispatcher asks for a picture when the strict reader refuses a file.
//
// What it takes that the strict reader does not, and why:
// - any header of 16 bytes or more (unknown longer headers are read as an info
//   header followed by fields we skip), as the platform's loader does;
// - a planes field other than 1 (it carries no information in a DIB);
// - 2 bits per pixel (the Windows CE variant of the BMP documentation);
// - run-length data stored top-down, which the documentation does not allow
//   but whose header says plainly which row comes first;
// - a colour table that the file cuts short (missing entries show black);
// - run-length data of any length up to what the picture can need, whatever
//   the header's image size says.
// It still refuses what it cannot decode (JPEG or PNG pixel data, RLE24,
// Huffman coding, BI_ALPHABITFIELDS, bit counts outside 1, 2, 4, 8, 16, 24 and
// 32), pictures beyond the decoded-size limit, and wrong signatures. The
// result is a device-dependent block: like the platform's loader it keeps no
// alpha channel.

#include "image/bmp_fallback.hpp"

#include <algorithm>

#include "image/bmp_format.hpp"
#include "image/bmp_rle.hpp"

namespace tamberlit {

namespace {

using bmp::THeader;
using bmp::TReadMode;

// Returns the rows the data reached.
int64_t DecodeRunLengthFile(TStream& stream, const THeader& header, const std::vector<TRGBQuad>& table, int64_t fileEnd,
                            TDIBSection& target) {
    const uint64_t available = static_cast<uint64_t>(std::max<int64_t>(0, fileEnd - stream.Position()));
    std::vector<uint8_t> data(static_cast<size_t>(std::min(available, bmp::RunLengthDataLimit(header))));
    stream.ReadBuffer(data.data(), data.size());
    return bmp::DecodeRunLength(data.data(), data.size(), header.BitCount, table,
                                header.TopDown() ? bmp::TRowOrder::TopDown : bmp::TRowOrder::BottomUp, target);
}

// Uncompressed rows, one at a time through a one-row block of the file's
// layout, into the display's format. Pixels the file does not hold stay black.
void DecodeRows(TStream& stream, const THeader& header, std::vector<TRGBQuad> table, int64_t fileEnd,
                TDIBSection& target) {
    const int width = header.Width;
    const int rows = static_cast<int>(header.Rows());
    const bool masked = header.Compression == BI_BITFIELDS;
    auto row = TDIBSection::Create(width, 1, header.BitCount, header.Compression, masked ? header.Masks : nullptr,
                                   header.BitCount <= 8 ? std::move(table) : std::vector<TRGBQuad>{});
    std::vector<uint8_t> quads(4 * static_cast<size_t>(width));
    const int64_t stride = static_cast<int64_t>(row->Stride());
    for (int i = 0; i < rows; ++i) {
        const int64_t bytes = std::min(stride, fileEnd - stream.Position());
        if (bytes <= 0) break;
        stream.ReadBuffer(row->Bits(), static_cast<size_t>(bytes));
        const int pixels = static_cast<int>(std::min<int64_t>(width, bytes * 8 / header.BitCount));
        ReadPixelsBGRA(*row, 0, 0, pixels, quads.data());
        WritePixelsBGRA(target, header.TopDown() ? i : rows - 1 - i, 0, pixels, quads.data());
    }
}

}  // namespace

HBITMAP LoadBitmapFileLeniently(const std::string& path, TRowsPresent* rowsPresent, const TSizeLimits& limits) {
    TFileStream file(path);
    return LoadBitmapLeniently(file, rowsPresent, limits);
}

HBITMAP LoadBitmapLeniently(TStream& file, TRowsPresent* rowsPresent, const TSizeLimits& limits) {
    file.SetPosition(0);
    const int64_t fileEnd = file.Size();
    const THeader header = bmp::ReadHeaders(file, TReadMode::Lenient, limits);
    std::vector<TRGBQuad> table = bmp::ReadColorTable(file, header, 0, fileEnd, TReadMode::Lenient);
    TRowsPresent rows{0, header.Rows()};
    if (!header.RunLength()) {
        // Known before the picture is allocated.
        rows.Present = bmp::RowsHeld(header, static_cast<uint64_t>(std::max<int64_t>(0, fileEnd - file.Position())));
        CheckRowsPresent(rows.Present, rows.Total);
    }
    auto device = TDIBSection::CreateDevice(header.Width, static_cast<int>(header.Rows()), limits);
    if (header.RunLength()) {
        rows.Present = DecodeRunLengthFile(file, header, table, fileEnd, *device);
        CheckRowsPresent(rows.Present, rows.Total);
    } else {
        DecodeRows(file, header, std::move(table), fileEnd, *device);
    }
    if (rowsPresent) *rowsPresent = rows;
    return device;
}

}  // namespace tamberlit
