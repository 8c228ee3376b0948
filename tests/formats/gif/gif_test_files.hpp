#pragma once
// Hand-made GIF files for the tests: headers, frames and LZW code streams built
// byte by byte.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "formats/gif/gif_image.hpp"
#include "tests/support/test_support.hpp"

namespace tamberlit::testing {

// Codes of the given widths packed least significant bit first (GIF89a, appendix F).
struct TCode {
    int value;
    int width;
};
std::vector<uint8_t> PackCodes(const std::vector<TCode>& codes);

// data as sub-blocks of at most blockSize bytes; then the zero-length block.
TBytes& AppendSubBlocks(TBytes& bytes, const std::vector<uint8_t>& data, size_t blockSize = 255);

// Codes that give the pixels through any GIF decoder without using the string
// table: literals, with a clear code often enough that the code size stays at
// minimumCodeSize + 1, then the end-of-information code.
std::vector<TCode> LiteralCodes(const std::vector<uint8_t>& pixels, int minimumCodeSize, bool endCode = true);

// "GIF89a", a logical screen and, for sizeCode >= 0, a global colour table of
// 2^(sizeCode + 1) entries whose entry i is colors[i] or (i, i, i).
TBytes GIFHeader(int width, int height, int sizeCode, const std::vector<TGIFColor>& colors = {});
// An image descriptor (0x2C ...).
TBytes& AppendDescriptor(TBytes& bytes, int left, int top, int width, int height, uint8_t packed = 0);
// Minimum code size byte and the codes as sub-blocks.
TBytes& AppendImageData(TBytes& bytes, int minimumCodeSize, const std::vector<TCode>& codes, size_t blockSize = 255);
// A whole frame: descriptor and literal image data of the pixels.
TBytes& AppendFrame(TBytes& bytes, int width, int height, const std::vector<uint8_t>& pixels, int minimumCodeSize = 2,
                    uint8_t packed = 0, int left = 0, int top = 0);
// A graphic control extension.
TBytes& AppendGraphicControl(TBytes& bytes, bool transparent, int transparentIndex, int delay = 0);

// Loads the bytes, collecting the warnings; returns the error text ("" when the
// load succeeded).
struct TLoadResult {
    std::string Error;
    std::vector<std::string> Warnings;
};
TLoadResult LoadGIF(TGIFImage& image, const std::vector<uint8_t>& bytes);

// The pixel indices of a frame, row after row.
std::vector<uint8_t> FramePixels(TGIFSubImage& frame);

}  // namespace tamberlit::testing
