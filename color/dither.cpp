#include "color/dither.hpp"

#include <algorithm>
#include <cstring>

#include "image/exceptions.hpp"

namespace tamberlit {

namespace {

// pixel + (error + rounding) div divisor, the division truncating toward zero,
// kept within 0..255.
inline uint8_t Adjust(uint8_t value, int32_t error, int32_t rounding, int32_t divisor) {
    return static_cast<uint8_t>(std::clamp(value + (error + rounding) / divisor, 0, 255));
}

}  // namespace

// ---- The kernel ditherers, reached through CreateDitherer only

namespace {

// Error rows: `rows` rows of `cells` cells for each of red, green and blue, in
// one block. Row 0 is the current row.
class TErrorRows {
public:
    TErrorRows(int rows, int cells);
    int32_t* Row(int row, int channel) const { return rows_[row][channel]; }
    // Clears row 0 and moves it to the end; every other row moves up by one.
    void Rotate();

private:
    std::vector<int32_t> storage_;
    int rowCount_;
    int cells_;
    int32_t* rows_[4][3] = {};
};

// Kernels over this row and the two below, five cells wide, each subclass with
// its weights and divisor.
class T5by3Ditherer : public TDitherEngine {
public:
    using TDitherEngine::DitherPixel;
    uint8_t DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                        uint8_t& outBlue) override;
    void EndRow() override;

protected:
    friend class tamberlit::TDitherEngine;
    T5by3Ditherer(int width, TColorLookup& lookup, int divisor);
    template <typename LookupType>
    uint8_t Step(LookupType& lookup, uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                 uint8_t& outBlue);
    // Adds the kernel's multiples of the errors around the cursor.
    virtual void SpreadError(const int32_t error[3]) = 0;

    TErrorRows errors_;
    int cursor_ = 2;  // cell x + 2 for pixel x
    int direction2_ = 2;
    int divisor_;
};

class TStuckiDitherer final : public T5by3Ditherer {
public:
    TStuckiDitherer(int width, TColorLookup& lookup) : T5by3Ditherer(width, lookup, 42) {}
    void DitherRow(const uint8_t* pixels, int bytesPerPixel, uint8_t* indices) override;

protected:
    void SpreadError(const int32_t error[3]) override;
};

class TSierraDitherer final : public T5by3Ditherer {
public:
    TSierraDitherer(int width, TColorLookup& lookup) : T5by3Ditherer(width, lookup, 32) {}
    void DitherRow(const uint8_t* pixels, int bytesPerPixel, uint8_t* indices) override;

protected:
    void SpreadError(const int32_t error[3]) override;
};

// Jarvis, Judice and Ninke.
class TJaJuNiDitherer final : public T5by3Ditherer {
public:
    TJaJuNiDitherer(int width, TColorLookup& lookup) : T5by3Ditherer(width, lookup, 48) {}
    void DitherRow(const uint8_t* pixels, int bytesPerPixel, uint8_t* indices) override;

protected:
    void SpreadError(const int32_t error[3]) override;
};

// Stevenson and Arce: four rows, cells at odd and even distances, divisor 200.
class TSteveArcheDitherer final : public TDitherEngine {
public:
    TSteveArcheDitherer(int width, TColorLookup& lookup);
    using TDitherEngine::DitherPixel;
    uint8_t DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                        uint8_t& outBlue) override;
    void EndRow() override;
    void DitherRow(const uint8_t* pixels, int bytesPerPixel, uint8_t* indices) override;

private:
    friend class tamberlit::TDitherEngine;
    template <typename LookupType>
    uint8_t Step(LookupType& lookup, uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                 uint8_t& outBlue);

    TErrorRows errors_;
    int cursor_ = 3;  // cell x + 3 for pixel x
    int direction2_ = 2;
    int direction3_ = 3;
};

// Burkes: two rows, divisor 32.
class TBurkesDitherer final : public TDitherEngine {
public:
    TBurkesDitherer(int width, TColorLookup& lookup);
    using TDitherEngine::DitherPixel;
    uint8_t DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                        uint8_t& outBlue) override;
    void EndRow() override;
    void DitherRow(const uint8_t* pixels, int bytesPerPixel, uint8_t* indices) override;

private:
    friend class tamberlit::TDitherEngine;
    template <typename LookupType>
    uint8_t Step(LookupType& lookup, uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                 uint8_t& outBlue);

    TErrorRows errors_;
    int cursor_ = 2;  // cell x + 2 for pixel x
    int direction2_ = 2;
};

}  // namespace

// ---- TDitherEngine

namespace {

template <typename Kind>
bool Is(const TColorLookup& lookup) {
    return dynamic_cast<const Kind*>(&lookup) != nullptr;
}

}  // namespace

TDitherEngine::TDitherEngine(int width, TColorLookup& lookup)
    : width_(width), lookup_(lookup), lookupKind_(Is<TSlowColorLookup>(lookup)       ? TLookupKind::Slow
                                                  : Is<TNetscapeColorLookup>(lookup) ? TLookupKind::Netscape
                                                  : Is<TGrayScaleLookup>(lookup)     ? TLookupKind::GrayScale
                                                  : Is<TMonochromeLookup>(lookup)    ? TLookupKind::Monochrome
                                                                                     : TLookupKind::Other) {
    if (width < 0) throw EInvalidGraphic("Invalid image dimensions");
}

uint8_t TDitherEngine::DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                   uint8_t& outBlue) {
    return Step(lookup_, red, green, blue, outRed, outGreen, outBlue);
}

void TDitherEngine::EndRow() {
    direction_ = -direction_;
    column_ = direction_ > 0 ? 0 : width_ - 1;
}

template <typename Ditherer, typename LookupType>
void TDitherEngine::WalkRowWith(Ditherer& ditherer, LookupType& lookup, const uint8_t* pixels, int bytesPerPixel,
                                uint8_t* indices) {
    uint8_t red, green, blue;
    while (ditherer.InRow()) {
        const int x = ditherer.column_;
        const uint8_t* pixel = pixels + static_cast<ptrdiff_t>(x) * bytesPerPixel;
        indices[x] = ditherer.Step(lookup, pixel[2], pixel[1], pixel[0], red, green, blue);
    }
}

template <typename Ditherer>
void TDitherEngine::WalkRow(Ditherer& ditherer, const uint8_t* pixels, int bytesPerPixel, uint8_t* indices) {
    TColorLookup& lookup = ditherer.lookup_;
    switch (ditherer.lookupKind_) {
        case TLookupKind::Slow:
            return WalkRowWith(ditherer, static_cast<TSlowColorLookup&>(lookup), pixels, bytesPerPixel, indices);
        case TLookupKind::Netscape:
            return WalkRowWith(ditherer, static_cast<TNetscapeColorLookup&>(lookup), pixels, bytesPerPixel, indices);
        case TLookupKind::GrayScale:
            return WalkRowWith(ditherer, static_cast<TGrayScaleLookup&>(lookup), pixels, bytesPerPixel, indices);
        case TLookupKind::Monochrome:
            return WalkRowWith(ditherer, static_cast<TMonochromeLookup&>(lookup), pixels, bytesPerPixel, indices);
        case TLookupKind::Other: break;
    }
    WalkRowWith(ditherer, lookup, pixels, bytesPerPixel, indices);
}

void TDitherEngine::DitherRow(const uint8_t* pixels, int bytesPerPixel, uint8_t* indices) {
    WalkRow(*this, pixels, bytesPerPixel, indices);
}

// ---- TErrorRows

TErrorRows::TErrorRows(int rows, int cells)
    : storage_(static_cast<size_t>(rows) * 3 * static_cast<size_t>(cells), 0), rowCount_(rows), cells_(cells) {
    for (int row = 0; row < rows; ++row)
        for (int channel = 0; channel < 3; ++channel)
            rows_[row][channel] =
                storage_.data() + (static_cast<size_t>(row) * 3 + channel) * static_cast<size_t>(cells);
}

void TErrorRows::Rotate() {
    for (int channel = 0; channel < 3; ++channel) {
        int32_t* first = rows_[0][channel];
        std::memset(first, 0, sizeof(int32_t) * static_cast<size_t>(cells_));
        for (int row = 0; row + 1 < rowCount_; ++row) rows_[row][channel] = rows_[row + 1][channel];
        rows_[rowCount_ - 1][channel] = first;
    }
}

// ---- Floyd-Steinberg
//
// The row below is not kept apart: the cell just read for this pixel is
// overwritten with the row below's total for the pixel behind it (1/16 from two
// pixels back, 5/16 from the previous pixel, 3/16 from this one), collected in
// the two running terms. A pixel without error leaves the cell and the terms
// as they are.

TFloydSteinbergDitherer::TFloydSteinbergDitherer(int width, TColorLookup& lookup)
    : TDitherEngine(width, lookup), storage_(3 * (static_cast<size_t>(width) + 2), 0) {
    for (int c = 0; c < 3; ++c) cells_[c] = storage_.data() + static_cast<size_t>(c) * (static_cast<size_t>(width) + 2);
}

uint8_t TFloydSteinbergDitherer::DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed,
                                             uint8_t& outGreen, uint8_t& outBlue) {
    // Past the row's end (a caller's mistake) there is no cell: plain lookup.
    if (!InRow()) return TDitherEngine::Step(lookup_, red, green, blue, outRed, outGreen, outBlue);
    return Step(lookup_, red, green, blue, outRed, outGreen, outBlue);
}

template <typename LookupType>
uint8_t TFloydSteinbergDitherer::Step(LookupType& lookup, uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed,
                                      uint8_t& outGreen, uint8_t& outBlue) {
    const uint8_t wanted[3] = {red, green, blue};
    uint8_t adjusted[3];
    for (int c = 0; c < 3; ++c) adjusted[c] = Adjust(wanted[c], cells_[c][cursor_] + carried_[c], 8, 16);
    const uint8_t index = TDitherEngine::Step(lookup, adjusted[0], adjusted[1], adjusted[2], outRed, outGreen, outBlue);
    const uint8_t obtained[3] = {outRed, outGreen, outBlue};
    for (int c = 0; c < 3; ++c) {
        const int32_t error = adjusted[c] - obtained[c];
        if (error != 0) {
            cells_[c][cursor_] = belowPrevious_[c] + 3 * error;
            belowPrevious_[c] = below_[c] + 5 * error;
            below_[c] = error;
            carried_[c] = 7 * error;
        } else {
            carried_[c] = 0;
        }
    }
    cursor_ += direction_;
    return index;
}

void TFloydSteinbergDitherer::EndRow() {
    for (int c = 0; c < 3; ++c) {
        cells_[c][cursor_] = belowPrevious_[c];
        carried_[c] = below_[c] = belowPrevious_[c] = 0;
    }
    TDitherEngine::EndRow();
    cursor_ = direction_ > 0 ? 0 : width_ + 1;
}

void TFloydSteinbergDitherer::DitherRow(const uint8_t* pixels, int bytesPerPixel, uint8_t* indices) {
    WalkRow(*this, pixels, bytesPerPixel, indices);
}

// ---- Three-row kernels

T5by3Ditherer::T5by3Ditherer(int width, TColorLookup& lookup, int divisor)
    : TDitherEngine(width, lookup), errors_(3, width + 4), divisor_(divisor) {}

uint8_t T5by3Ditherer::DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                   uint8_t& outBlue) {
    if (!InRow()) return TDitherEngine::Step(lookup_, red, green, blue, outRed, outGreen, outBlue);
    return Step(lookup_, red, green, blue, outRed, outGreen, outBlue);
}

template <typename LookupType>
uint8_t T5by3Ditherer::Step(LookupType& lookup, uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed,
                            uint8_t& outGreen, uint8_t& outBlue) {
    const uint8_t wanted[3] = {red, green, blue};
    uint8_t adjusted[3];
    for (int c = 0; c < 3; ++c) adjusted[c] = Adjust(wanted[c], errors_.Row(0, c)[cursor_], divisor_ / 2, divisor_);
    const uint8_t index = TDitherEngine::Step(lookup, adjusted[0], adjusted[1], adjusted[2], outRed, outGreen, outBlue);
    const int32_t error[3] = {adjusted[0] - outRed, adjusted[1] - outGreen, adjusted[2] - outBlue};
    if (error[0] != 0 || error[1] != 0 || error[2] != 0) SpreadError(error);
    cursor_ += direction_;
    return index;
}

void T5by3Ditherer::EndRow() {
    errors_.Rotate();
    TDitherEngine::EndRow();
    direction2_ = 2 * direction_;
    cursor_ = direction_ > 0 ? 2 : width_ + 1;
}

namespace {

// Adds weights (for offsets -2d, -d, 0, +d, +2d) times the error to a row.
inline void Spread5(int32_t* cell, int d, int d2, int32_t error, int w0, int w1, int w2, int w3, int w4) {
    cell[-d2] += w0 * error;
    cell[-d] += w1 * error;
    cell[0] += w2 * error;
    cell[d] += w3 * error;
    cell[d2] += w4 * error;
}

}  // namespace

void TStuckiDitherer::SpreadError(const int32_t error[3]) {
    const int d = direction_;
    const int d2 = direction2_;
    for (int c = 0; c < 3; ++c) {
        const int32_t e = error[c];
        int32_t* row0 = errors_.Row(0, c) + cursor_;
        row0[d] += 8 * e;
        row0[d2] += 4 * e;
        Spread5(errors_.Row(1, c) + cursor_, d, d2, e, 2, 4, 8, 4, 2);
        Spread5(errors_.Row(2, c) + cursor_, d, d2, e, 1, 2, 4, 2, 1);
    }
}

void TSierraDitherer::SpreadError(const int32_t error[3]) {
    const int d = direction_;
    const int d2 = direction2_;
    for (int c = 0; c < 3; ++c) {
        const int32_t e = error[c];
        int32_t* row0 = errors_.Row(0, c) + cursor_;
        row0[d] += 5 * e;
        row0[d2] += 3 * e;
        Spread5(errors_.Row(1, c) + cursor_, d, d2, e, 2, 4, 5, 4, 2);
        Spread5(errors_.Row(2, c) + cursor_, d, d2, e, 0, 2, 3, 2, 0);
    }
}

void TJaJuNiDitherer::SpreadError(const int32_t error[3]) {
    const int d = direction_;
    const int d2 = direction2_;
    for (int c = 0; c < 3; ++c) {
        const int32_t e = error[c];
        int32_t* row0 = errors_.Row(0, c) + cursor_;
        row0[d] += 7 * e;
        row0[d2] += 5 * e;
        Spread5(errors_.Row(1, c) + cursor_, d, d2, e, 3, 5, 7, 5, 3);
        Spread5(errors_.Row(2, c) + cursor_, d, d2, e, 1, 3, 5, 3, 1);
    }
}

void TStuckiDitherer::DitherRow(const uint8_t* pixels, int bytesPerPixel, uint8_t* indices) {
    WalkRow(*this, pixels, bytesPerPixel, indices);
}
void TSierraDitherer::DitherRow(const uint8_t* pixels, int bytesPerPixel, uint8_t* indices) {
    WalkRow(*this, pixels, bytesPerPixel, indices);
}
void TJaJuNiDitherer::DitherRow(const uint8_t* pixels, int bytesPerPixel, uint8_t* indices) {
    WalkRow(*this, pixels, bytesPerPixel, indices);
}

// ---- Stevenson-Arce

TSteveArcheDitherer::TSteveArcheDitherer(int width, TColorLookup& lookup)
    : TDitherEngine(width, lookup), errors_(4, width + 6) {}

uint8_t TSteveArcheDitherer::DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                         uint8_t& outBlue) {
    if (!InRow()) return TDitherEngine::Step(lookup_, red, green, blue, outRed, outGreen, outBlue);
    return Step(lookup_, red, green, blue, outRed, outGreen, outBlue);
}

template <typename LookupType>
uint8_t TSteveArcheDitherer::Step(LookupType& lookup, uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed,
                                  uint8_t& outGreen, uint8_t& outBlue) {
    const uint8_t wanted[3] = {red, green, blue};
    uint8_t adjusted[3];
    for (int c = 0; c < 3; ++c) adjusted[c] = Adjust(wanted[c], errors_.Row(0, c)[cursor_], 100, 200);
    const uint8_t index = TDitherEngine::Step(lookup, adjusted[0], adjusted[1], adjusted[2], outRed, outGreen, outBlue);
    const uint8_t obtained[3] = {outRed, outGreen, outBlue};
    const int d = direction_;
    const int d2 = direction2_;
    const int d3 = direction3_;
    for (int c = 0; c < 3; ++c) {
        const int32_t e = adjusted[c] - obtained[c];
        if (e == 0) continue;
        int32_t* row0 = errors_.Row(0, c) + cursor_;
        int32_t* row1 = errors_.Row(1, c) + cursor_;
        int32_t* row2 = errors_.Row(2, c) + cursor_;
        int32_t* row3 = errors_.Row(3, c) + cursor_;
        row0[d2] += 32 * e;
        row1[-d3] += 12 * e;
        row1[-d] += 26 * e;
        row1[d] += 30 * e;
        row1[d3] += 16 * e;
        row2[-d2] += 12 * e;
        row2[0] += 26 * e;
        row2[d2] += 12 * e;
        row3[-d3] += 5 * e;
        row3[-d] += 12 * e;
        row3[d] += 12 * e;
        row3[d3] += 5 * e;
    }
    cursor_ += direction_;
    return index;
}

void TSteveArcheDitherer::EndRow() {
    errors_.Rotate();
    TDitherEngine::EndRow();
    direction2_ = 2 * direction_;
    direction3_ = 3 * direction_;
    cursor_ = direction_ > 0 ? 3 : width_ + 2;
}

void TSteveArcheDitherer::DitherRow(const uint8_t* pixels, int bytesPerPixel, uint8_t* indices) {
    WalkRow(*this, pixels, bytesPerPixel, indices);
}

// ---- Burkes

TBurkesDitherer::TBurkesDitherer(int width, TColorLookup& lookup)
    : TDitherEngine(width, lookup), errors_(2, width + 4) {}

uint8_t TBurkesDitherer::DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                     uint8_t& outBlue) {
    if (!InRow()) return TDitherEngine::Step(lookup_, red, green, blue, outRed, outGreen, outBlue);
    return Step(lookup_, red, green, blue, outRed, outGreen, outBlue);
}

template <typename LookupType>
uint8_t TBurkesDitherer::Step(LookupType& lookup, uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed,
                              uint8_t& outGreen, uint8_t& outBlue) {
    const uint8_t wanted[3] = {red, green, blue};
    uint8_t adjusted[3];
    for (int c = 0; c < 3; ++c) adjusted[c] = Adjust(wanted[c], errors_.Row(0, c)[cursor_], 16, 32);
    const uint8_t index = TDitherEngine::Step(lookup, adjusted[0], adjusted[1], adjusted[2], outRed, outGreen, outBlue);
    const uint8_t obtained[3] = {outRed, outGreen, outBlue};
    const int d = direction_;
    const int d2 = direction2_;
    for (int c = 0; c < 3; ++c) {
        const int32_t e = adjusted[c] - obtained[c];
        if (e == 0) continue;
        int32_t* row0 = errors_.Row(0, c) + cursor_;
        row0[d] += 8 * e;
        row0[d2] += 4 * e;
        Spread5(errors_.Row(1, c) + cursor_, d, d2, e, 2, 4, 8, 4, 2);
    }
    cursor_ += direction_;
    return index;
}

void TBurkesDitherer::EndRow() {
    errors_.Rotate();
    TDitherEngine::EndRow();
    direction2_ = 2 * direction_;
    cursor_ = direction_ > 0 ? 2 : width_ + 1;
}

void TBurkesDitherer::DitherRow(const uint8_t* pixels, int bytesPerPixel, uint8_t* indices) {
    WalkRow(*this, pixels, bytesPerPixel, indices);
}

// ----

std::unique_ptr<TDitherEngine> CreateDitherer(TDitherMode mode, int width, TColorLookup& lookup) {
    switch (mode) {
        case dmNearest: return std::make_unique<TDitherEngine>(width, lookup);
        case dmFloydSteinberg: return std::make_unique<TFloydSteinbergDitherer>(width, lookup);
        case dmStucki: return std::make_unique<TStuckiDitherer>(width, lookup);
        case dmSierra: return std::make_unique<TSierraDitherer>(width, lookup);
        case dmJarvisJudiceNinke: return std::make_unique<TJaJuNiDitherer>(width, lookup);
        case dmStevensonArce: return std::make_unique<TSteveArcheDitherer>(width, lookup);
        case dmBurkes: return std::make_unique<TBurkesDitherer>(width, lookup);
    }
    return nullptr;
}

}  // namespace tamberlit
