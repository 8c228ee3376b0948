#pragma once
// GIF as a conversion target: a picture becomes a single-frame GIF89a with at
// most 256 colours and, for a picture with alpha, one transparent index.

#include <string>

#include "color/dither.hpp"
#include "color/reduce.hpp"
#include "image/bitmap.hpp"

namespace tamberlit {

// How a picture is brought to a GIF's palette. The defaults: the octree
// palette of 256 colours, no dithering, pixels with alpha below 128
// transparent.
struct TGIFSettings {
    TColorReduction Reduction = rmOptimized;
    int ReductionBits = 8;  // rmOptimized: 2^bits colours
    TDitherMode Dither = dmNearest;
    int AlphaThreshold = 128;  // 0..255; 0 keeps every pixel opaque
};

// Writes the picture as a GIF, atomically (a failure leaves the previous file
// as it was). Px32 pixels with alpha below the threshold become the frame's
// transparent index; the others are reduced over their colour only, with the
// transparent pixels taking the colour of an opaque neighbour so that they
// add no colour to the palette. The transparent index is one no opaque pixel
// uses after reduction; where the palette's 256 entries are all in use, the
// least used entry gives way and its pixels take the nearest other entry. A
// picture without transparent pixels gets no transparent index. The colour
// table is cut to the entries in use (rounded up to a power of 2 on writing).
// source keeps its pixels and format.
void WriteGIFTarget(TBitmap& source, const std::string& path, const TGIFSettings& settings);

}  // namespace tamberlit
