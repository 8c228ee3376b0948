#pragma once
// Writing a frame's image data (GIF89a, section 22 and appendix F): the writer
// that cuts the code stream into data sub-blocks, and two encoders, an LZW
// encoder and a run-length encoder whose codes any LZW decoder reads.

#include <cstddef>
#include <cstdint>

#include "image/stream.hpp"

namespace tamberlit {

// A stream that only passes bytes on to another. Reading, seeking and writing
// through this base raise "Invalid stream operation".
class TGIFStream : public TStream {
public:
    explicit TGIFStream(TStream& target) : target_(target) {}
    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;

protected:
    TStream& target_;
};

// Cuts the bytes written to it into data sub-blocks: each full block of 255
// bytes goes to the target as one write of 256 bytes (size byte and data).
// Finish writes the last, shorter block; a writer dropped without Finish
// (after an error) writes nothing more.
class TGIFWriter : public TGIFStream {
public:
    explicit TGIFWriter(TStream& target) : TGIFStream(target) {}
    size_t Write(const void* buffer, size_t count) override;
    void WriteByte(uint8_t byte) {
        block_[fill_++] = byte;
        if (fill_ == sizeof block_) WriteBlock();
    }
    void Finish();

private:
    void WriteBlock();

    uint8_t block_[256];  // block_[0] is the size byte
    size_t fill_ = 1;
};

// What both encoders share: the code stream's parameters, the bit packing and
// the order in which pixels are coded (rows in interlaced order, or all rows).
class TGIFEncoder {
public:
    virtual ~TGIFEncoder() = default;
    TGIFEncoder() = default;
    TGIFEncoder(const TGIFEncoder&) = delete;
    TGIFEncoder& operator=(const TGIFEncoder&) = delete;

    // One frame's image data: the minimum code size byte (bitsPerPixel, at
    // least 2 and at most 8), the data sub-blocks and the zero-length block.
    // pixels holds width x height indices, rows top first; each must be below
    // colorCount, else "Color not in color table".
    void Encode(TStream& stream, int bitsPerPixel, int colorCount, const uint8_t* pixels, bool interlaced,
                int height, int width);

protected:
    // Puts a code of the current code size into the output, least
    // significant bit first.
    void EmitCode(uint32_t code) {
        bucket_ |= static_cast<uint64_t>(code) << bucketBits_;
        bucketBits_ += codeSize_;
        while (bucketBits_ >= 8) {
            writer_->WriteByte(static_cast<uint8_t>(bucket_));
            bucket_ >>= 8;
            bucketBits_ -= 8;
        }
    }
    // Starts the string table afresh (emitting the clear code).
    virtual void ClearTable() = 0;
    // Codes every pixel; the end-of-information code follows.
    virtual void EncodePixels() = 0;

    // The next run of pixels in coding order (within a row when interlaced),
    // already checked against the colour count; false when all are coded.
    bool NextPixels(const uint8_t*& pixels, size_t& count);

    int bitsPerPixel_ = 2;
    int initialCodeSize_ = 3;
    int codeSize_ = 3;
    uint32_t clearCode_ = 4;
    uint32_t endCode_ = 5;
    uint32_t firstFreeCode_ = 6;

private:
    void CheckColors(const uint8_t* pixels, size_t count) const;

    TGIFWriter* writer_ = nullptr;
    uint64_t bucket_ = 0;
    int bucketBits_ = 0;

    const uint8_t* pixels_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    bool interlaced_ = false;
    uint32_t colorCount_ = 0;
    int pass_ = 0;
    int row_ = 0;
    size_t done_ = 0;  // pixels handed out, when not interlaced
};

// The string table of the LZW encoder: 8009 slots (a prime) of key x 4096 +
// code, where key = prefix code x 256 + pixel; 0xFFFFFFFF marks an empty slot.
class THashTable {
public:
    static constexpr int SlotCount = 8009;

    THashTable() { Clear(); }
    void Clear();
    // The code stored for key, or -1.
    int Lookup(uint32_t key) const;
    // Stores key with code; the key must not be in the table.
    void Insert(uint32_t key, uint32_t code);

private:
    static uint32_t FirstProbe(uint32_t key) { return ((key >> 4) ^ key) % SlotCount; }
    static uint32_t NextProbe(uint32_t slot, int probes);

    uint32_t slots_[SlotCount];
};

class TLZWEncoder : public TGIFEncoder {
protected:
    void ClearTable() override;
    void EncodePixels() override;

private:
    void EmitAndGrow(uint32_t code);

    THashTable table_;
    uint32_t nextCode_ = 0;
    uint32_t largestCode_ = 0;
};

// Codes runs of one pixel value as the string table of any LZW decoder
// builds them (the first pixel, then runs of 2, 3, ... after a clear code),
// without looking strings up.
class TRLEEncoder : public TGIFEncoder {
protected:
    void ClearTable() override;
    void EncodePixels() override;

private:
    void EmitPlain(uint32_t code);
    void FlushRun(uint64_t count);
    void FlushFromClear(uint64_t count);
    void FlushWithTable(uint64_t count);
    void FlushClearOrRepeat(uint64_t count);
    void RestoreClearCount();
    // The number of codes that code count pixels of one value after a clear.
    uint64_t TriangleCount(uint64_t count) const;

    uint32_t runPixel_ = 0;
    uint64_t outputCount_ = 0;   // codes since the last clear code
    uint64_t growCount_ = 0;     // at this count the code size grows
    uint64_t growCountInit_ = 0;
    uint64_t clearCount_ = 0;    // at this count a clear code is forced
    uint64_t clearCountInit_ = 0;
    uint64_t maxRunCodes_ = 0;   // codes a table can take before it is full
    uint64_t tableMaxRun_ = 0;   // longest run of tablePixel_ the table holds
    uint32_t tablePixel_ = 0;
    bool clearPending_ = false;  // no code since the last clear code
};

// Writes one frame's image data with the given encoder.
void EncodeFrameData(TGIFEncoder& encoder, TStream& stream, int bitsPerPixel, int colorCount, const uint8_t* pixels,
                     bool interlaced, int height, int width);

}  // namespace tamberlit
