#pragma once
// The run-length encoder for image data: codes that any LZW decoder (GIF89a,
// appendix F) reads, made without string matching.

#include <cstdint>

#include "formats/gif/gif_encoder.hpp"

namespace tamberlit {

// Codes runs of one pixel value as the string table of any LZW decoder
// builds them (the first pixel, then runs of 2, 3, ... after a clear code),
// without looking strings up.
class TRLEEncoder : public TGIFEncoder {
protected:
    void ClearTable() override;
    void EncodePixels() override;

private:
    void EmitPlain(uint32_t code);
    void FlushRun(uint64_t count);
    void FlushFromClear(uint64_t count);
    void FlushWithTable(uint64_t count);
    void FlushClearOrRepeat(uint64_t count);
    void RestoreClearCount();
    // The number of codes that code count pixels of one value after a clear.
    uint64_t TriangleCount(uint64_t count) const;

    uint32_t runPixel_ = 0;
    uint64_t outputCount_ = 0;  // codes since the last clear code
    uint64_t growCount_ = 0;    // at this count the code size grows
    uint64_t growCountInit_ = 0;
    uint64_t clearCount_ = 0;  // at this count a clear code is forced
    uint64_t clearCountInit_ = 0;
    uint64_t maxRunCodes_ = 0;  // codes a table can take before it is full
    uint64_t tableMaxRun_ = 0;  // longest run of tablePixel_ the table holds
    uint32_t tablePixel_ = 0;
    bool clearPending_ = false;  // no code since the last clear code
};

}  // namespace tamberlit
