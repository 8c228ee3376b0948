#pragma once
// Colours and palettes, and the fixed palettes our platform layer stands in for:
// the 16-colour system palette, the 20-colour default palette and the display
// halftone palette.

#include <cstdint>
#include <memory>
#include <vector>

namespace tamberlit {

// A colour as 0x00BBGGRR: red in the low byte.
using TColor = uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;

constexpr TColor RGBColor(uint8_t red, uint8_t green, uint8_t blue) {
    return TColor(red) | TColor(green) << 8 | TColor(blue) << 16;
}
constexpr uint8_t RedOf(TColor color) { return uint8_t(color); }
constexpr uint8_t GreenOf(TColor color) { return uint8_t(color >> 8); }
constexpr uint8_t BlueOf(TColor color) { return uint8_t(color >> 16); }

// One entry of a logical palette: red, green, blue, flags.
struct TPaletteEntry {
    uint8_t peRed = 0;
    uint8_t peGreen = 0;
    uint8_t peBlue = 0;
    uint8_t peFlags = 0;
    friend bool operator==(const TPaletteEntry&, const TPaletteEntry&) = default;
};

inline constexpr uint8_t PC_NOCOLLAPSE = 4;

// One entry of a bitmap's colour table: blue, green, red, reserved.
struct TRGBQuad {
    uint8_t rgbBlue = 0;
    uint8_t rgbGreen = 0;
    uint8_t rgbRed = 0;
    uint8_t rgbReserved = 0;
    friend bool operator==(const TRGBQuad&, const TRGBQuad&) = default;
};

// A logical palette. Palettes are values once made; a handle is shared and the
// last holder frees it.
struct TLogPalette {
    uint16_t palVersion = 0x300;
    std::vector<TPaletteEntry> Entries;
};
using HPALETTE = std::shared_ptr<const TLogPalette>;

HPALETTE CreatePalette(std::vector<TPaletteEntry> entries);
HPALETTE CreatePaletteFromColorTable(const std::vector<TRGBQuad>& table);
std::vector<TRGBQuad> ColorTableFromPalette(const HPALETTE& palette);
inline size_t PaletteEntryCount(const HPALETTE& palette) { return palette ? palette->Entries.size() : 0; }

// The nearest entry to a colour: the smallest sum of squared differences of
// red, green and blue; of equally near entries the lowest index wins. Returns
// 0 for an empty palette. This is our rule where the window system has its own.
uint32_t GetNearestPaletteIndex(const HPALETTE& palette, TColor color);
uint32_t NearestColorTableIndex(const TRGBQuad* table, size_t count, uint8_t red, uint8_t green, uint8_t blue);

// The 256 grey levels, entry i = (i, i, i), each with the given flags: the
// palette of 8-bit grey pictures (flags 0) and of the grey-ramp reduction
// (PC_NOCOLLAPSE). Each call returns a new palette.
HPALETTE CreateGreyRampPalette(uint8_t flags = PC_NOCOLLAPSE);
// The 216-colour cube, red slowest: entry 36 r + 6 g + b = (51 r, 51 g, 51 b),
// flags 0.
std::vector<TPaletteEntry> ColorCubeEntries();

// The 16 colours of the system palette (the classic VGA colours).
HPALETTE SystemPalette16();
// The window system's 20-colour default palette: ten static colours at each end
// of an 8-bit system palette.
HPALETTE DefaultPalette20();
// Our fixed display halftone palette of 256 entries: entries 0-9 and 246-255 are
// the default palette's static colours, entries 10-225 the 6 x 6 x 6 colour cube
// (red slowest, levels 0, 51, ..., 255), entries 226-245 a ramp of 20 greys
// between the cube's grey levels.
HPALETTE HalftonePalette();

}  // namespace tamberlit
