#pragma once
// Little-endian fields, read from and written to bytes one by one: every file
// format we read and write stores its fields so, and a packed struct cast onto
// the bytes would depend on the compiler's layout and the machine's order.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tamberlit {

inline uint16_t LittleEndian16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }

inline uint32_t LittleEndian32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

inline void PutLittleEndian16(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

inline void PutLittleEndian32(uint8_t* bytes, uint32_t value) {
    PutLittleEndian16(bytes, static_cast<uint16_t>(value));
    PutLittleEndian16(bytes + 2, static_cast<uint16_t>(value >> 16));
}

// Reads the fields of bytes the caller holds in full (a header read first),
// one after the other.
class TByteReader {
public:
    explicit TByteReader(const uint8_t* bytes) : next_(bytes) {}

    uint8_t U8() { return *next_++; }
    uint16_t U16() {
        const uint16_t value = LittleEndian16(next_);
        next_ += 2;
        return value;
    }
    uint32_t U32() {
        const uint32_t value = LittleEndian32(next_);
        next_ += 4;
        return value;
    }
    int32_t I32() { return static_cast<int32_t>(U32()); }
    void Skip(size_t count) { next_ += count; }

private:
    const uint8_t* next_;
};

// Appends fields to a block of bytes, one call per field.
class TByteWriter {
public:
    TByteWriter& U8(unsigned value) {
        bytes_.push_back(static_cast<uint8_t>(value));
        return *this;
    }
    TByteWriter& U16(unsigned value) {
        bytes_.push_back(static_cast<uint8_t>(value));
        bytes_.push_back(static_cast<uint8_t>(value >> 8));
        return *this;
    }
    TByteWriter& U32(uint32_t value) { return U16(value & 0xFFFF).U16(value >> 16); }
    TByteWriter& I32(int32_t value) { return U32(static_cast<uint32_t>(value)); }
    TByteWriter& Bytes(const void* data, size_t count) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        bytes_.insert(bytes_.end(), bytes, bytes + count);
        return *this;
    }

    const std::vector<uint8_t>& Data() const { return bytes_; }
    size_t Size() const { return bytes_.size(); }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace tamberlit
