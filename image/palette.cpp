#include "image/palette.hpp"

#include <limits>

namespace tamberlit {

HPALETTE CreatePalette(std::vector<TPaletteEntry> entries) {
    auto palette = std::make_shared<TLogPalette>();
    palette->Entries = std::move(entries);
    return palette;
}

HPALETTE CreatePaletteFromColorTable(const std::vector<TRGBQuad>& table) {
    if (table.empty()) return nullptr;
    std::vector<TPaletteEntry> entries(table.size());
    for (size_t i = 0; i < table.size(); ++i)
        entries[i] = {table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 0};
    return CreatePalette(std::move(entries));
}

std::vector<TRGBQuad> ColorTableFromPalette(const HPALETTE& palette) {
    std::vector<TRGBQuad> table;
    if (!palette) return table;
    table.resize(palette->Entries.size());
    for (size_t i = 0; i < table.size(); ++i) {
        const auto& entry = palette->Entries[i];
        table[i] = {entry.peBlue, entry.peGreen, entry.peRed, 0};
    }
    return table;
}

uint32_t NearestColorTableIndex(const TRGBQuad* table, size_t count, uint8_t red, uint8_t green, uint8_t blue) {
    uint32_t best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (size_t i = 0; i < count; ++i) {
        const int dr = int(table[i].rgbRed) - red;
        const int dg = int(table[i].rgbGreen) - green;
        const int db = int(table[i].rgbBlue) - blue;
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<uint32_t>(i);
            if (distance == 0) break;
        }
    }
    return best;
}

uint32_t GetNearestPaletteIndex(const HPALETTE& palette, TColor color) {
    if (!palette) return 0;
    uint32_t best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    const auto& entries = palette->Entries;
    for (size_t i = 0; i < entries.size(); ++i) {
        const int dr = int(entries[i].peRed) - RedOf(color);
        const int dg = int(entries[i].peGreen) - GreenOf(color);
        const int db = int(entries[i].peBlue) - BlueOf(color);
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<uint32_t>(i);
            if (distance == 0) break;
        }
    }
    return best;
}

namespace {

// The static colours of an 8-bit system palette, first ten then last ten.
constexpr TPaletteEntry staticColors[20] = {
    {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},   {0, 0, 128, 0},
    {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0}, {192, 220, 192, 0}, {166, 202, 240, 0},
    {255, 251, 240, 0}, {160, 160, 164, 0}, {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},
    {255, 255, 0, 0},   {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0},
};

}  // namespace

HPALETTE SystemPalette16() {
    static const HPALETTE palette = CreatePalette({
        {0, 0, 0, 0},     {128, 0, 0, 0},   {0, 128, 0, 0},   {128, 128, 0, 0},
        {0, 0, 128, 0},   {128, 0, 128, 0}, {0, 128, 128, 0}, {192, 192, 192, 0},
        {128, 128, 128, 0}, {255, 0, 0, 0}, {0, 255, 0, 0},   {255, 255, 0, 0},
        {0, 0, 255, 0},   {255, 0, 255, 0}, {0, 255, 255, 0}, {255, 255, 255, 0},
    });
    return palette;
}

HPALETTE DefaultPalette20() {
    static const HPALETTE palette = CreatePalette(std::vector<TPaletteEntry>(std::begin(staticColors), std::end(staticColors)));
    return palette;
}

HPALETTE HalftonePalette() {
    static const HPALETTE palette = [] {
        std::vector<TPaletteEntry> entries;
        entries.reserve(256);
        for (int i = 0; i < 10; ++i) entries.push_back(staticColors[i]);
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    entries.push_back({uint8_t(51 * r), uint8_t(51 * g), uint8_t(51 * b), 0});
        // Greys between the cube's levels: 51 * k + {10, 20, 30, 40}... five steps
        // per interval, skipping the cube's own levels.
        for (int k = 0; k < 5; ++k)
            for (int step = 1; step <= 4; ++step) {
                const auto level = uint8_t(51 * k + step * 51 / 5);
                entries.push_back({level, level, level, 0});
            }
        for (int i = 10; i < 20; ++i) entries.push_back(staticColors[i]);
        return CreatePalette(std::move(entries));
    }();
    return palette;
}

}  // namespace tamberlit
