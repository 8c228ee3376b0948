#pragma once
// The LZW encoder for image data (GIF89a, appendix F) and the hash table that
// holds its string table.

#include <cstdint>

#include "formats/gif/gif_encoder.hpp"

namespace tamberlit {

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

}  // namespace tamberlit
