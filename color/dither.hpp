#pragma once
// Ditherers: walk an image row by row, in alternating directions (the first
// row left to right), ask a colour lookup for each pixel and, for the
// error-diffusion kinds, spread the difference between the wanted and the
// obtained colour over pixels not yet visited. Errors are integers kept in a
// few rows of width + margin cells per channel, rotated at each row's end, so
// memory does not grow with the image height.
//
// Use: for each row, start at Column(); while the column lies in 0..width-1,
// call DitherPixel (or SkipPixel) and step by Direction(); then call EndRow.
// DitherRow does that walk for a whole row of pixels.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "color/color_lookup.hpp"

namespace tamberlit {

enum TDitherMode : int {
    dmNearest = 0,  // nearest colour, no diffusion
    dmFloydSteinberg = 1,
    dmStucki = 2,
    dmSierra = 3,
    dmJarvisJudiceNinke = 4,
    dmStevensonArce = 5,
    dmBurkes = 6,
};

// Names shown for the dither methods: "None", then the modes above in order.
inline constexpr std::array<const char*, 8> DitherMethodNames = {
    "None", "Nearest", "Floyd Steinberg", "Stucki", "Sierra", "Jarvis, Judice & Ninke", "Stevenson & Arche", "Burkes"};

// Plain nearest colour; the base of the error-diffusion kinds.
class TDitherEngine {
public:
    // The lookup is not owned and must outlive the ditherer. A negative width
    // is refused with "Invalid image dimensions".
    TDitherEngine(int width, TColorLookup& lookup);
    virtual ~TDitherEngine() = default;
    TDitherEngine(const TDitherEngine&) = delete;
    TDitherEngine& operator=(const TDitherEngine&) = delete;

    // The palette index for the pixel at the current column, its colour in the
    // out-parameters; the column moves on by the direction.
    virtual uint8_t DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                uint8_t& outBlue);
    uint8_t DitherPixel(uint8_t red, uint8_t green, uint8_t blue) {
        uint8_t r, g, b;
        return DitherPixel(red, green, blue, r, g, b);
    }
    // Passes over a pixel: the column moves, the error terms stay where they are.
    void SkipPixel() { column_ += direction_; }
    // Ends a row: the direction reverses and the column goes to the new row's
    // first pixel (0 going right, width - 1 going left).
    virtual void EndRow();

    // Walks the rest of the current row: pixels are blue, green, red at
    // bytesPerPixel steps, indices[x] receives pixel x's index. Does not end
    // the row.
    virtual void DitherRow(const uint8_t* pixels, int bytesPerPixel, uint8_t* indices);

    int Direction() const { return direction_; }
    int Column() const { return column_; }
    int Width() const { return width_; }
    TColorLookup& Lookup() const { return lookup_; }

protected:
    bool InRow() const { return column_ >= 0 && column_ < width_; }
    // One pixel: the lookup's answer, then column += direction. Each kind has
    // its own Step around this one; LookupType is TColorLookup for calls from
    // outside, or the lookup's own (final) class inside DitherRow, where the
    // call then goes straight to it.
    template <typename LookupType>
    uint8_t Step(LookupType& lookup, uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                 uint8_t& outBlue) {
        column_ += direction_;
        return lookup.MapColor(red, green, blue, outRed, outGreen, outBlue);
    }
    // The row walk for a concrete ditherer, chosen once per row by the kind of
    // lookup.
    template <typename Ditherer>
    static void WalkRow(Ditherer& ditherer, const uint8_t* pixels, int bytesPerPixel, uint8_t* indices);
    template <typename Ditherer, typename LookupType>
    static void WalkRowWith(Ditherer& ditherer, LookupType& lookup, const uint8_t* pixels, int bytesPerPixel,
                            uint8_t* indices);

    enum class TLookupKind : uint8_t { Other, Slow, Netscape, GrayScale, Monochrome };

    int direction_ = 1;
    int column_ = 0;
    int width_;
    TColorLookup& lookup_;
    TLookupKind lookupKind_;
};

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

// Floyd-Steinberg: 7/16 to the next pixel, 3, 5 and 1 sixteenths to the row
// below. One row per channel plus, per channel, the error carried to the next
// pixel and the two terms that collect the row below's share.
class TFloydSteinbergDitherer final : public TDitherEngine {
public:
    TFloydSteinbergDitherer(int width, TColorLookup& lookup);
    using TDitherEngine::DitherPixel;
    uint8_t DitherPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                        uint8_t& outBlue) override;
    void EndRow() override;
    void DitherRow(const uint8_t* pixels, int bytesPerPixel, uint8_t* indices) override;

private:
    friend class TDitherEngine;
    template <typename LookupType>
    uint8_t Step(LookupType& lookup, uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                 uint8_t& outBlue);

    TErrorRows errors_;
    int cursor_ = 0;  // cell of the current pixel: x going right, x + 2 going left
    int32_t carried_[3] = {};
    int32_t below_[3] = {};
    int32_t belowPrevious_[3] = {};
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
    friend class TDitherEngine;
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
    friend class TDitherEngine;
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
    friend class TDitherEngine;
    template <typename LookupType>
    uint8_t Step(LookupType& lookup, uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                 uint8_t& outBlue);

    TErrorRows errors_;
    int cursor_ = 2;  // cell x + 2 for pixel x
    int direction2_ = 2;
};

// The ditherer of a mode; nullptr for a mode outside dmNearest..dmBurkes.
std::unique_ptr<TDitherEngine> CreateDitherer(TDitherMode mode, int width, TColorLookup& lookup);

}  // namespace tamberlit
