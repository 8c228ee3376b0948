#include "formats/tga/tga_file.hpp"

namespace tamberlit {

namespace {

uint16_t Word(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }

void PutWord(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

void TTGAHeader::Decode(const uint8_t* bytes) {
    IDLength = bytes[0];
    ColorMapType = bytes[1];
    ImageType = bytes[2];
    ColorMapFirstEntry = Word(bytes + 3);
    ColorMapLength = Word(bytes + 5);
    ColorMapEntrySize = bytes[7];
    XOrigin = Word(bytes + 8);
    YOrigin = Word(bytes + 10);
    Width = Word(bytes + 12);
    Height = Word(bytes + 14);
    PixelDepth = bytes[16];
    Descriptor = bytes[17];
}

void TTGAHeader::Encode(uint8_t* bytes) const {
    bytes[0] = IDLength;
    bytes[1] = ColorMapType;
    bytes[2] = ImageType;
    PutWord(bytes + 3, ColorMapFirstEntry);
    PutWord(bytes + 5, ColorMapLength);
    bytes[7] = ColorMapEntrySize;
    PutWord(bytes + 8, XOrigin);
    PutWord(bytes + 10, YOrigin);
    PutWord(bytes + 12, Width);
    PutWord(bytes + 14, Height);
    bytes[16] = PixelDepth;
    bytes[17] = Descriptor;
}

}  // namespace tamberlit
