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

// Floyd-Steinberg: 7/16 to the next pixel, 3, 5 and 1 sixteenths to the row
// below. GIF rendering keeps one by its own class, so that its calls go
// straight to it; the other error-diffusion kinds are reached through
// CreateDitherer.
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

    // One row of width + 2 cells per channel (red, green, blue), plus per
    // channel the error carried to the next pixel and the two terms that
    // collect the row below's share.
    std::vector<int32_t> storage_;
    int32_t* cells_[3];
    int cursor_ = 0;  // cell of the current pixel: x going right, x + 2 going left
    int32_t carried_[3] = {};
    int32_t below_[3] = {};
    int32_t belowPrevious_[3] = {};
};

// The ditherer of a mode; nullptr for a mode outside dmNearest..dmBurkes.
std::unique_ptr<TDitherEngine> CreateDitherer(TDitherMode mode, int width, TColorLookup& lookup);

}  // namespace tamberlit
