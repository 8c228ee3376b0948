#pragma once
// PNG reader over libpng: any valid PNG becomes a Px32 bitmap (colour types
// with alpha, or a tRNS chunk) or a Px24 bitmap (everything else). Palettes and
// grey become colour, samples below 8 bits are scaled up and 16-bit samples keep
// their high byte; interlaced files give the same picture as plain ones.

#include "image/bitmap.hpp"
#include "image/stream.hpp"

namespace tamberlit {

// Decodes the PNG data at the stream's position into bitmap. Reading ends with
// the chunk the last row ends in: nothing after it changes the picture. Raises
// EInvalidGraphic "Error Reading File!" for data libpng refuses up to there or
// that ends before the last row, and EImageTooLarge beyond the bitmap's
// decoded-size limit (both before any pixel memory is allocated where the
// header shows it).
// On failure the bitmap keeps its previous picture.
void ReadPngImage(TStream& stream, TBitmap& bitmap);

}  // namespace tamberlit
