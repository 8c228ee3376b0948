#pragma once
// Test helpers that talk to the JPEG library directly, independent of
// TJPEGImage: an encoder for test files, a decoder with the library's default
// settings as the reference, and small marker surgery on JPEG bytes.

#include <cstdint>
#include <string>
#include <vector>

namespace tamberlit::testing {

enum class TJpegInput { Rgb, Grey, Cmyk };

struct TReferenceEncoding {
    TJpegInput Input = TJpegInput::Rgb;
    int Quality = 95;
    bool Progressive = false;
    bool Arithmetic = false;
    bool FullChroma = false;  // 1x1 sampling for every component (no subsampling)
};

// Samples are R,G,B (or grey, or C,M,Y,K) per pixel, top row first. Fails the
// test and returns nothing when the library refuses.
std::vector<uint8_t> EncodeReference(int width, int height, const std::vector<uint8_t>& samples,
                                     const TReferenceEncoding& encoding = {});

struct TReferenceImage {
    int Width = 0;
    int Height = 0;
    int Components = 0;            // 3 (R,G,B) or 1 (grey)
    std::vector<uint8_t> Samples;  // top row first
};

// The library's decode with its default settings (the one djpeg makes), as
// R,G,B; or grey for a grayscale file. Empty Samples when it fails.
TReferenceImage DecodeReference(const std::vector<uint8_t>& jpeg);

// The quantisation tables jpeg_set_quality(quality, baseline) gives, and those
// stored in a file, table by table.
std::vector<std::vector<unsigned>> QualityTables(int quality);
std::vector<std::vector<unsigned>> FileTables(const std::vector<uint8_t>& jpeg);
// Components of the frame and the SOFn marker's n, -1 without one.
int FrameComponents(const std::vector<uint8_t>& jpeg);
int FrameType(const std::vector<uint8_t>& jpeg);

// Offset of the first marker 0xFF code (its 0xFF byte) at or after from, or
// npos. Markers inside entropy-coded data are escaped, so this finds SOS, EOI...
size_t FindMarker(const std::vector<uint8_t>& jpeg, uint8_t code, size_t from = 0);
size_t FindLastMarker(const std::vector<uint8_t>& jpeg, uint8_t code);
// The progressive file with its last scan repeated until it has total scans.
std::vector<uint8_t> WithScans(const std::vector<uint8_t>& jpeg, int total);

// A smooth test picture: R = 4x, G = 4y, B = 255 - 2(x + y), R,G,B per pixel.
std::vector<uint8_t> GradientRgb(int width, int height);
std::vector<uint8_t> GradientGrey(int width, int height);

}  // namespace tamberlit::testing
