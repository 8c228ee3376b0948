#include "color/palettes.hpp"

namespace tamberlit {

HPALETTE CreateBlackWhitePalette() { return CreatePalette({{0, 0, 0, PC_NOCOLLAPSE}, {255, 255, 255, PC_NOCOLLAPSE}}); }

HPALETTE CreateFourGreyPalette() {
    return CreatePalette({{0, 0, 0, PC_NOCOLLAPSE},
                          {128, 128, 128, PC_NOCOLLAPSE},
                          {192, 192, 192, PC_NOCOLLAPSE},
                          {255, 255, 255, PC_NOCOLLAPSE}});
}

HPALETTE CreateNetscapePalette() { return CreatePalette(ColorCubeEntries()); }

HPALETTE CreateScreenHalftonePalette() { return CreatePalette(HalftonePalette()->Entries); }

}  // namespace tamberlit
