#include "formats/gif/gif_reader.hpp"

#include <algorithm>
#include <cstring>

#include "formats/gif/gif_errors.hpp"

namespace tamberlit {

namespace {
constexpr size_t windowSize = 64 * 1024;
}

TGIFReader::TGIFReader(TStream& stream) : stream_(stream) {
    position_ = stream.Position();
    size_ = std::max(stream.Size(), position_);
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
        window_ = memory->Memory();
        windowLength_ = static_cast<int64_t>(memory->ByteCount());
        inPlace_ = true;
    } else if (auto* view = dynamic_cast<TMemoryViewStream*>(&stream)) {
        window_ = view->Memory();
        windowLength_ = view->Size();
        inPlace_ = true;
    }
}

void TGIFReader::Seek(int64_t position) { position_ = std::clamp<int64_t>(position, 0, size_); }

bool TGIFReader::FillWindow() {
    if (inPlace_ || position_ >= size_) return false;
    if (buffer_.empty()) buffer_.resize(windowSize);
    stream_.SetPosition(position_);
    const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(windowSize), size_ - position_));
    const size_t got = stream_.Read(buffer_.data(), want);
    window_ = buffer_.data();
    windowStart_ = position_;
    windowLength_ = static_cast<int64_t>(got);
    if (got < want) size_ = position_ + static_cast<int64_t>(got);  // the stream was shorter than it said
    return got > 0;
}

int TGIFReader::ReadByteSlow() {
    if (!FillWindow()) return -1;
    return ReadByte();
}

size_t TGIFReader::Read(void* buffer, size_t count) {
    auto* target = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count && position_ < size_) {
        const int64_t offset = position_ - windowStart_;
        if (offset < 0 || offset >= windowLength_) {
            if (!FillWindow()) break;
            continue;
        }
        const size_t take = static_cast<size_t>(std::min<int64_t>(windowLength_ - offset, int64_t(count - done)));
        std::memcpy(target + done, window_ + offset, take);
        done += take;
        position_ += static_cast<int64_t>(take);
    }
    return done;
}

void TGIFReader::ReadExact(void* buffer, size_t count) {
    if (Read(buffer, count) != count) RaiseGIFError(GIFText::PrematureEndOfData);
}

void TGIFReader::Commit() { stream_.SetPosition(position_); }

}  // namespace tamberlit
