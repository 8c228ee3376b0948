#pragma once
// PNG writer over libpng: 8-bit RGB with alpha for a Px32 bitmap, 8-bit RGB
// for every other pixel format; never interlaced; one uncompressed tEXt chunk
// "Software" before the image data; libpng's default compression and filters.

#include "image/bitmap.hpp"
#include "image/stream.hpp"

namespace tamberlit {

// Writes the whole PNG file to stream. Raises EWriteError "Error Writing PNG
// File!" when libpng cannot be set up, refuses the picture (an empty bitmap),
// or the stream fails. The bitmap's pixels are read, never changed.
void WritePngImage(TBitmap& bitmap, TStream& stream);

}  // namespace tamberlit
