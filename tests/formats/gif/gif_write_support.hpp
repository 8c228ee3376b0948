#pragma once
// Helpers for the GIF writer tests: images built frame by frame, the written
// bytes, a walk over the written structure, and an independent decoder
// (giflib, when the build found it).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/gif/gif_image.hpp"

namespace tamberlit::testing {

// A frame of the given pixels (rows top first) appended to the image; the
// local table is set when colors is not empty.
TGIFSubImage& AddFrame(TGIFImage& image, int width, int height, const std::vector<uint8_t>& pixels,
                       const std::vector<TGIFColor>& colors = {}, int left = 0, int top = 0);
// count colours (i * 37, 255 - i, i * 5), distinct for count <= 256.
std::vector<TGIFColor> TestColors(int count);

std::vector<uint8_t> SaveGIF(TGIFImage& image);

// The written structure, as far as the tests look at it.
struct TWrittenFrame {
    size_t DescriptorOffset = 0;
    uint8_t PackedFields = 0;
    int LocalColors = 0;  // triplets written
    uint8_t MinimumCodeSize = 0;
    std::vector<size_t> BlockSizes;  // data sub-blocks, terminator not included
    std::vector<uint8_t> Data;       // the code stream
};
struct TWrittenGIF {
    std::string Signature;  // "GIF87a" or "GIF89a"
    int ScreenWidth = 0, ScreenHeight = 0;
    uint8_t PackedFields = 0;
    std::vector<uint8_t> GlobalTable;  // R, G, B bytes as written
    // Every extension block: label, then its sub-blocks (the first, for
    // labels with a fixed record, is that record).
    struct TExtension {
        uint8_t Label;
        std::vector<std::vector<uint8_t>> Blocks;
    };
    std::vector<TExtension> Extensions;
    std::vector<TWrittenFrame> Frames;
    bool Trailer = false;
};
// Walks the bytes as GIF89a lays them out; fails the test on anything else.
TWrittenGIF WalkGIF(const std::vector<uint8_t>& bytes);

// The codes of an LZW code stream as a decoder reads them (sizes follow the
// decoder's table), up to the end-of-information code.
struct TCodeTrace {
    std::vector<int> Codes;
    std::vector<int> NextSlot;  // the decoder's next free slot when each code was read
    std::vector<int> CodeSize;
};
TCodeTrace TraceCodes(const std::vector<uint8_t>& data, int minimumCodeSize);

// One frame as giflib decodes it (rows top first, interlacing undone), with
// the colour table it uses (R, G, B bytes) and the transparent index its
// graphic control extension gives (-1 for none).
struct TGiflibFrame {
    int Left = 0, Top = 0, Width = 0, Height = 0;
    std::vector<uint8_t> Pixels;
    std::vector<uint8_t> Colors;
    int TransparentIndex = -1;
};
// The frames giflib reads from the bytes; std::nullopt when giflib is not
// part of the build. A decoding error, a frame outside the logical screen or a
// pixel beyond its colour table (which giflib's tools refuse or read past)
// fails the test.
std::optional<std::vector<TGiflibFrame>> DecodeWithGiflib(const std::vector<uint8_t>& bytes);
// The signature and frames of a GIF file, as above.
struct TGiflibFile {
    std::string Signature;
    int ScreenWidth = 0, ScreenHeight = 0;
    std::vector<TGiflibFrame> Frames;
};
std::optional<TGiflibFile> DecodeFileWithGiflib(const std::string& path);

}  // namespace tamberlit::testing
