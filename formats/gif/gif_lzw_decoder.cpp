#include "formats/gif/gif_lzw_decoder.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "formats/gif/gif_internal.hpp"
#include "image/limits.hpp"

namespace tamberlit {

namespace {

constexpr int tableSize = 4096;  // codes have at most 12 bits
constexpr int stackSize = 8192;
constexpr int maxMinimumCodeSize = 11;  // beyond it the clear code lies outside the table

// The decoder of one frame. It keeps the sub-block being read in a buffer whose
// first two bytes carry the end of the previous sub-block, since a code may
// straddle the boundary between two sub-blocks.
//
// Every string is by definition the one the table chain gives (walked onto a
// stack, as appendix F describes). Output goes to one contiguous block in data
// order, so while a string's chain can no longer change, an earlier copy of it
// in the output is the string itself: it is copied from there instead of walked.
// A chain can change only in damaged data (an entry that points forward, a raw
// value after a clear code); such entries, and those built on them, are walked.
class TLZWDecoder {
public:
    TLZWDecoder(TGIFReader& reader, TGIFSubImage& frame, int minimumCodeSize)
        : reader_(reader), frame_(frame), minimumCodeSize_(minimumCodeSize), clear_(1 << minimumCodeSize),
          end_(clear_ + 1), chainLimit_(stackSize - 1 - (tableSize - clear_)) {
        ResetTable();
    }

    // Stores up to count values into out, in data order; returns how many were
    // stored before a value could not be had (end of data, end-of-information
    // code). out must hold count bytes.
    size_t Pull(uint8_t* out, size_t count) {
        size_t at = 0;
        while (at < count) {
            if (top_ < stackSize) {
                const size_t take = std::min(static_cast<size_t>(stackSize - top_), count - at);
                std::memcpy(out + at, stack_ + top_, take);
                top_ += static_cast<int>(take);
                at += take;
                continue;
            }
            const int code = NextCode();
            if (code < 0) return at;
            if (code != clear_ && code != end_) {
                const int length = CopyString(code, out, at, count);
                if (length > 0) {
                    at += static_cast<size_t>(length);
                    continue;
                }
            }
            // Walked onto the stack: the first value now, the rest from the stack.
            const int value = Expand(code);
            if (value < 0) return at;
            lastPosition_ = static_cast<uint32_t>(at);
            lastLength_ = static_cast<uint32_t>(1 + stackSize - top_);
            lastCopyable_ = code == clear_ && value < clear_;
            out[at++] = static_cast<uint8_t>(value);
        }
        return at;
    }

    // Takes one more value and drops it. When the data held exactly the
    // frame's pixels this meets the end-of-information code, which moves the
    // reader past the rest of the frame's data.
    void PullOne() {
        if (top_ < stackSize) {
            ++top_;
            return;
        }
        const int code = NextCode();
        if (code < 0) return;
        Expand(code);
        lastCopyable_ = false;
    }

private:
    // The next code of the data, a clear code first; -1 at their end.
    int NextCode() {
        if (!start_) return FetchCode();
        start_ = false;
        return clear_;
    }

    void ResetTable() {
        std::memset(prefix_, 0, sizeof prefix_);
        for (int i = 0; i < clear_; ++i) suffix_[i] = static_cast<uint8_t>(i);
        std::memset(suffix_ + clear_, 0, sizeof suffix_ - static_cast<size_t>(clear_));
        std::memset(copyable_, 0, sizeof copyable_);
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
        const uint32_t gathered =
            uint32_t(buffer_[at]) | uint32_t(buffer_[at + 1]) << 8 | uint32_t(buffer_[at + 2]) << 16;
        const int code = static_cast<int>((gathered >> (bitPosition_ & 7)) & ((1u << bits) - 1));
        bitPosition_ += bits;
        return code;
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

    // Adds the entry "previous string + first" and grows the code size when
    // the table reaches the next power of two (never beyond 12 bits).
    void AddEntry() {
        if (next_ >= tableSize) return;
        prefix_[next_] = static_cast<uint16_t>(previous_);
        suffix_[next_] = first_;
        // The previous string was the last one stored, and the first value of
        // this one follows it: a copy of the new entry's string.
        copyable_[next_] = lastCopyable_ && previous_ < next_;
        position_[next_] = lastPosition_;
        length_[next_] = lastLength_ + 1;
        ++next_;
        if (next_ >= threshold_ && threshold_ < tableSize) {
            threshold_ *= 2;
            ++codeSize_;
        }
    }

    // Stores the string of a code that needs no walk: a literal, an entry whose
    // string has a fixed copy, or the entry about to be made from the previous
    // string. Returns its length, or 0 when the code must be walked (or does
    // not fit before the end of the frame).
    int CopyString(int code, uint8_t* out, size_t at, size_t count) {
        uint8_t* target = out + at;
        int length;
        if (code < clear_) {
            length = 1;
            *target = static_cast<uint8_t>(code);
        } else if (code < next_ && copyable_[code]) {
            length = length_[code];
            if (static_cast<size_t>(length) > count - at) return 0;
            CopyEarlier(target, out + position_[code], static_cast<size_t>(length), out + count);
        } else if (code == next_ && lastCopyable_) {
            length = static_cast<int>(lastLength_) + 1;
            if (static_cast<size_t>(length) > count - at) return 0;
            CopyEarlier(target, out + lastPosition_, lastLength_, out + count);
            target[lastLength_] = first_;
        } else {
            return 0;
        }
        first_ = *target;
        AddEntry();
        previous_ = code;
        lastPosition_ = static_cast<uint32_t>(at);
        lastLength_ = static_cast<uint32_t>(length);
        lastCopyable_ = true;
        return length;
    }

    // Copies length bytes from an earlier place that ends at or before target.
    // Copies in 16-byte pieces where the block has room for the over-copy; the
    // bytes beyond length are written over by later strings or the fill.
    static void CopyEarlier(uint8_t* target, const uint8_t* source, size_t length, const uint8_t* limit) {
        const size_t rounded = (length + 15) & ~size_t{15};
        if (static_cast<size_t>(limit - target) < rounded) {
            std::memcpy(target, source, length);
            return;
        }
        for (size_t done = 0; done < length; done += 16) {
            uint8_t piece[16];
            std::memcpy(piece, source + done, 16);
            std::memcpy(target + done, piece, 16);
        }
    }

    // Decodes a code by walking its chain: leaves its string on the stack and
    // returns its first value (or a negative value when there is none).
    int Expand(int code) {
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
        AddEntry();
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

    // The last string stored: where, how long, and whether it is a fixed copy.
    uint32_t lastPosition_ = 0;
    uint32_t lastLength_ = 0;
    bool lastCopyable_ = false;

    uint16_t prefix_[tableSize];
    uint8_t suffix_[tableSize];  // values are stored as the low 8 bits a pixel keeps
    bool copyable_[tableSize];   // the entry's string lies at position_ in the output, for good
    uint32_t position_[tableSize];
    uint32_t length_[tableSize];
    uint8_t stack_[stackSize];
    uint8_t buffer_[2 + 255 + 3] = {};  // carried bytes, a sub-block, and room to gather 3 bytes anywhere
};

// Moves the rows of an interlaced frame, decoded in data order, to their places.
void PlaceInterlacedRows(uint8_t* pixels, int width, int height) {
    if (width == 0 || height < 2) return;
    // source[r]: the data-order row that belongs at row r.
    std::vector<int> source(static_cast<size_t>(height));
    TInterlacedRows rows(height);
    for (int k = 0; k < height; ++k, rows.Advance()) source[static_cast<size_t>(rows.Row())] = k;
    std::vector<uint8_t> saved(static_cast<size_t>(width));
    std::vector<bool> placed(static_cast<size_t>(height));
    auto row = [&](int r) { return pixels + static_cast<size_t>(r) * static_cast<size_t>(width); };
    for (int start = 0; start < height; ++start) {
        if (placed[static_cast<size_t>(start)] || source[static_cast<size_t>(start)] == start) continue;
        std::memcpy(saved.data(), row(start), saved.size());
        int r = start;
        while (source[static_cast<size_t>(r)] != start) {
            std::memcpy(row(r), row(source[static_cast<size_t>(r)]), saved.size());
            placed[static_cast<size_t>(r)] = true;
            r = source[static_cast<size_t>(r)];
        }
        std::memcpy(row(r), saved.data(), saved.size());
        placed[static_cast<size_t>(r)] = true;
    }
}

void FillPixels(uint8_t* pixels, uint8_t value, size_t count) {
    if (count > 0) std::memset(pixels, value, count);
}

}  // namespace

void DecodeFrameData(TGIFSubImage& frame, TGIFReader& reader) {
    const int width = frame.Width();
    const int height = frame.Height();
    const TGIFGraphicControlExtension* control = frame.GraphicControlExtension();
    const uint8_t fill = frame.Transparent() && control ? control->TransparentColorIndex() : 0;
    TRowsPresent& rowsPresent = TGIFInternals::RowsPresent(frame);
    rowsPresent = {0, height};
    // The first frame is the picture a conversion takes: it must be mostly
    // present. Later frames decode what is there.
    const bool picture = frame.Image().Images().Count() == 0;

    const int minimumCodeSize = reader.ReadByte();
    if (minimumCodeSize > maxMinimumCodeSize) RaiseGIFError(GIFText::InvalidGIFData);
    if (minimumCodeSize < 0) {
        // No image data at all.
        if (picture) CheckRowsPresent(0, height);
        uint8_t* pixels = TGIFInternals::AllocateData(frame);  // before DataSize(), which it sets
        FillPixels(pixels, fill, frame.DataSize());
        return;
    }
    uint8_t* pixels = TGIFInternals::AllocateData(frame);
    const size_t total = frame.DataSize();

    // Decoded in data order; the rows the data does not reach keep the fill,
    // and interlaced rows then move to their places.
    auto decoder = std::make_unique<TLZWDecoder>(reader, frame, minimumCodeSize);
    const size_t got = decoder->Pull(pixels, total);
    rowsPresent.Present = width > 0 ? static_cast<int64_t>(got / static_cast<size_t>(width)) : height;
    if (picture) CheckRowsPresent(rowsPresent.Present, height);
    FillPixels(pixels + got, fill, total - got);
    if (frame.Interlaced()) PlaceInterlacedRows(pixels, width, height);
    decoder->PullOne();
}

}  // namespace tamberlit
