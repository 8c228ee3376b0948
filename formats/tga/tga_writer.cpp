// The writing road of TTGAFile: always uncompressed, bottom row first, the
// colour map only for 8-bit images, nothing after the pixel data.

#include <algorithm>
#include <string>

#include "formats/tga/tga_file.hpp"
#include "image/exceptions.hpp"

namespace tamberlit {

namespace {

// The image ID we write: none.
const std::string ImageID;

// Origin at the bottom left, rows left to right, and the attribute (alpha)
// bits: 8 for 32-bit pixels, none otherwise. Readers such as ImageMagick take
// attribute bits in a 24-bit file as an alpha channel it does not have.
constexpr uint8_t AlphaDescriptor = 0x08;
constexpr uint8_t OpaqueDescriptor = 0x00;

constexpr size_t ColorMapEntries = 256;

size_t WrittenPixelBytes(TPixelFormat format) {
    switch (format) {
        case Px8: return 1;
        case Px24: return 3;
        case Px32: return 4;
        default: return 0;  // no pixel data for other formats
    }
}

// Refused before anything is written: the header's fields hold 16 bits.
void CheckWritableSize(const TBitmap& bitmap) {
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    if (width > MaxTGASide || height > MaxTGASide)
        throw EInvalidGraphicOperation("Cannot write a TGA file of " + std::to_string(width) + " x " +
                                       std::to_string(height) + " pixels: TGA allows at most " +
                                       std::to_string(MaxTGASide) + " pixels per side");
}

// Fills in header from the bitmap and writes it, the image ID and, for Px8,
// the colour map.
void WriteHeader(TTGAHeader& header, const TBitmap& bitmap, TStream& stream) {
    header.IDLength = static_cast<uint8_t>(ImageID.size());
    header.XOrigin = 0;
    header.YOrigin = 0;
    header.Width = static_cast<uint16_t>(bitmap.Width());
    header.Height = static_cast<uint16_t>(bitmap.Height());
    const TPixelFormat format = bitmap.PixelFormat();
    switch (format) {
        case Px8:
            header.ColorMapType = 1;
            header.ImageType = 1;  // uncompressed, colour-mapped
            header.ColorMapFirstEntry = 0;
            header.ColorMapLength = ColorMapEntries;
            header.ColorMapEntrySize = 24;
            header.PixelDepth = 8;
            break;
        case Px24:
        case Px32:
            header.ColorMapType = 0;
            header.ImageType = 2;  // uncompressed, true-colour
            header.ColorMapFirstEntry = 0;
            header.ColorMapLength = 0;
            header.ColorMapEntrySize = 0;  // no colour map
            header.PixelDepth = format == Px24 ? 24 : 32;
            break;
        default: break;  // the other fields keep their values
    }
    header.Descriptor = header.PixelDepth == 32 ? AlphaDescriptor : OpaqueDescriptor;
    uint8_t bytes[TTGAHeader::Size];
    header.Encode(bytes);
    stream.WriteBuffer(bytes, sizeof bytes);
    stream.WriteBuffer(ImageID.data(), ImageID.size());
    if (format != Px8) return;

    // 256 entries of blue, green, red; entries the palette lacks are zero.
    uint8_t colorMap[ColorMapEntries * 3] = {};
    if (const HPALETTE palette = bitmap.Palette()) {
        const size_t count = std::min(palette->Entries.size(), ColorMapEntries);
        for (size_t i = 0; i < count; ++i) {
            colorMap[3 * i] = palette->Entries[i].peBlue;
            colorMap[3 * i + 1] = palette->Entries[i].peGreen;
            colorMap[3 * i + 2] = palette->Entries[i].peRed;
        }
    }
    stream.WriteBuffer(colorMap, sizeof colorMap);
}

void WritePixels(const TBitmap& bitmap, TStream& stream) {
    const size_t pixelBytes = WrittenPixelBytes(bitmap.PixelFormat());
    const int height = bitmap.Height();
    const size_t rowBytes = pixelBytes * static_cast<size_t>(bitmap.Width());
    if (rowBytes == 0 || height == 0) return;
    // A memory stream gets its final size at once instead of growing row by row.
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream))
        memory->Reserve(static_cast<size_t>(memory->Position()) + rowBytes * static_cast<size_t>(height));
    // Rows are read without making the image private: the caller's pixels are
    // shared with Bitmap, not copied.
    for (int y = height - 1; y >= 0; --y) stream.WriteBuffer(bitmap.ConstRowAddress(y), rowBytes);
}

}  // namespace

void TTGAFile::AssignBitmap(TBitmap& bitmap) { Bitmap.CopyFrom(&bitmap); }

void TTGAFile::SaveFile(const std::string& path) {
    // Refused before the temporary file is made.
    CheckWritableSize(Bitmap);
    SaveFileAtomically(path, [this](TStream& stream) { SaveToStream(stream); });
}

void TTGAFile::SaveToStream(TStream& stream) {
    CheckWritableSize(Bitmap);
    stream.SetPosition(0);
    WriteHeader(Header, Bitmap, stream);
    WritePixels(Bitmap, stream);
}

}  // namespace tamberlit
