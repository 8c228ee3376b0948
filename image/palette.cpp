#include "image/palette.hpp"

#include <limits>
#include <type_traits>

namespace tamberlit {

HPALETTE CreatePalette(std::vector<TPaletteEntry> entries) {
    auto palette = std::make_shared<TLogPalette>();
    palette->Entries = std::move(entries);
    return palette;
}

HPALETTE CreatePaletteFromColorTable(const std::vector<TRGBQuad>& table) {
    if (table.empty()) return nullptr;
    std::vector<TPaletteEntry> entries(table.size());
    for (size_t i = 0; i < table.size(); ++i) entries[i] = {table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 0};
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

namespace {

// The smallest sum of squared differences; the lowest index wins a tie.
template <typename TEntry>
uint32_t NearestIndex(const TEntry* entries, size_t count, uint8_t red, uint8_t green, uint8_t blue) {
    uint32_t best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (size_t i = 0; i < count; ++i) {
        int dr, dg, db;
        if constexpr (std::is_same_v<TEntry, TRGBQuad>) {
            dr = int(entries[i].rgbRed) - red;
            dg = int(entries[i].rgbGreen) - green;
            db = int(entries[i].rgbBlue) - blue;
        } else {
            dr = int(entries[i].peRed) - red;
            dg = int(entries[i].peGreen) - green;
            db = int(entries[i].peBlue) - blue;
        }
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<uint32_t>(i);
            if (distance == 0) break;
        }
    }
    return best;
}

}  // namespace

uint32_t NearestColorTableIndex(const TRGBQuad* table, size_t count, uint8_t red, uint8_t green, uint8_t blue) {
    return NearestIndex(table, count, red, green, blue);
}

uint32_t GetNearestPaletteIndex(const HPALETTE& palette, TColor color) {
    if (!palette) return 0;
    return NearestIndex(palette->Entries.data(), palette->Entries.size(), RedOf(color), GreenOf(color), BlueOf(color));
}

HPALETTE CreateGreyRampPalette(uint8_t flags) {
    std::vector<TPaletteEntry> entries(256);
    for (int i = 0; i < 256; ++i) entries[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), flags};
    return CreatePalette(std::move(entries));
}

std::vector<TPaletteEntry> ColorCubeEntries() {
    std::vector<TPaletteEntry> entries;
    entries.reserve(216);
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) entries.push_back({uint8_t(51 * r), uint8_t(51 * g), uint8_t(51 * b), 0});
    return entries;
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
    // clang-format off
    static const HPALETTE palette = CreatePalette({
        {0, 0, 0, 0},       {128, 0, 0, 0},   {0, 128, 0, 0},   {128, 128, 0, 0},
        {0, 0, 128, 0},     {128, 0, 128, 0}, {0, 128, 128, 0}, {192, 192, 192, 0},
        {128, 128, 128, 0}, {255, 0, 0, 0},   {0, 255, 0, 0},   {255, 255, 0, 0},
        {0, 0, 255, 0},     {255, 0, 255, 0}, {0, 255, 255, 0}, {255, 255, 255, 0},
    });
    // clang-format on
    return palette;
}

HPALETTE DefaultPalette20() {
    static const HPALETTE palette =
        CreatePalette(std::vector<TPaletteEntry>(std::begin(staticColors), std::end(staticColors)));
    return palette;
}

HPALETTE HalftonePalette() {
    static const HPALETTE palette = [] {
        std::vector<TPaletteEntry> entries;
        entries.reserve(256);
        for (int i = 0; i < 10; ++i) entries.push_back(staticColors[i]);
        const std::vector<TPaletteEntry> cube = ColorCubeEntries();
        entries.insert(entries.end(), cube.begin(), cube.end());
        // Twenty greys between the cube's grey levels: in each of the five
        // intervals from 51 k to 51 (k + 1), the four levels 51 k + 10, 20, 30
        // and 40 (fifths of the interval, rounded down), skipping the cube's
        // own levels.
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
