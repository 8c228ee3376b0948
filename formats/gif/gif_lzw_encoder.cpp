// The LZW encoder for image data (GIF89a, appendix F): the classic scheme of
// a string table kept in a hash table, codes that grow from the minimum code
// size + 1 up to 12 bits, and a clear code when the table is full.

#include <cstring>

#include "formats/gif/gif_lzw_encoder.hpp"

namespace tamberlit {

namespace {

constexpr uint32_t emptySlot = 0xFFFFFFFFu;
// A slot at or above this value holds no key: keys have 20 bits, and the key
// 0xFFFFF (prefix 4095) never occurs since no code above 4094 is given out.
constexpr uint32_t firstEmptyValue = 0xFFFFF000u;
// The last code the table gives out; the code after it forces a clear code.
constexpr uint32_t lastTableCode = 4094;
// Probing doubles the slot modulo 8009. 2 has order 4004 modulo 8009, so this
// sequence visits only the 4004 slots of one half of the table before it
// repeats, and with small minimum code sizes the table holds more entries than
// that: picture data can fill one half completely. Past one round the probe
// goes on slot by slot, which reaches every slot.
constexpr int doublingProbes = 4005;

}  // namespace

// ---------------------------------------------------------------- THashTable

void THashTable::Clear() {
    // Bytes of 0xFF make every slot emptySlot, a value that holds no key.
    static_assert(emptySlot >= firstEmptyValue);
    std::memset(slots_, 0xFF, sizeof slots_);
}

uint32_t THashTable::NextProbe(uint32_t slot, int probes) {
    if (probes >= doublingProbes) return slot + 1 == SlotCount ? 0 : slot + 1;
    if (slot == 0) return SlotCount - 1;
    const uint32_t doubled = 2 * slot;
    return doubled >= SlotCount ? doubled - SlotCount : doubled;
}

int THashTable::Lookup(uint32_t key) const {
    uint32_t slot = FirstProbe(key);
    for (int probes = 1;; ++probes) {
        const uint32_t value = slots_[slot];
        if (value >= firstEmptyValue) return -1;
        if ((value >> 12) == key) return static_cast<int>(value & 0xFFF);
        slot = NextProbe(slot, probes);
    }
}

void THashTable::Insert(uint32_t key, uint32_t code) {
    uint32_t slot = FirstProbe(key);
    for (int probes = 1; slots_[slot] < firstEmptyValue; ++probes) slot = NextProbe(slot, probes);
    slots_[slot] = key << 12 | code;
}

// ---------------------------------------------------------------- TLZWEncoder

void TLZWEncoder::ClearTable() {
    EmitCode(clearCode_);
    table_.Clear();
    nextCode_ = firstFreeCode_;
    codeSize_ = initialCodeSize_;
    largestCode_ = (1u << codeSize_) - 1;
}

// After each code the decoder adds a table entry; once the next entry needs
// another bit, so do the codes that follow (12 bits at most).
void TLZWEncoder::EmitAndGrow(uint32_t code) {
    EmitCode(code);
    if (nextCode_ > largestCode_) {
        ++codeSize_;
        largestCode_ = codeSize_ >= 12 ? 4096 : (1u << codeSize_) - 1;
    }
}

void TLZWEncoder::EncodePixels() {
    codeSize_ = initialCodeSize_;
    ClearTable();
    const uint8_t* pixels;
    size_t count;
    if (!NextPixels(pixels, count)) return;
    uint32_t prefix = pixels[0];
    size_t start = 1;
    do {
        for (size_t i = start; i < count; ++i) {
            const uint32_t pixel = pixels[i];
            const uint32_t key = prefix << 8 | pixel;
            const int found = table_.Lookup(key);
            if (found >= 0) {
                prefix = static_cast<uint32_t>(found);
                continue;
            }
            EmitAndGrow(prefix);
            prefix = pixel;
            if (nextCode_ > lastTableCode) {
                ClearTable();
            } else {
                table_.Insert(key, nextCode_++);
            }
        }
        start = 0;
    } while (NextPixels(pixels, count));
    EmitAndGrow(prefix);
}

}  // namespace tamberlit
