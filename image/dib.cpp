#include "image/dib.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "image/byte_order.hpp"
#include "image/exceptions.hpp"
#include "image/limits.hpp"

namespace tamberlit {

namespace {

// Asks for huge pages behind a large pixel block. The first touch of fresh
// memory costs a page fault per 4 KiB page, which made filling a new 64 MiB
// image several times slower than copying the same bytes; with 2 MiB pages it
// costs little more than the copy. Only the 2 MiB-aligned interior qualifies.
void AdviseHugePages(void* block, size_t bytes) {
    constexpr uintptr_t hugePage = uintptr_t{2} << 20;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + hugePage - 1) & ~(hugePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(hugePage - 1);
    // Advice only: where huge pages are off or refused, nothing changes.
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool mapLargeBlocks = false;  // let the sanitizer watch every block's bounds
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool mapLargeBlocks = false;
#else
constexpr bool mapLargeBlocks = true;
#endif
#else
constexpr bool mapLargeBlocks = true;
#endif

// From this size on a block is mapped. Below it malloc's pools serve better.
// (Left to malloc, large blocks freed and taken again come from its heap, and
// calloc must then clear memory the decoder overwrites anyway.)
constexpr size_t mappedBlockSize = size_t{1} << 20;

}  // namespace

void TPixelMemoryDeleter::operator()(uint8_t* bytes) const {
    if (mappedBytes != 0) ::munmap(bytes, mappedBytes);
    else std::free(bytes);
}

TPixelMemory AllocatePixelMemory(size_t bytes, TPixelFill fill) {
    if (bytes == 0) return TPixelMemory();
    if (mapLargeBlocks && bytes >= mappedBlockSize) {
        void* block = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) throw EOutOfMemory("Out of memory");
        AdviseHugePages(block, bytes);
        return TPixelMemory(static_cast<uint8_t*>(block), TPixelMemoryDeleter{bytes});
    }
    void* block = fill == TPixelFill::Zero ? std::calloc(bytes, 1) : std::malloc(bytes);
    if (!block) throw EOutOfMemory("Out of memory");
    AdviseHugePages(block, bytes);
    return TPixelMemory(static_cast<uint8_t*>(block));
}

int BitCountOf(TPixelFormat format) {
    switch (format) {
        case Px1: return 1;
        case Px4: return 4;
        case Px8: return 8;
        case Px15:
        case Px16: return 16;
        case Px24: return 24;
        case Px32: return 32;
        default: return 0;
    }
}

std::unique_ptr<TDIBSection> TDIBSection::Create(int width, int height, int bitCount, uint32_t compression,
                                                 const uint32_t* masks, std::vector<TRGBQuad> colorTable,
                                                 const TSizeLimits& limits) {
    const int64_t rows = height < 0 ? -int64_t{height} : height;
    limits.CheckSize(width, rows);
    if (bitCount <= 0 || bitCount > 64) throw EInvalidGraphic("Invalid pixel format");
    std::unique_ptr<TDIBSection> dib(new TDIBSection());
    dib->Header.biWidth = width;
    dib->Header.biHeight = height;
    dib->Header.biBitCount = static_cast<uint16_t>(bitCount);
    dib->Header.biCompression = compression;
    dib->stride_ = BytesPerRow(width, bitCount);
    dib->Header.biSizeImage = static_cast<uint32_t>(dib->stride_ * static_cast<size_t>(rows));
    if (masks) std::memcpy(dib->Masks, masks, sizeof dib->Masks);
    dib->ColorTable = std::move(colorTable);
    const size_t bytes = dib->stride_ * static_cast<size_t>(rows);
    dib->bits_ = AllocatePixelMemory(bytes, TPixelFill::Zero);
    return dib;
}

std::unique_ptr<TDIBSection> TDIBSection::CreateDevice(int width, int height, const TSizeLimits& limits) {
    auto dib = Create(width, height, ScreenBitsPerPixel, BI_RGB, nullptr, {}, limits);
    dib->DeviceDependent = true;
    return dib;
}

std::unique_ptr<TDIBSection> TDIBSection::Clone() const {
    std::unique_ptr<TDIBSection> copy(new TDIBSection());
    copy->Header = Header;
    std::memcpy(copy->Masks, Masks, sizeof Masks);
    copy->ColorTable = ColorTable;
    copy->DeviceDependent = DeviceDependent;
    copy->stride_ = stride_;
    const size_t bytes = ImageSize();
    copy->bits_ = AllocatePixelMemory(bytes, TPixelFill::Undefined);
    if (bytes > 0) std::memcpy(copy->bits_.get(), bits_.get(), bytes);
    return copy;
}

TPixelFormat TDIBSection::Format() const {
    if (DeviceDependent) return PxDevice;
    switch (Header.biBitCount) {
        case 1: return Px1;
        case 4: return Px4;
        case 8: return Px8;
        case 16:
            if (Header.biCompression == BI_RGB) return Px15;
            if (Header.biCompression == BI_BITFIELDS && Masks[1] == 0x07E0) return Px16;
            return PxCustom;
        case 24: return Px24;
        case 32: return Header.biCompression == BI_RGB ? Px32 : PxCustom;
        default: return PxCustom;
    }
}

namespace {

// One colour channel described by a mask: value = ((pixel & mask) >> shift),
// widened to 8 bits as value * 255 / maximum; a channel wider than 8 bits
// gives its top 8 bits, as the platform's conversion does. A zero mask gives 0.
struct TMaskChannel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t maximum = 0;
    int narrowing = 0;  // bits dropped from a channel wider than 8 bits

    explicit TMaskChannel(uint32_t m) : mask(m) {
        if (mask != 0) {
            shift = std::countr_zero(mask);
            maximum = mask >> shift;
            narrowing = std::max(0, static_cast<int>(std::bit_width(maximum)) - 8);
        }
    }
    uint8_t Decode(uint32_t pixel) const {
        if (maximum == 0) return 0;
        const uint32_t value = (pixel & mask) >> shift;
        if (narrowing > 0) return static_cast<uint8_t>(value >> narrowing);
        return static_cast<uint8_t>(value * 255 / maximum);
    }
    uint32_t Encode(uint8_t value) const {
        if (maximum == 0) return 0;
        return static_cast<uint32_t>((uint64_t(value) * maximum + 127) / 255) << shift & mask;
    }
};

struct TChannels {
    TMaskChannel red, green, blue;
};

TChannels ChannelsOf(const TDIBSection& dib) {
    if (dib.UsesMasks()) return {TMaskChannel(dib.Masks[0]), TMaskChannel(dib.Masks[1]), TMaskChannel(dib.Masks[2])};
    if (dib.BitCount() == 16) return {TMaskChannel(0x7C00), TMaskChannel(0x03E0), TMaskChannel(0x001F)};
    return {TMaskChannel(0xFF0000), TMaskChannel(0x00FF00), TMaskChannel(0x0000FF)};
}

void StoreIndexColor(const TDIBSection& dib, unsigned index, uint8_t* quad) {
    if (index < dib.ColorTable.size()) {
        const TRGBQuad& entry = dib.ColorTable[index];
        quad[0] = entry.rgbBlue;
        quad[1] = entry.rgbGreen;
        quad[2] = entry.rgbRed;
    } else {
        // An index beyond the colour table shows black.
        quad[0] = quad[1] = quad[2] = 0;
    }
    quad[3] = 0;
}

}  // namespace

void ReadPixelsBGRA(const TDIBSection& dib, int y, int x0, int x1, uint8_t* quads) {
    // A block without columns has no pixel memory to copy from.
    if (x1 <= x0) return;
    const uint8_t* row = dib.Row(y);
    const int bits = dib.BitCount();
    switch (bits) {
        case 1:
        case 2:
        case 4:
        case 8: {
            const int perByte = 8 / bits;
            const unsigned mask = (1u << bits) - 1;
            for (int x = x0; x < x1; ++x, quads += 4) {
                const unsigned shift = static_cast<unsigned>((perByte - 1 - x % perByte) * bits);
                StoreIndexColor(dib, (row[x / perByte] >> shift) & mask, quads);
            }
            return;
        }
        case 24:
            for (int x = x0; x < x1; ++x, quads += 4) {
                std::memcpy(quads, row + 3 * x, 3);
                quads[3] = 0;
            }
            return;
        case 32:
            if (!dib.UsesMasks()) {
                std::memcpy(quads, row + 4 * size_t(x0), 4 * size_t(x1 - x0));
                if (dib.DeviceDependent)
                    for (int x = x0; x < x1; ++x, quads += 4) quads[3] = 0;
                return;
            }
            [[fallthrough]];
        case 16: {
            const TChannels channels = ChannelsOf(dib);
            for (int x = x0; x < x1; ++x, quads += 4) {
                const uint32_t pixel = bits == 16 ? LittleEndian16(row + 2 * x) : LittleEndian32(row + 4 * x);
                quads[0] = channels.blue.Decode(pixel);
                quads[1] = channels.green.Decode(pixel);
                quads[2] = channels.red.Decode(pixel);
                quads[3] = 0;
            }
            return;
        }
        default: throw EInvalidGraphic("Invalid pixel format");
    }
}

void WritePixelsBGRA(TDIBSection& dib, int y, int x0, int x1, const uint8_t* quads) {
    if (x1 <= x0) return;
    uint8_t* row = dib.Row(y);
    const int bits = dib.BitCount();
    switch (bits) {
        case 1:
        case 2:
        case 4:
        case 8: {
            const int perByte = 8 / bits;
            const unsigned mask = (1u << bits) - 1;
            // Neighbouring pixels are often equal: remember the last answer.
            uint32_t lastColor = 0xFFFFFFFF;
            unsigned lastIndex = 0;
            for (int x = x0; x < x1; ++x, quads += 4) {
                const uint32_t color = uint32_t(quads[0]) | uint32_t(quads[1]) << 8 | uint32_t(quads[2]) << 16;
                if (color != lastColor) {
                    lastColor = color;
                    lastIndex = NearestColorTableIndex(dib.ColorTable.data(), dib.ColorTable.size(), quads[2], quads[1],
                                                       quads[0]);
                }
                const unsigned shift = static_cast<unsigned>((perByte - 1 - x % perByte) * bits);
                uint8_t& byte = row[x / perByte];
                byte = static_cast<uint8_t>((byte & ~(mask << shift)) | (lastIndex & mask) << shift);
            }
            return;
        }
        case 24:
            for (int x = x0; x < x1; ++x, quads += 4) std::memcpy(row + 3 * x, quads, 3);
            return;
        case 32:
            if (!dib.UsesMasks()) {
                std::memcpy(row + 4 * size_t(x0), quads, 4 * size_t(x1 - x0));
                if (dib.DeviceDependent)
                    for (int x = x0; x < x1; ++x) row[4 * x + 3] = 0;
                return;
            }
            [[fallthrough]];
        case 16: {
            const TChannels channels = ChannelsOf(dib);
            for (int x = x0; x < x1; ++x, quads += 4) {
                const uint32_t pixel =
                    channels.red.Encode(quads[2]) | channels.green.Encode(quads[1]) | channels.blue.Encode(quads[0]);
                if (bits == 16) {
                    PutLittleEndian16(row + 2 * x, static_cast<uint16_t>(pixel));
                } else {
                    PutLittleEndian32(row + 4 * x, pixel);
                }
            }
            return;
        }
        default: throw EInvalidGraphic("Invalid pixel format");
    }
}

}  // namespace tamberlit
