#pragma once
// The glue between TJPEGImage and the IJG JPEG library (libjpeg-turbo's
// interface version 62): header parsing, decoding into a bitmap and
// compressing a bitmap. Private to the JPEG unit.

#include <cstddef>
#include <cstdint>

#include "image/bitmap.hpp"
#include "image/limits.hpp"
#include "formats/jpeg/jpeg_image.hpp"
#include "image/stream.hpp"

namespace tamberlit {

// A progressive file is decoded scan after scan over the whole picture; a
// small file with thousands of empty scans would take minutes. libjpeg-turbo's
// own TurboJPEG interface refuses files with more than 500 scans when asked to
// limit them; we use the same figure.
inline constexpr int MaxJPEGScans = 500;

// The most memory the library may take for its own buffers while decoding
// (progressive and multi-scan files keep every DCT coefficient of the picture,
// 2 bytes per sample): twice the decoded-size limit in bytes, at least 64 MiB.
// The bitmap itself is bounded by the decoded-size limit.
uint64_t MaxJPEGLibraryMemory(const TSizeLimits& limits);

struct TJPEGHeader {
    int Width = 0;
    int Height = 0;
    bool Grayscale = false;    // the file's colour space is grayscale
    bool Progressive = false;  // the file has more than one scan
};

// Parses the header up to the first scan. Raises EJPEG with the library's
// message number when the data are not a JPEG file (42 when there are none).
TJPEGHeader ReadJPEGHeader(const uint8_t* data, size_t size);

// Decodes the data into bitmap, within the bitmap's decoded-size limit: grey output (a grayscale file, or the
// grayscale setting) as Px8 with the 256 grey levels as palette, colour as
// Px24 rows in blue, green, red order, or Px8 with the library's palette of at
// most 236 colours for the 8-bit pixel format. Data that end early decode as
// far as they go, and the result says how many rows they reached; data that
// end before half of the rows raise EInvalidGraphic "cut short: ..." at once,
// without decoding the rest. A missing end-of-image marker alone is no cut.
// Raises EJPEG for the library's errors, EImageTooLarge above the
// decoded-size or memory limit, EInvalidGraphic for too many scans.
// What Debian's libjpeg62-turbo can and cannot give us:
// - arithmetic-coded files decode (the library is built with arithmetic
//   decoding) like Huffman-coded ones;
// - 12-bit files are refused while the header is read: EJPEG 15
//   (JERR_BAD_PRECISION), the library is built for 8-bit samples;
// - four-component files (CMYK, YCCK) load, but decoding is refused: EJPEG 27
//   (JERR_CONVERSION_NOTIMPL), the library converts them to nothing but CMYK.
//   We do not convert CMYK ourselves: the result depends on colour management
//   (Adobe's inverted CMYK, ICC profiles) that the converter does not have.
TRowsPresent DecodeJPEG(const uint8_t* data, size_t size, const TJPEGSettings& settings, TBitmap& bitmap);

// Compresses the picture of bitmap (any format; alpha is dropped) and appends
// the JPEG bytes to output. A bitmap without pixels writes nothing.
void CompressJPEG(TBitmap& bitmap, const TJPEGSettings& settings, TStream& output);

}  // namespace tamberlit
