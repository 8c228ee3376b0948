#pragma once
// Reduces a true-colour bitmap to an 8-bit palette bitmap: a palette chosen by
// the reduction method, a lookup that maps colours to it, and a ditherer.

#include <memory>

#include "color/dither.hpp"
#include "image/bitmap.hpp"
#include "image/palette.hpp"

namespace tamberlit {

enum TColorReduction : int {
    rmNone = 0,             // no reduction: a 24-bit copy of the source
    rmWindows20 = 1,        // the 20-colour default palette
    rmWindowsHalftone = 2,  // the display halftone palette
    rmFourGreys = 3,        // greys 0, 128, 192, 255
    rmBlackWhite = 4,
    rmGreyRamp = 5,          // 256 greys
    rmNetscape = 6,          // the 216-colour cube
    rmOptimized = 7,         // 2^reductionBits colours computed from the image
    rmOptimizedWindows = 8,  // 236 computed colours between the 20 system colours
    rmPalette = 9,           // the caller's palette
};

// A new bitmap: for rmNone a 24-bit copy of the source; otherwise an 8-bit
// bitmap of the source's size whose colour table is the method's palette
// (256 entries, black past the palette's own). The source itself is set to
// Px24 first (except for rmNone) and keeps that format.
//
// An unknown method or dither mode, or a palette without colours (rmPalette
// without one), gives an empty bitmap. A source without pixels is refused
// with "Invalid image dimensions". reductionBits (rmOptimized) is kept within
// 1..8.
std::unique_ptr<TBitmap> ReduceBitmapColors(TBitmap& source, TColorReduction method, TDitherMode ditherMode,
                                            int reductionBits, HPALETTE palette = nullptr);

}  // namespace tamberlit
