#pragma once
// Plain image files for the comparison against peer tools: the corpus maker
// writes them, the output checker reads what every tool wrote. Nothing here is
// timed, and nothing here uses Tamberlit's own codecs: the checker must not
// trust the code it checks.

#include <cstdint>
#include <string>
#include <vector>

namespace tamberlit::bench {

// Top row first; Channels is 3 (R, G, B) or 4 (R, G, B, A).
struct TRawImage {
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint32_t Channels = 4;
    std::vector<uint8_t> Pixels;
    uint8_t* Row(uint32_t y) { return Pixels.data() + size_t{y} * Width * Channels; }
    const uint8_t* Row(uint32_t y) const { return Pixels.data() + size_t{y} * Width * Channels; }
};

// What a file held, besides its pixels: whether the format stored an alpha
// channel at all (a 24-bit BMP or TGA, a PNG of colour type 2, any JPEG do not).
struct TDecoded {
    TRawImage Image;  // always 4 channels; alpha 255 where the file has none
    bool HasAlpha = false;
    std::string Kind;  // "PNG", "TGA", "BMP", "JPEG", "GIF"
};

// Reads a PNG, TGA (types 2 and 10, 24/32 bits, either origin), BMP (24/32
// bits, BI_RGB or BI_BITFIELDS, any header up to V5, either row order) or
// baseline JPEG, chosen by the file's first bytes; with giflib in the build,
// also the first frame of a GIF. Throws std::runtime_error.
TDecoded ReadImageFile(const std::string& path);

enum class TTgaCompression { None, Rle };

// Each writes the whole file in one go; 3- and 4-channel images.
void WritePngFile(const std::string& path, const TRawImage& image);
void WriteTgaFile(const std::string& path, const TRawImage& image, TTgaCompression compression);
void WriteBmpFile(const std::string& path, const TRawImage& image);
void WriteJpegFile(const std::string& path, const TRawImage& image, int quality);

std::vector<uint8_t> ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const uint8_t* data, size_t size);

}  // namespace tamberlit::bench
