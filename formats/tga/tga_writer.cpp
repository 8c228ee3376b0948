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

}  // namespace

void TTGAFile::AssignBitmap(TBitmap& bitmap) { Bitmap.CopyFrom(&bitmap); }

void TTGAFile::SaveFile(const std::string& path) {
    // Refused before the temporary file is made.
    CheckWritableSize();
    TAtomicFileWriter file(path);
    SaveToStream(file);
    file.Commit();
}

void TTGAFile::SaveToStream(TStream& stream) {
    CheckWritableSize();
    stream.SetPosition(0);
    WriteHeader(stream);
    WritePixels(stream);
}

void TTGAFile::CheckWritableSize() const {
    const int width = Bitmap.Width();
    const int height = Bitmap.Height();
    if (width > MaxTGASide || height > MaxTGASide)
        throw EInvalidGraphicOperation("Cannot write a TGA file of " + std::to_string(width) + " x " +
                                       std::to_string(height) + " pixels: TGA allows at most " +
                                       std::to_string(MaxTGASide) + " pixels per side");
}

void TTGAFile::PrepareHeader() {
    Header.IDLength = static_cast<uint8_t>(ImageID.size());
    Header.XOrigin = 0;
    Header.YOrigin = 0;
    Header.Width = static_cast<uint16_t>(Bitmap.Width());
    Header.Height = static_cast<uint16_t>(Bitmap.Height());
}

void TTGAFile::WriteHeader(TStream& stream) {
    PrepareHeader();
    const TPixelFormat format = Bitmap.PixelFormat();
    switch (format) {
        case Px8:
            Header.ColorMapType = 1;
            Header.ImageType = 1;  // uncompressed, colour-mapped
            Header.ColorMapFirstEntry = 0;
            Header.ColorMapLength = ColorMapEntries;
            Header.ColorMapEntrySize = 24;
            Header.PixelDepth = 8;
            break;
        case Px24:
        case Px32:
            Header.ColorMapType = 0;
            Header.ImageType = 2;  // uncompressed, true-colour
            Header.ColorMapFirstEntry = 0;
            Header.ColorMapLength = 0;
            Header.ColorMapEntrySize = 0;  // no colour map
            Header.PixelDepth = format == Px24 ? 24 : 32;
            break;
        default: break;  // the other fields keep their values
    }
    Header.Descriptor = Header.PixelDepth == 32 ? AlphaDescriptor : OpaqueDescriptor;
    uint8_t bytes[TTGAHeader::Size];
    Header.Encode(bytes);
    stream.WriteBuffer(bytes, sizeof bytes);
    stream.WriteBuffer(ImageID.data(), ImageID.size());
    if (format != Px8) return;

    // 256 entries of blue, green, red; entries the palette lacks are zero.
    uint8_t colorMap[ColorMapEntries * 3] = {};
    if (const HPALETTE palette = Bitmap.Palette()) {
        const size_t count = std::min(palette->Entries.size(), ColorMapEntries);
        for (size_t i = 0; i < count; ++i) {
            colorMap[3 * i] = palette->Entries[i].peBlue;
            colorMap[3 * i + 1] = palette->Entries[i].peGreen;
            colorMap[3 * i + 2] = palette->Entries[i].peRed;
        }
    }
    stream.WriteBuffer(colorMap, sizeof colorMap);
}

void TTGAFile::WritePixels(TStream& stream) {
    const size_t pixelBytes = WrittenPixelBytes(Bitmap.PixelFormat());
    const int height = Bitmap.Height();
    const size_t rowBytes = pixelBytes * static_cast<size_t>(Bitmap.Width());
    if (rowBytes == 0 || height == 0) return;
    // A memory stream gets its final size at once instead of growing row by row.
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream))
        memory->Reserve(static_cast<size_t>(memory->Position()) + rowBytes * static_cast<size_t>(height));
    // Rows are read without making the image private: the caller's pixels are
    // shared with Bitmap, not copied.
    for (int y = height - 1; y >= 0; --y) stream.WriteBuffer(Bitmap.ConstRowAddress(y), rowBytes);
}

}  // namespace tamberlit
