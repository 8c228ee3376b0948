#include "formats/gif/gif_lzw.hpp"

#include <algorithm>
#include <cstring>

namespace tamberlit {

namespace {

constexpr int tableSize = 4096;  // codes have at most 12 bits
constexpr int stackSize = 8192;
constexpr int maxMinimumCodeSize = 11;  // beyond it the clear code lies outside the table

// The decoder of one frame. It keeps the sub-block being read in a buffer whose
// first two bytes carry the end of the previous sub-block, since a code may
// straddle the boundary between two sub-blocks.
class TLZWDecoder {
public:
    TLZWDecoder(TGIFReader& reader, TGIFSubImage& frame, int minimumCodeSize)
        : reader_(reader),
          frame_(frame),
          minimumCodeSize_(minimumCodeSize),
          clear_(1 << minimumCodeSize),
          end_(clear_ + 1),
          chainLimit_(stackSize - 1 - (tableSize - clear_)) {
        ResetTable();
    }

    // Stores up to count values; returns how many were stored before a value
    // could not be had (end of data, end-of-information code).
    size_t Pull(uint8_t* target, size_t count) {
        size_t done = 0;
        while (done < count) {
            if (top_ < stackSize) {
                const size_t take = std::min(static_cast<size_t>(stackSize - top_), count - done);
                std::memcpy(target + done, stack_ + top_, take);
                top_ += static_cast<int>(take);
                done += take;
                continue;
            }
            const int value = ExpandCode();
            if (value < 0) return done;
            target[done++] = static_cast<uint8_t>(value);
        }
        return done;
    }

    // Takes one more value and drops it. When the data held exactly the
    // frame's pixels this meets the end-of-information code, which moves the
    // reader past the rest of the frame's data.
    void PullOne() {
        if (top_ < stackSize)
            ++top_;
        else
            ExpandCode();
    }

private:
    void ResetTable() {
        std::memset(prefix_, 0, sizeof prefix_);
        for (int i = 0; i < clear_; ++i) suffix_[i] = static_cast<uint8_t>(i);
        std::memset(suffix_ + clear_, 0, sizeof suffix_ - static_cast<size_t>(clear_));
        codeSize_ = minimumCodeSize_ + 1;
        threshold_ = 2 * clear_;
        next_ = clear_ + 2;
        top_ = stackSize;
    }

    int FetchCode() {
        const int bits = codeSize_;
        // A code that ends exactly at the last valid bit also refills first, so
        // the end of the data is seen as soon as it is reached.
        if (bitPosition_ + bits >= bitCount_ && !Refill(bits)) return -1;
        const int at = bitPosition_ >> 3;
        const uint32_t gathered = uint32_t(buffer_[at]) | uint32_t(buffer_[at + 1]) << 8 | uint32_t(buffer_[at + 2]) << 16;
        bitPosition_ += bits;
        return static_cast<int>((gathered >> ((bitPosition_ - bits) & 7)) & ((1u << bits) - 1));
    }

    bool Refill(int bits) {
        for (;;) {
            if (dataEnded_) {
                if (bitPosition_ >= bitCount_) frame_.ReportWarning(gsWarning, GIFText::DecoderBitBufferUnderRun);
                return false;
            }
            buffer_[0] = buffer_[valid_ - 2];
            buffer_[1] = buffer_[valid_ - 1];
            int size = reader_.ReadByte();
            if (size < 0) return false;
            bool complete = true;
            if (size == 0) {
                dataEnded_ = true;
            } else {
                if (size > reader_.Remaining()) {
                    frame_.ReportWarning(gsWarning, GIFText::PrematureEndOfData);
                    size = static_cast<int>(reader_.Remaining());
                    complete = false;
                }
                if (size > 0) reader_.ReadExact(buffer_ + 2, static_cast<size_t>(size));
            }
            // After a zero-length or cut sub-block the code is taken from what
            // the buffer holds: the carried bytes and whatever follows them.
            valid_ = 2 + size;
            bitPosition_ += 16 - bitCount_;
            bitCount_ = 8 * valid_;
            // Sub-blocks may be shorter than a code (1 byte); a code that
            // straddles more than one boundary reads on until it is complete.
            if (bitPosition_ + bits <= bitCount_ || size == 0 || !complete) return true;
        }
    }

    // Moves the reader past the rest of the frame's data sub-blocks.
    void SkipRest() {
        for (int size = reader_.ReadByte(); size > 0; size = reader_.ReadByte()) reader_.Skip(size);
        dataEnded_ = true;
    }

    // Decodes the next code: leaves its string on the stack and returns its
    // first value (or a negative value when there is none).
    int ExpandCode() {
        int code;
        if (start_) {
            start_ = false;
            code = clear_;
        } else {
            code = FetchCode();
            if (code < 0) return code;
        }
        if (code == clear_) {
            ResetTable();
            do code = FetchCode();
            while (code == clear_);
            // The first code after a clear is not looked up: it is its own value.
            if (code >= 0) {
                first_ = static_cast<uint8_t>(code);
                previous_ = code;
            }
            return code;
        }
        if (code == end_) {
            if (!dataEnded_) SkipRest();
            return -2;
        }
        const int incoming = code;
        int top = stackSize;
        if (code >= next_) {
            // Not yet in the table (the string-plus-first-character case, or a
            // code beyond it in damaged data): the previous string and its first value.
            stack_[--top] = first_;
            code = previous_;
        }
        while (code >= clear_) {
            stack_[--top] = suffix_[code];
            code = prefix_[code];
            // No chain visits more entries than the table has: a longer one loops.
            if (top < chainLimit_) RaiseGIFError(GIFText::CircularDecoderTableEntry);
        }
        first_ = suffix_[code];
        stack_[--top] = first_;
        if (next_ < tableSize) {
            prefix_[next_] = static_cast<uint16_t>(previous_);
            suffix_[next_] = first_;
            ++next_;
            if (next_ >= threshold_ && threshold_ < tableSize) {
                threshold_ *= 2;
                ++codeSize_;
            }
        }
        previous_ = incoming;
        top_ = top + 1;
        return stack_[top];
    }

    TGIFReader& reader_;
    TGIFSubImage& frame_;
    const int minimumCodeSize_;
    const int clear_;
    const int end_;
    const int chainLimit_;

    int codeSize_ = 0;
    int next_ = 0;
    int threshold_ = 0;
    uint8_t first_ = 0;
    int previous_ = 0;
    bool start_ = true;
    bool dataEnded_ = false;

    int valid_ = 2;
    int bitPosition_ = 0;
    int bitCount_ = 0;
    int top_ = stackSize;  // values waiting on the stack are stack_[top_ .. stackSize - 1]

    uint16_t prefix_[tableSize];
    uint8_t suffix_[tableSize];  // values are stored as the low 8 bits a pixel keeps
    uint8_t stack_[stackSize];
    uint8_t buffer_[2 + 255 + 3] = {};  // carried bytes, a sub-block, and room to gather 3 bytes anywhere
};

void FillPixels(uint8_t* pixels, uint8_t value, size_t count) {
    if (count > 0) std::memset(pixels, value, count);
}

}  // namespace

void DecodeFrameData(TGIFSubImage& frame, TGIFReader& reader) {
    const int width = frame.Width();
    const int height = frame.Height();
    const TGIFGraphicControlExtension* control = frame.GraphicControlExtension();
    const uint8_t fill = frame.Transparent() && control ? control->TransparentColorIndex() : 0;
    uint8_t* pixels = frame.AllocateData();
    const size_t total = frame.DataSize();

    const int minimumCodeSize = reader.ReadByte();
    if (minimumCodeSize < 0) {
        FillPixels(pixels, fill, total);
        return;
    }
    if (minimumCodeSize > maxMinimumCodeSize) RaiseGIFError(GIFText::InvalidGIFData);

    auto decoder = std::make_unique<TLZWDecoder>(reader, frame, minimumCodeSize);
    if (frame.Interlaced()) {
        TInterlacedRows rows(height);
        int done = 0;
        for (; done < height; ++done, rows.Advance()) {
            uint8_t* row = pixels + static_cast<size_t>(rows.Row()) * static_cast<size_t>(width);
            const size_t got = decoder->Pull(row, static_cast<size_t>(width));
            if (got < static_cast<size_t>(width)) {
                FillPixels(row + got, fill, static_cast<size_t>(width) - got);
                break;
            }
        }
        // The rows the data did not reach keep the fill.
        for (++done, rows.Advance(); done < height; ++done, rows.Advance())
            FillPixels(pixels + static_cast<size_t>(rows.Row()) * static_cast<size_t>(width), fill,
                       static_cast<size_t>(width));
    } else {
        const size_t got = decoder->Pull(pixels, total);
        FillPixels(pixels + got, fill, total - got);
    }
    decoder->PullOne();
}

}  // namespace tamberlit
