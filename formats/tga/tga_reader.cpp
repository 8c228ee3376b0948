// The reading road of TTGAFile: header, image ID, colour map, then the rows,
// uncompressed or run-length encoded, decoded straight into the bitmap rows.
// One read is a small context (the stream, the header, the bitmap it fills)
// and one function per step.

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "formats/tga/tga_file.hpp"
#include "image/byte_order.hpp"
#include "image/exceptions.hpp"
#include "image/limits.hpp"

namespace tamberlit {

namespace {

// The stream from position 0 on, read in blocks. A read past the end delivers
// nothing and is no error: a TGA file whose data ends early still loads, and
// what it does not deliver stays as it was (zero in a fresh bitmap).
class TTGASource {
public:
    explicit TTGASource(TStream& stream)
        : stream_(stream), block_(std::make_unique_for_overwrite<uint8_t[]>(BlockSize)) {
        stream_.SetPosition(0);
    }

    // Copies up to count bytes to target; returns how many were delivered.
    size_t Read(uint8_t* target, size_t count) {
        size_t done = 0;
        while (done < count) {
            if (next_ == end_) {
                // Large reads (rows, raw packets) go straight from the stream
                // to the bitmap without a stop in the block.
                if (count - done >= DirectReadSize) return done + ReadStream(target + done, count - done);
                if (!Fill()) break;
            }
            const size_t step = std::min(count - done, end_ - next_);
            std::memcpy(target + done, block_.get() + next_, step);
            next_ += step;
            done += step;
        }
        return done;
    }

    // One pixel value (at most 4 bytes), in the common case from the block
    // without a call to memcpy.
    size_t ReadPixelValue(uint8_t* target, size_t count) {
        if (end_ - next_ < count) return Read(target, count);
        for (size_t i = 0; i < count; ++i) target[i] = block_[next_ + i];
        next_ += count;
        return count;
    }

    bool ReadByte(uint8_t& value) {
        if (next_ == end_ && !Fill()) return false;
        value = block_[next_++];
        return true;
    }

    void Skip(uint64_t count) {
        while (count > 0) {
            if (next_ == end_ && !Fill()) return;
            const size_t step = static_cast<size_t>(std::min<uint64_t>(count, end_ - next_));
            next_ += step;
            count -= step;
        }
    }

private:
    static constexpr size_t BlockSize = size_t{1} << 16;
    static constexpr size_t DirectReadSize = size_t{1} << 12;

    bool Fill() {
        next_ = end_ = 0;
        if (ended_) return false;
        end_ = ReadStream(block_.get(), BlockSize);
        return end_ > 0;
    }

    size_t ReadStream(uint8_t* target, size_t count) {
        size_t done = 0;
        while (!ended_ && done < count) {
            const size_t got = stream_.Read(target + done, count - done);
            if (got == 0) ended_ = true;
            done += got;
        }
        return done;
    }

    TStream& stream_;
    std::unique_ptr<uint8_t[]> block_;
    size_t next_ = 0;
    size_t end_ = 0;
    bool ended_ = false;
};

constexpr uint8_t DescriptorRightToLeft = 0x10;
constexpr uint8_t DescriptorTopToBottom = 0x20;

// How a pixel is stored in the file; what it becomes in the bitmap row.
enum class TStoredPixel {
    Index8,       // palette index -> Px8
    Color16,      // 5-5-5 blue, green, red, bit 15 unused -> Px24
    GreyAlpha16,  // grey byte, alpha byte (image types 3 and 11) -> Px32
    Color24,      // blue, green, red -> Px24
    Color32,      // blue, green, red, alpha -> Px32
};

bool IsReadableImageType(uint8_t type) {
    switch (type) {
        case 1:  // colour-mapped
        case 2:  // true-colour
        case 3:  // grey
        case 9:  // the same three, run-length encoded
        case 10:
        case 11: return true;
        default: return false;
    }
}

bool IsRunLengthEncoded(uint8_t type) { return type >= 9; }

bool IsGreyImageType(uint8_t type) { return type == 3 || type == 11; }

// The image type says uncompressed or run-length encoded, and for 16 bits grey
// with alpha or 5-5-5 colour; otherwise the pixel depth alone decides the
// layout. Depths 1 and 4 (not TGA 2.0 depths) and 15 are refused with the
// other unknown ones.
TStoredPixel StoredPixelOf(const TTGAHeader& header) {
    switch (header.PixelDepth) {
        case 8: return TStoredPixel::Index8;
        case 16: return IsGreyImageType(header.ImageType) ? TStoredPixel::GreyAlpha16 : TStoredPixel::Color16;
        case 24: return TStoredPixel::Color24;
        case 32: return TStoredPixel::Color32;
        default: throw ETGA();
    }
}

size_t StoredBytes(TStoredPixel kind) {
    switch (kind) {
        case TStoredPixel::Index8: return 1;
        case TStoredPixel::Color16:
        case TStoredPixel::GreyAlpha16: return 2;
        case TStoredPixel::Color24: return 3;
        case TStoredPixel::Color32: return 4;
    }
    return 0;
}

TPixelFormat PixelFormatOf(TStoredPixel kind) {
    switch (kind) {
        case TStoredPixel::Index8: return Px8;
        case TStoredPixel::Color16:
        case TStoredPixel::Color24: return Px24;
        case TStoredPixel::GreyAlpha16:
        case TStoredPixel::Color32: return Px32;
    }
    return Px24;
}

size_t PixelBytes(TPixelFormat format) { return static_cast<size_t>(BitCountOf(format) / 8); }

// A 16-bit word's 5-bit channels widened by a shift: 31 becomes 248, as the
// format document describes them (each channel is a 5-bit intensity).
void Expand16(const uint8_t* stored, uint8_t* blue, uint8_t* green, uint8_t* red) {
    const unsigned word = LittleEndian16(stored);
    *blue = static_cast<uint8_t>((word & 31) << 3);
    *green = static_cast<uint8_t>(((word >> 5) & 31) << 3);
    *red = static_cast<uint8_t>(((word >> 10) & 31) << 3);
}

void MirrorRow(uint8_t* row, size_t width, size_t pixelBytes) {
    if (pixelBytes == 1) {
        std::reverse(row, row + width);
        return;
    }
    uint8_t* left = row;
    uint8_t* right = row + (width - 1) * pixelBytes;
    for (size_t x = 0; x < width / 2; ++x, left += pixelBytes, right -= pixelBytes)
        std::swap_ranges(left, left + pixelBytes, right);
}

// Turns the file's pixel data into bitmap rows, one row per call. The TGA 2.0
// document asks writers to end run-length packets at row ends, but many
// writers let them run on into the next row; the decoder therefore keeps an
// unfinished packet for the next row instead of dropping its surplus.
class TTGARowDecoder {
public:
    TTGARowDecoder(TTGASource& source, TStoredPixel kind, bool runLength, size_t width)
        : source_(source), kind_(kind), storedBytes_(StoredBytes(kind)), pixelBytes_(PixelBytes(PixelFormatOf(kind))),
          runLength_(runLength), width_(width) {}

    size_t PixelSize() const { return pixelBytes_; }

    // Decodes the next row into row (zero on entry). Returns false when the
    // data ended within the row or before it; the rest of the row stays zero.
    bool DecodeRow(uint8_t* row) { return runLength_ ? DecodeRunLengthRow(row) : ReadPixels(row, width_); }

private:
    bool DecodeRunLengthRow(uint8_t* row) {
        size_t x = 0;
        while (x < width_) {
            if (packetLeft_ == 0 && !StartPacket()) return false;
            const size_t count = std::min(packetLeft_, width_ - x);
            uint8_t* target = row + x * pixelBytes_;
            if (packetIsRun_) {
                FillRun(target, count);
            } else if (!ReadPixels(target, count)) {
                return false;
            }
            x += count;
            packetLeft_ -= count;
        }
        return true;
    }

    // Reads a packet header and, for a run, its pixel value. The header's low
    // seven bits count the pixels less one; bit 7 marks a run.
    bool StartPacket() {
        uint8_t header = 0;
        if (!source_.ReadByte(header)) return false;
        packetLeft_ = (header & 0x7Fu) + 1;
        packetIsRun_ = (header & 0x80) != 0;
        if (!packetIsRun_) return true;
        uint8_t stored[4] = {};
        if (source_.ReadPixelValue(stored, storedBytes_) < storedBytes_) return false;  // a cut run value is no pixel
        Convert(stored, runValue_, 1);
        return true;
    }

    // Fixed-size copies per pixel size, so that the compiler stores each pixel
    // directly instead of calling memcpy for every one.
    void FillRun(uint8_t* target, size_t count) const {
        switch (pixelBytes_) {
            case 1: std::memset(target, runValue_[0], count); return;
            case 3:
                for (size_t i = 0; i < count; ++i, target += 3) std::memcpy(target, runValue_, 3);
                return;
            default:
                for (size_t i = 0; i < count; ++i, target += 4) std::memcpy(target, runValue_, 4);
                return;
        }
    }

    // Reads count stored pixels into target in bitmap layout. Returns false
    // when the data ended; the bytes of the pixels it got are kept.
    bool ReadPixels(uint8_t* target, size_t count) {
        if (storedBytes_ == pixelBytes_) {
            const size_t want = count * storedBytes_;
            return source_.Read(target, want) == want;
        }
        // 16-bit pixels: read in chunks, widen each into the row.
        while (count > 0) {
            const size_t chunk = std::min(count, ChunkPixels);
            const size_t got = source_.Read(scratch_, chunk * storedBytes_) / storedBytes_;
            Convert(scratch_, target, got);
            if (got < chunk) return false;
            target += chunk * pixelBytes_;
            count -= chunk;
        }
        return true;
    }

    void Convert(const uint8_t* stored, uint8_t* target, size_t count) const {
        switch (kind_) {
            case TStoredPixel::Color16:
                for (size_t i = 0; i < count; ++i, stored += 2, target += 3)
                    Expand16(stored, &target[0], &target[1], &target[2]);
                return;
            case TStoredPixel::GreyAlpha16:
                for (size_t i = 0; i < count; ++i, stored += 2, target += 4) {
                    target[0] = target[1] = target[2] = stored[0];
                    target[3] = stored[1];
                }
                return;
            default: std::memcpy(target, stored, count * storedBytes_); return;
        }
    }

    static constexpr size_t ChunkPixels = 256;

    TTGASource& source_;
    const TStoredPixel kind_;
    const size_t storedBytes_;
    const size_t pixelBytes_;
    const bool runLength_;
    const size_t width_;
    // The packet the previous row left unfinished.
    size_t packetLeft_ = 0;
    bool packetIsRun_ = false;
    uint8_t runValue_[4] = {};
    uint8_t scratch_[ChunkPixels * 2] = {};
};

// What one read works on: the stream through its block reader, and the
// file's header, bitmap and row count, which the steps fill in.
struct TTGAReadContext {
    TTGASource Source;
    TTGAHeader& Header;
    TBitmap& Bitmap;
    TRowsPresent& RowsPresent;
};

// The colour map goes into a 256-entry palette from its first entry index on.
// Entries of 15 and 16 bits are 5-5-5 words, 24 bits blue, green, red, 32 bits
// blue, green, red, alpha (alpha has no place in a palette). Entries of other
// sizes and entries at 256 and beyond are stepped over, so the pixel data is
// always found right after the map; palette entries the file does not give
// stay black.
HPALETTE ReadColorMap(TTGAReadContext& context) {
    const TTGAHeader& header = context.Header;
    TTGASource& source = context.Source;
    std::vector<TPaletteEntry> entries(256);
    const unsigned size = header.ColorMapEntrySize;
    const size_t entryBytes = (size + 7) / 8;
    const bool readable = size == 15 || size == 16 || size == 24 || size == 32;
    const unsigned first = header.ColorMapFirstEntry;
    const unsigned length = header.ColorMapLength;
    if (!readable || first >= 256) {
        source.Skip(uint64_t{length} * entryBytes);
        return CreatePalette(std::move(entries));
    }
    const unsigned inPalette = std::min(length, 256 - first);
    for (unsigned i = 0; i < inPalette; ++i) {
        uint8_t stored[4] = {};
        source.Read(stored, entryBytes);
        TPaletteEntry& entry = entries[first + i];
        if (entryBytes == 2) {
            Expand16(stored, &entry.peBlue, &entry.peGreen, &entry.peRed);
        } else {
            entry.peBlue = stored[0];
            entry.peGreen = stored[1];
            entry.peRed = stored[2];
        }
    }
    source.Skip(uint64_t{length - inPalette} * entryBytes);
    return CreatePalette(std::move(entries));
}

void ReadHeader(TTGAReadContext& context) {
    TTGAHeader& header = context.Header;
    // A short header is no error of its own: the bytes it lacks keep their
    // value (zero in a fresh object), and a zero image type is refused below.
    uint8_t bytes[TTGAHeader::Size];
    header.Encode(bytes);
    context.Source.Read(bytes, sizeof bytes);
    header.Decode(bytes);
    context.Source.Skip(header.IDLength);

    if (!IsReadableImageType(header.ImageType)) throw ETGA();
    const TPixelFormat format = PixelFormatOf(StoredPixelOf(header));
    context.Bitmap.Limits.CheckSize(header.Width, header.Height);

    HPALETTE palette = header.ColorMapType != 0 ? ReadColorMap(context) : nullptr;
    if (!palette && format == Px8) palette = CreateGreyRampPalette(0);
    context.Bitmap.NewImage(header.Width, header.Height, format);
    if (palette) context.Bitmap.SetPalette(palette);
}

void ReadPixels(TTGAReadContext& context) {
    const TTGAHeader& header = context.Header;
    TRowsPresent& rowsPresent = context.RowsPresent;
    const size_t width = header.Width;
    const int height = header.Height;
    rowsPresent = {height, height};
    if (width == 0 || height == 0) return;
    TTGARowDecoder decoder(context.Source, StoredPixelOf(header), IsRunLengthEncoded(header.ImageType), width);
    const bool topDown = (header.Descriptor & DescriptorTopToBottom) != 0;
    const bool mirrored = (header.Descriptor & DescriptorRightToLeft) != 0;
    for (int i = 0; i < height; ++i) {
        uint8_t* row = context.Bitmap.RowAddress(topDown ? i : height - 1 - i);
        const bool complete = decoder.DecodeRow(row);
        if (mirrored) MirrorRow(row, width, decoder.PixelSize());
        // The rows after the end of the data stay zero.
        if (!complete) {
            rowsPresent.Present = i;
            break;
        }
    }
    CheckRowsPresent(rowsPresent.Present, rowsPresent.Total);
}

}  // namespace

void TTGAFile::LoadFromStream(TStream& stream) {
    TTGAReadContext context{TTGASource(stream), Header, Bitmap, RowsPresent};
    TBitmap previous;  // shares the pixels: no copy
    if (!Bitmap.Empty()) previous.CopyFrom(&Bitmap);
    ReadHeader(context);
    try {
        ReadPixels(context);
    } catch (...) {
        Bitmap.CopyFrom(previous.Empty() ? nullptr : &previous);
        throw;
    }
}

}  // namespace tamberlit
