#pragma once
// TGA files, after the Truevision TGA 2.0 file format.
// TTGAFile reads uncompressed and run-length encoded images of 8, 16, 24 and
// 32 bits per pixel and writes uncompressed 8-, 24- and 32-bit files;
// TTGABitmap is the bitmap class through which TGA files are loaded.

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/bitmap.hpp"
#include "image/exceptions.hpp"
#include "image/stream.hpp"

namespace tamberlit {

// The one message of the reader for images it does not read.
inline constexpr const char* TGAFormatError = "Invalid or Unsupported Format of TGA";

// A TGA file the reader does not read (always with TGAFormatError).
class ETGA : public EInvalidGraphic {
public:
    ETGA() : EInvalidGraphic(TGAFormatError) {}
};

// The largest width or height a TGA header can state (16-bit fields).
inline constexpr int MaxTGASide = 65535;

// The 18-byte file header; multi-byte fields are little-endian in the file.
struct TTGAHeader {
    static constexpr size_t Size = 18;

    uint8_t IDLength = 0;
    uint8_t ColorMapType = 0;
    uint8_t ImageType = 0;
    uint16_t ColorMapFirstEntry = 0;
    uint16_t ColorMapLength = 0;
    uint8_t ColorMapEntrySize = 0;
    uint16_t XOrigin = 0;
    uint16_t YOrigin = 0;
    uint16_t Width = 0;
    uint16_t Height = 0;
    uint8_t PixelDepth = 0;
    uint8_t Descriptor = 0;

    void Decode(const uint8_t* bytes);
    void Encode(uint8_t* bytes) const;
};

class TTGAFile {
public:
    TTGAFile() = default;
    TTGAFile(const TTGAFile&) = delete;
    TTGAFile& operator=(const TTGAFile&) = delete;

    // ---- reading
    // Reads the TGA image that starts at position 0 of the stream (wherever the
    // stream stood before) into Bitmap: Px8 with its palette for 8 bits per
    // pixel, Px24 for 16 and 24 bits, Px32 for 32 bits and for 16-bit grey with
    // alpha. Pixel data that ends early leaves the rest of the picture zero
    // (RowsPresent says how many rows it held), unless it ends before half the
    // rows: EInvalidGraphic "cut short: ...". Raises ETGA "Invalid or
    // Unsupported Format of TGA" for an image type or pixel depth it does not
    // read, EImageTooLarge beyond the decoded-size limit (Bitmap.Limits); on every error
    // Bitmap is unchanged.
    void LoadFromStream(TStream& stream);

    // ---- writing
    // Makes Bitmap a copy of the bitmap (shared: no pixels are copied).
    void AssignBitmap(TBitmap& bitmap);
    // Writes Bitmap to a temporary file that replaces the named file once it is
    // complete, so a failed save leaves the old file as it was.
    void SaveFile(const std::string& path);
    // Writes Bitmap uncompressed from position 0 of the stream: header, the
    // 768-byte colour map for Px8, then the rows bottom row first. Formats other
    // than Px8, Px24 and Px32 give a header without pixel data. Raises
    // EInvalidGraphicOperation for a bitmap wider or higher than 65535 pixels.
    void SaveToStream(TStream& stream);

    TTGAHeader Header;  // as read, or as last written
    TBitmap Bitmap;
    TRowsPresent RowsPresent;  // as read
};

// A bitmap that loads TGA data; everything else, saving included, is TBitmap's.
class TTGABitmap : public TBitmap {
public:
    const char* ClassName() const override { return "TTGABitmap"; }
    // Reads a TGA image (see TTGAFile::LoadFromStream) and takes over its pixel
    // store. On an error this bitmap stays as it was.
    void LoadFromStream(TStream& stream) override;
};

}  // namespace tamberlit
