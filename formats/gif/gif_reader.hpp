#pragma once
// The byte source the GIF reader works on: a window over a TStream that lets the
// block parser step back and look ahead cheaply. Memory streams are read in
// place; other streams through a 64 KiB buffer, so a file is not read a byte
// per system call.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/stream.hpp"

namespace tamberlit {

class TGIFReader {
public:
    // Starts at the stream's current position.
    explicit TGIFReader(TStream& stream);
    TGIFReader(const TGIFReader&) = delete;
    TGIFReader& operator=(const TGIFReader&) = delete;

    // Positions are those of the underlying stream.
    int64_t Position() const { return position_; }
    int64_t Size() const { return size_; }
    int64_t Remaining() const { return size_ - position_; }
    bool AtEnd() const { return position_ >= size_; }
    // Moves to a position, kept between 0 and the end of the stream.
    void Seek(int64_t position);
    void Skip(int64_t count) { Seek(position_ + count); }
    void StepBack() { Seek(position_ - 1); }

    // The next byte, or -1 at the end of the stream.
    int ReadByte() {
        const int64_t offset = position_ - windowStart_;
        if (offset >= 0 && offset < windowLength_) {
            ++position_;
            return window_[offset];
        }
        return ReadByteSlow();
    }
    // Up to count bytes; returns how many were read.
    size_t Read(void* buffer, size_t count);
    // Exactly count bytes, or GIFException "Premature end of data".
    void ReadExact(void* buffer, size_t count);

    // Leaves the underlying stream at Position().
    void Commit();

private:
    int ReadByteSlow();
    bool FillWindow();

    TStream& stream_;
    int64_t size_ = 0;
    int64_t position_ = 0;
    const uint8_t* window_ = nullptr;  // bytes from windowStart_ on
    int64_t windowStart_ = 0;
    int64_t windowLength_ = 0;
    bool inPlace_ = false;  // window_ is the whole memory stream
    std::vector<uint8_t> buffer_;
};

}  // namespace tamberlit
