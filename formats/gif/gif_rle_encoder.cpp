// The run-length encoder: image data that any LZW decoder (GIF89a, appendix F)
// reads, made without string matching.
//
// After a clear code the decoder's table grows by one entry per code. When the
// codes for a run of pixel p are p, then the next free code, then the one after
// it, and so on, each code is the one the decoder is about to define, and the
// decoder defines it as the previous string plus its first pixel: the entries
// become runs of 2, 3, 4, ... pixels p. So a run of n pixels takes about
// sqrt(2n) codes after a clear ("triangle" counts), and while the table still
// holds runs of p, a later run of p can be coded with its longest run code
// repeated. The code size grows exactly when the decoder's does, since both
// count the codes since the last clear code.

#include "formats/gif/gif_rle_encoder.hpp"

namespace tamberlit {

namespace {

// The smallest k with k (k + 1) / 2 >= count, for count > 0.
uint64_t SmallestTriangle(uint64_t count) {
    // An integer square root of count as a start, then exact steps.
    uint64_t root = count;
    if (count > 1) {
        root = 2;
        for (uint64_t v = count; v >= 4; v /= 4) root *= 2;
        for (;;) {
            const uint64_t next = (root + count / root) / 2;
            if (next == root || next == root + 1) break;
            root = next;
        }
    }
    uint64_t k = root;
    while (k > 0 && k * (k + 1) >= 2 * count) --k;
    while (k * (k + 1) < 2 * count) ++k;
    return k;
}

}  // namespace

uint64_t TRLEEncoder::TriangleCount(uint64_t count) const {
    // A full table holds runs of 1 to maxRunCodes_ pixels.
    const uint64_t perTable = maxRunCodes_ * (maxRunCodes_ + 1) / 2;
    uint64_t cost = 0;
    if (count >= perTable) {
        cost += count / perTable * maxRunCodes_;
        count %= perTable;
    }
    if (count > 0) cost += SmallestTriangle(count);
    return cost;
}

void TRLEEncoder::ClearTable() {
    growCount_ = growCountInit_;
    clearCount_ = clearCountInit_;
    outputCount_ = 0;
    tableMaxRun_ = 0;
    // The next code is the first after a clear code: a plain pixel, which
    // defines no table entry.
    clearPending_ = true;
    EmitCode(clearCode_);
    codeSize_ = initialCodeSize_;
}

void TRLEEncoder::EmitPlain(uint32_t code) {
    clearPending_ = false;
    EmitCode(code);
    ++outputCount_;
    if (outputCount_ >= growCount_) {
        growCount_ += uint64_t{1} << codeSize_;
        ++codeSize_;
    }
    if (outputCount_ >= clearCount_) ClearTable();
}

void TRLEEncoder::RestoreClearCount() {
    clearCount_ = clearCountInit_;
    if (outputCount_ >= clearCount_) ClearTable();
}

void TRLEEncoder::FlushFromClear(uint64_t count) {
    // The table may fill up completely while this run is coded.
    clearCount_ = maxRunCodes_;
    tablePixel_ = runPixel_;
    uint64_t step = 1;
    while (count > 0) {
        if (step == 1) {
            tableMaxRun_ = 1;
            EmitPlain(runPixel_);
            --count;
        } else if (count >= step) {
            tableMaxRun_ = step;
            EmitPlain(firstFreeCode_ + static_cast<uint32_t>(step) - 2);
            count -= step;
        } else {
            ++tableMaxRun_;
            EmitPlain(count == 1 ? runPixel_ : firstFreeCode_ + static_cast<uint32_t>(count) - 2);
            count = 0;
        }
        step = outputCount_ == 0 ? 1 : step + 1;
    }
    RestoreClearCount();
}

void TRLEEncoder::FlushWithTable(uint64_t count) {
    const uint64_t longest = tableMaxRun_;
    uint64_t repeats = count / longest;
    uint64_t leftover = count % longest;
    uint64_t extra = leftover > 0 ? 1 : 0;
    if (outputCount_ + repeats + extra > maxRunCodes_) {
        // The table fills up on the way: the rest is coded after a clear.
        repeats = maxRunCodes_ - outputCount_;
        leftover = count - longest * repeats;
        extra = 1 + TriangleCount(leftover);
    }
    if (1 + TriangleCount(count) < repeats + extra) {
        ClearTable();
        FlushFromClear(count);
        return;
    }
    clearCount_ = maxRunCodes_;
    const uint32_t longestCode = firstFreeCode_ + static_cast<uint32_t>(longest) - 2;
    for (; repeats > 0; --repeats) EmitPlain(longestCode);
    if (leftover > 0) {
        if (clearPending_) FlushFromClear(leftover);
        else EmitPlain(leftover == 1 ? runPixel_ : firstFreeCode_ + static_cast<uint32_t>(leftover) - 2);
    }
    RestoreClearCount();
}

void TRLEEncoder::FlushClearOrRepeat(uint64_t count) {
    if (1 + TriangleCount(count) < count) {
        ClearTable();
        FlushFromClear(count);
    } else {
        for (; count > 0; --count) EmitPlain(runPixel_);
    }
}

void TRLEEncoder::FlushRun(uint64_t count) {
    if (count == 1) EmitPlain(runPixel_);
    else if (clearPending_) FlushFromClear(count);
    else if (tableMaxRun_ > 1 && tablePixel_ == runPixel_) FlushWithTable(count);
    else FlushClearOrRepeat(count);
}

void TRLEEncoder::EncodePixels() {
    growCountInit_ = clearCode_ - 1;
    // Small tables are cleared early: their runs are short anyway.
    clearCountInit_ = bitsPerPixel_ <= 3 ? 9 : clearCode_ - 2;
    // The codes after a clear code that keep the table below 4096 entries.
    maxRunCodes_ = 4095 - firstFreeCode_;
    codeSize_ = initialCodeSize_;
    ClearTable();

    uint64_t runCount = 0;
    const uint8_t* pixels;
    size_t count;
    while (NextPixels(pixels, count)) {
        size_t i = 0;
        while (i < count) {
            if (runCount > 0 && pixels[i] != runPixel_) {
                FlushRun(runCount);
                runCount = 0;
            }
            if (runCount == 0) runPixel_ = pixels[i];
            const uint8_t value = static_cast<uint8_t>(runPixel_);
            size_t end = i + 1;
            while (end < count && pixels[end] == value) ++end;
            runCount += end - i;
            i = end;
        }
    }
    if (runCount > 0) FlushRun(runCount);
}

}  // namespace tamberlit
