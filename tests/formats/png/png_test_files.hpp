#pragma once
// PNG files for the tests, made and taken apart with libpng directly, so that
// the codec under test is checked against the library itself.

#include <png.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tamberlit::testing {

// What to encode. Pixels are the rows exactly as the file stores them: packed
// below 8 bits (first pixel in the high bits), 16-bit samples big-endian.
struct TPngLayout {
    TPngLayout() = default;
    TPngLayout(uint32_t width, uint32_t height, int bitDepth, int colorType)
        : Width(width), Height(height), BitDepth(bitDepth), ColorType(colorType) {}

    uint32_t Width = 1;
    uint32_t Height = 1;
    int BitDepth = 8;
    int ColorType = PNG_COLOR_TYPE_RGB;
    bool Interlaced = false;
    std::vector<uint8_t> Pixels;
    std::vector<png_color> Palette;
    std::vector<uint8_t> PaletteAlpha;                       // tRNS for a palette
    std::optional<png_color_16> TransparentColor;            // tRNS for grey or RGB
    std::vector<std::pair<std::string, std::string>> Text;   // tEXt chunks (keyword, text)
    std::vector<std::pair<std::string, std::string>> ZText;  // zTXt chunks (keyword, text)

    size_t RowBytes() const;
    int Channels() const;
};

std::vector<uint8_t> EncodePng(const TPngLayout& layout);

// A file decoded without any transformation: rows as the file stores them.
struct TDecodedPng {
    uint32_t Width = 0;
    uint32_t Height = 0;
    int BitDepth = 0;
    int ColorType = 0;
    int Interlace = 0;
    int Compression = 0;
    int Filter = 0;
    std::vector<uint8_t> Pixels;  // rows packed one after the other
};
// Raises std::runtime_error when libpng refuses the data.
TDecodedPng DecodePng(const std::vector<uint8_t>& bytes);

struct TPngChunk {
    std::string Type;
    std::vector<uint8_t> Data;
};
// The chunks after the signature; no CRC check.
std::vector<TPngChunk> ListChunks(const std::vector<uint8_t>& bytes);
// A complete chunk (length, type, data, CRC) to splice into a file.
std::vector<uint8_t> MakeChunk(const std::string& type, const std::vector<uint8_t>& data);
// Inserts a chunk right after IHDR.
std::vector<uint8_t> InsertAfterHeader(const std::vector<uint8_t>& file, const std::vector<uint8_t>& chunk);
std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data);

}  // namespace tamberlit::testing
