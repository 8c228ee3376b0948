#pragma once
// Fixed palettes for colour reduction. Each call returns a new palette.

#include "image/palette.hpp"

namespace tamberlit {

// The grey ramp (CreateGreyRampPalette: 256 greys, flags PC_NOCOLLAPSE) is
// image/palette's, shared with the codecs that read grey pictures.

// Black, white; flags PC_NOCOLLAPSE.
HPALETTE CreateBlackWhitePalette();
// Greys 0, 128, 192, 255 in that order; flags PC_NOCOLLAPSE.
HPALETTE CreateFourGreyPalette();
// The 216-colour cube: entry 36 r + 6 g + b = (51 r, 51 g, 51 b); flags 0.
HPALETTE CreateNetscapePalette();
// The display's halftone palette: our fixed HalftonePalette (image/palette.hpp),
// which stands in for the one the window system makes for the screen.
HPALETTE CreateScreenHalftonePalette();

}  // namespace tamberlit
