#include "color/reduce.hpp"

#include <algorithm>

#include "color/color_lookup.hpp"
#include "color/dib_rows.hpp"
#include "color/palettes.hpp"
#include "color/quantizer.hpp"

namespace tamberlit {

namespace {

HPALETTE MethodPalette(TColorReduction method, const TDIBReader& rows, int reductionBits, const HPALETTE& palette) {
    switch (method) {
        // The window system's default palette and halftone palette have
        // contents only the platform defines: ours are the fixed equivalents
        // of image/palette.hpp.
        case rmWindows20: return CreatePalette(DefaultPalette20()->Entries);
        case rmWindowsHalftone: return CreateScreenHalftonePalette();
        case rmFourGreys: return CreateFourGreyPalette();
        case rmBlackWhite: return CreateBlackWhitePalette();
        case rmGreyRamp: return CreateGreyRampPalette();
        case rmNetscape: return CreateNetscapePalette();
        case rmOptimized:
            return BuildOptimizedPalette(rows, 1 << std::clamp(reductionBits, 1, 8), 8, TSystemColors::Free);
        case rmOptimizedWindows: return BuildOptimizedPalette(rows, 256, 8, TSystemColors::Reserved);
        case rmPalette: return palette;
        default: return nullptr;
    }
}

std::unique_ptr<TColorLookup> MethodLookup(TColorReduction method, const HPALETTE& palette) {
    switch (method) {
        case rmBlackWhite: return std::make_unique<TMonochromeLookup>();
        case rmGreyRamp: return std::make_unique<TGrayScaleLookup>();
        case rmNetscape: return std::make_unique<TNetscapeColorLookup>();
        default: return std::make_unique<TSlowColorLookup>(palette);
    }
}

}  // namespace

std::unique_ptr<TBitmap> ReduceBitmapColors(TBitmap& source, TColorReduction method, TDitherMode ditherMode,
                                            int reductionBits, HPALETTE palette) {
    auto result = std::make_unique<TBitmap>();
    if (method == rmNone) {
        result->CopyFrom(&source);
        result->SetPixelFormat(Px24);
        return result;
    }
    const TDIBReader rows(source, Px24);
    if (method < rmNone || method > rmPalette) return result;
    const HPALETTE methodPalette = MethodPalette(method, rows, reductionBits, palette);
    const std::unique_ptr<TColorLookup> lookup = MethodLookup(method, methodPalette);
    if (lookup->ColorCount() == 0) return result;
    const int width = rows.Width();
    const int height = rows.Height();
    const std::unique_ptr<TDitherEngine> ditherer = CreateDitherer(ditherMode, width, *lookup);
    if (!ditherer) return result;

    TDIBWriter writer(*result, methodPalette, width, height, Px8);
    for (int y = 0; y < height; ++y) {
        ditherer->DitherRow(rows.ConstRowAddress(y), 3, writer.RowAddress(y));
        ditherer->EndRow();
    }
    writer.Finish();
    return result;
}

}  // namespace tamberlit
