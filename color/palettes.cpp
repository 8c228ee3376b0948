#include "color/palettes.hpp"

#include <vector>

namespace tamberlit {

HPALETTE CreateGreyRampPalette() {
    std::vector<TPaletteEntry> entries(256);
    for (int i = 0; i < 256; ++i) entries[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), PC_NOCOLLAPSE};
    return CreatePalette(std::move(entries));
}

HPALETTE CreateBlackWhitePalette() {
    return CreatePalette({{0, 0, 0, PC_NOCOLLAPSE}, {255, 255, 255, PC_NOCOLLAPSE}});
}

HPALETTE CreateFourGreyPalette() {
    return CreatePalette({{0, 0, 0, PC_NOCOLLAPSE},
                          {128, 128, 128, PC_NOCOLLAPSE},
                          {192, 192, 192, PC_NOCOLLAPSE},
                          {255, 255, 255, PC_NOCOLLAPSE}});
}

HPALETTE CreateNetscapePalette() {
    std::vector<TPaletteEntry> entries;
    entries.reserve(216);
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) entries.push_back({uint8_t(51 * r), uint8_t(51 * g), uint8_t(51 * b), 0});
    return CreatePalette(std::move(entries));
}

HPALETTE CreateScreenHalftonePalette() { return CreatePalette(HalftonePalette()->Entries); }

}  // namespace tamberlit
