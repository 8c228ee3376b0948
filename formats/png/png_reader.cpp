#include "formats/png/png_reader.hpp"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <vector>

#include <zlib.h>

#include "formats/png/png_library.hpp"
#include "image/exceptions.hpp"
#include "image/limits.hpp"
#include "image/scope_guard.hpp"

namespace tamberlit {

namespace {

using namespace png_detail;

constexpr size_t ReadBufferSize = size_t{1} << 16;

// What a section's setjmp returns when the read function stopped libpng after
// the last row (RaisePngError jumps with 1).
constexpr int JumpAfterLastRow = 2;

// Everything the libpng callbacks and sections touch: plain data only (see
// png_library.hpp). The buffer and the stream belong to ReadPngImage's frame.
struct TReadContext {
    TStream* Stream = nullptr;
    uint8_t* Buffer = nullptr;  // ReadBufferSize bytes
    size_t Begin = 0;           // unread bytes are Buffer[Begin, End)
    size_t End = 0;
    TPngErrorRecord Error;

    png_structp Png = nullptr;
    png_infop Info = nullptr;

    // From the header.
    png_uint_32 Width = 0;
    png_uint_32 Height = 0;
    int BitDepth = 0;
    int ColorType = 0;
    bool HasAlpha = false;  // an alpha channel or a tRNS chunk

    // After the transformations.
    int OutputDepth = 0;
    int OutputChannels = 0;
    size_t RowBytes = 0;

    // Rows libpng decodes from the image data: each row of each pass of an
    // interlaced image.
    png_uint_32 RowsInData = 0;
    png_uint_32 RowsDecoded = 0;
    bool AllRowsDecoded = false;

    // The chunk whose header libpng read last, its start counted in bytes
    // given to libpng.
    uint64_t Consumed = 0;
    uint64_t ChunkStart = 0;
    uint32_t ChunkLength = 0;
};

[[noreturn]] void RaiseReadError() { throw EInvalidGraphic("Error Reading File!"); }

// The stream's own error (an I/O failure) is dropped here: whatever stops the
// data, the reader reports "Error Reading File!", and no exception may cross
// libpng's frames.
size_t ReadStream(TReadContext& context, void* into, size_t count) noexcept {
    try {
        return context.Stream->Read(into, count);
    } catch (...) {
        return 0;
    }
}

bool FillBuffer(TReadContext& context) noexcept {
    context.Begin = 0;
    context.End = ReadStream(context, context.Buffer, ReadBufferSize);
    return context.End > 0;
}

// Copies length bytes of the stream to data through the buffer; false at the
// end of the data. libpng asks for small pieces (chunk headers, CRCs) as well
// as for large ones, and each unbuffered piece would be a system call.
bool TakeBytes(TReadContext& context, uint8_t* data, size_t length) noexcept {
    while (length > 0) {
        if (context.Begin == context.End) {
            if (length >= ReadBufferSize) {
                const size_t got = ReadStream(context, data, length);
                if (got == 0) return false;
                data += got;
                length -= got;
                continue;
            }
            if (!FillBuffer(context)) return false;
        }
        const size_t piece = std::min(length, context.End - context.Begin);
        std::memcpy(data, context.Buffer + context.Begin, piece);
        context.Begin += piece;
        data += piece;
        length -= piece;
    }
    return true;
}

uint32_t BigEndian(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

void ReadData(png_structp png, png_bytep data, size_t length) {
    auto& context = *static_cast<TReadContext*>(png_get_io_ptr(png));
    // After the last row libpng reads on only to find the end of the zlib
    // stream, inflating whatever the stream still holds: the picture is
    // complete, so it is stopped here (see CheckLastImageChunk).
    if (context.AllRowsDecoded) png_longjmp(png, JumpAfterLastRow);
    if (!TakeBytes(context, data, length)) png_error(png, "Unexpected end of PNG data");
    // libpng reads a chunk's length and type in one call.
    if ((png_get_io_state(png) & PNG_IO_MASK_LOC) == PNG_IO_CHUNK_HDR && length == 8) {
        context.ChunkStart = context.Consumed;
        context.ChunkLength = BigEndian(data);
    }
    context.Consumed += length;
}

// Runs after libpng's own transformations on each decoded row, just before the
// row is copied into the bitmap; libpng reads nothing in between.
void CountDecodedRow(png_structp png, png_row_infop, png_bytep) {
    auto& context = *static_cast<TReadContext*>(png_get_io_ptr(png));
    if (++context.RowsDecoded == context.RowsInData) context.AllRowsDecoded = true;
}

// A pass of an interlaced image without columns has no rows in the data.
png_uint_32 CountRowsInData(png_uint_32 width, png_uint_32 height, int interlace) {
    if (interlace == PNG_INTERLACE_NONE) return height;
    png_uint_32 rows = 0;
    for (int pass = 0; pass < PNG_INTERLACE_ADAM7_PASSES; ++pass)
        if (PNG_PASS_COLS(width, pass) != 0) rows += PNG_PASS_ROWS(height, pass);
    return rows;
}

// The chunk the last row ended in holds that row's data, so its CRC is checked
// as libpng would have checked it; nothing after the chunk is read. libpng
// has already taken part of the chunk: it is read again from its type, the
// first byte the CRC covers.
void CheckLastImageChunk(TReadContext& context) {
    const uint64_t back = context.Consumed - (context.ChunkStart + 4) + (context.End - context.Begin);
    try {
        context.Stream->Seek(-static_cast<int64_t>(back), TSeekOrigin::Current);
    } catch (...) {
        RaiseReadError();
    }
    context.Begin = context.End = 0;
    uLong crc = crc32(0, nullptr, 0);
    for (uint64_t left = 4 + uint64_t{context.ChunkLength}; left > 0;) {
        if (context.Begin == context.End && !FillBuffer(context)) RaiseReadError();
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(left, context.End - context.Begin));
        crc = crc32(crc, context.Buffer + context.Begin, static_cast<uInt>(piece));
        context.Begin += piece;
        left -= piece;
    }
    uint8_t stored[4];
    if (!TakeBytes(context, stored, sizeof stored) || BigEndian(stored) != crc) RaiseReadError();
}

// A picture too large for us is refused with the decoded-size limit's own
// message. libpng would stop at its user limits first, with a failure we could
// only report as "Error Reading File!", so look at the IHDR chunk ourselves
// (PNG standard, 5.2 and 11.2.2: signature, then IHDR with width and height as
// the first two big-endian 4-byte fields).
void CheckHeaderSize(TReadContext& context, const TSizeLimits& limits) {
    if (!FillBuffer(context)) return;  // libpng reports the empty file
    static const uint8_t signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    const uint8_t* bytes = context.Buffer;
    if (context.End < 24 || std::memcmp(bytes, signature, 8) != 0 || std::memcmp(bytes + 12, "IHDR", 4) != 0) return;
    limits.CheckSize(BigEndian(bytes + 16), BigEndian(bytes + 20));
}

// ---- sections: plain data only, setjmp first (see png_library.hpp)

bool ReadHeaderSection(TReadContext& context) {
    if (setjmp(png_jmpbuf(context.Png))) return false;
    png_structp png = context.Png;
    png_infop info = context.Info;
    png_set_user_limits(png, MaxImageSide, MaxImageSide);
    png_set_chunk_cache_max(png, ChunkCacheMax);
    png_set_chunk_malloc_max(png, ChunkMallocMax);
    // A negative count ignores all unknown chunks and every known one except
    // IHDR, PLTE, tRNS, IDAT and IEND: text, ICC profiles and the like are
    // skipped unread instead of being inflated and kept.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_read_fn(png, &context, ReadData);
    png_read_info(png, info);
    context.Width = png_get_image_width(png, info);
    context.Height = png_get_image_height(png, info);
    context.BitDepth = png_get_bit_depth(png, info);
    context.ColorType = png_get_color_type(png, info);
    context.HasAlpha = (context.ColorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    return true;
}

// Asks libpng for rows of 8-bit B, G, R (, A) whatever the file holds.
bool PrepareRowsSection(TReadContext& context) {
    if (setjmp(png_jmpbuf(context.Png))) return false;
    png_structp png = context.Png;
    png_infop info = context.Info;
    // png_set_expand covers palette to RGB, grey below 8 bits to 8 bits and the
    // tRNS chunk to a full alpha channel. libpng expands before it strips 16-bit
    // samples, so a 16-bit grey or RGB key is compared at its full 16 bits.
    png_set_expand(png);
    if (context.BitDepth == 16) png_set_strip_16(png);  // keeps the high byte
    if ((context.ColorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_set_read_user_transform_fn(png, CountDecodedRow);
    context.RowsInData = CountRowsInData(context.Width, context.Height, png_get_interlace_type(png, info));
    png_read_update_info(png, info);
    context.OutputDepth = png_get_bit_depth(png, info);
    context.OutputChannels = png_get_channels(png, info);
    context.RowBytes = png_get_rowbytes(png, info);
    return true;
}

enum class TRowsRead { Failed, ToTheEnd, StoppedAfterLastRow };

// Neither the image data after the last row nor the chunks after the image
// data are read: nothing in them changes the picture.
TRowsRead ReadRowsSection(TReadContext& context, png_bytepp rows) {
    switch (setjmp(png_jmpbuf(context.Png))) {
        case 0: break;
        case JumpAfterLastRow: return TRowsRead::StoppedAfterLastRow;
        default: return TRowsRead::Failed;
    }
    png_read_image(context.Png, rows);
    return TRowsRead::ToTheEnd;
}

}  // namespace

void ReadPngImage(TStream& stream, TBitmap& bitmap) {
    auto buffer = std::make_unique_for_overwrite<uint8_t[]>(ReadBufferSize);
    TReadContext context;
    context.Stream = &stream;
    context.Buffer = buffer.get();
    CheckHeaderSize(context, bitmap.Limits);

    // Declaring the version we are compiled against: libpng refuses to create
    // its state for a version text it does not share its major and minor with.
    context.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context.Error, RaisePngError, IgnorePngWarning);
    if (context.Png == nullptr) RaiseReadError();
    TScopeGuard destroyState([&context] { png_destroy_read_struct(&context.Png, &context.Info, nullptr); });
    context.Info = png_create_info_struct(context.Png);
    if (context.Info == nullptr) RaiseReadError();

    if (!ReadHeaderSection(context)) RaiseReadError();
    bitmap.Limits.CheckSize(context.Width, context.Height);
    if (!PrepareRowsSection(context)) RaiseReadError();

    const int channels = context.HasAlpha ? 4 : 3;
    const size_t rowBytes = size_t{context.Width} * static_cast<size_t>(channels);
    // libpng's layout must be the one we asked for; the rows are written
    // straight into the bitmap, so anything else would overrun them.
    if (context.OutputDepth != 8 || context.OutputChannels != channels || context.RowBytes != rowBytes)
        RaiseReadError();

    TBitmap decoded;
    decoded.Limits = bitmap.Limits;
    decoded.NewImage(static_cast<int>(context.Width), static_cast<int>(context.Height), context.HasAlpha ? Px32 : Px24);
    TDIBSection* dib = decoded.Handle();
    std::vector<png_bytep> rows(context.Height);
    for (png_uint_32 y = 0; y < context.Height; ++y) rows[y] = dib->Row(static_cast<int>(y));
    switch (ReadRowsSection(context, rows.data())) {
        case TRowsRead::Failed: RaiseReadError();
        case TRowsRead::StoppedAfterLastRow: CheckLastImageChunk(context); break;
        case TRowsRead::ToTheEnd: break;
    }

    bitmap.CopyFrom(&decoded);
}

}  // namespace tamberlit
