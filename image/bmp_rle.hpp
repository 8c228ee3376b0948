#pragma once
// Decoding of run-length encoded BMP pixel data (BI_RLE8 and BI_RLE4) to the
// rules of the BMP documentation.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/dib.hpp"

namespace tamberlit::bmp {

enum class TRowOrder { BottomUp, TopDown };

// Decodes data (bitCount 8: BI_RLE8, 4: BI_RLE4) into target, a 32-bit block
// of the picture's size whose pixels are zero: each index becomes its colour
// from colorTable (black beyond the table) with a fourth byte of 0. Pixels the
// data skips (deltas, early ends of line or of the bitmap, data that ends
// early) stay black; runs that go past the end of a row are cut there. order
// tells whether the first row of the data is the bottom row of the picture,
// as the documentation requires, or the top row. Returns the rows the data
// reached, in the data's order: all of them when it ends with its end-of-
// bitmap code (the pixels it skips are the format's own) or fills the last
// row; the rows before the one it ran out in otherwise.
int64_t DecodeRunLength(const uint8_t* data, size_t size, int bitCount, const std::vector<TRGBQuad>& colorTable,
                        TRowOrder order, TDIBSection& target);

}  // namespace tamberlit::bmp
