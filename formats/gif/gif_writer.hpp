#pragma once
// The writer that cuts a frame's code stream into data sub-blocks (GIF89a,
// section 15), and the pass-through stream it is built on.

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

}  // namespace tamberlit
