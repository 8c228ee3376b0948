#include "formats/gif/gif_writer.hpp"

#include <algorithm>
#include <cstring>

#include "formats/gif/gif_errors.hpp"

namespace tamberlit {

// ---------------------------------------------------------------- TGIFStream

size_t TGIFStream::Read(void*, size_t) { throw Exception(GIFText::InvalidStreamOperation); }
size_t TGIFStream::Write(const void*, size_t) { throw Exception(GIFText::InvalidStreamOperation); }
int64_t TGIFStream::Seek(int64_t, TSeekOrigin) { throw Exception(GIFText::InvalidStreamOperation); }

// ---------------------------------------------------------------- TGIFWriter

size_t TGIFWriter::Write(const void* buffer, size_t count) {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    for (size_t done = 0; done < count;) {
        const size_t take = std::min(count - done, sizeof block_ - fill_);
        std::memcpy(block_ + fill_, bytes + done, take);
        fill_ += take;
        done += take;
        if (fill_ == sizeof block_) WriteBlock();
    }
    return count;
}

void TGIFWriter::WriteBlock() {
    block_[0] = static_cast<uint8_t>(fill_ - 1);
    target_.WriteBuffer(block_, fill_);
    fill_ = 1;
}

void TGIFWriter::Finish() {
    if (fill_ > 1) WriteBlock();
}

}  // namespace tamberlit
