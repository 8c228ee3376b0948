#include "formats/tga/tga_file.hpp"
#include "image/byte_order.hpp"

namespace tamberlit {

void TTGAHeader::Decode(const uint8_t* bytes) {
    TByteReader fields(bytes);
    IDLength = fields.U8();
    ColorMapType = fields.U8();
    ImageType = fields.U8();
    ColorMapFirstEntry = fields.U16();
    ColorMapLength = fields.U16();
    ColorMapEntrySize = fields.U8();
    XOrigin = fields.U16();
    YOrigin = fields.U16();
    Width = fields.U16();
    Height = fields.U16();
    PixelDepth = fields.U8();
    Descriptor = fields.U8();
}

void TTGAHeader::Encode(uint8_t* bytes) const {
    bytes[0] = IDLength;
    bytes[1] = ColorMapType;
    bytes[2] = ImageType;
    PutLittleEndian16(bytes + 3, ColorMapFirstEntry);
    PutLittleEndian16(bytes + 5, ColorMapLength);
    bytes[7] = ColorMapEntrySize;
    PutLittleEndian16(bytes + 8, XOrigin);
    PutLittleEndian16(bytes + 10, YOrigin);
    PutLittleEndian16(bytes + 12, Width);
    PutLittleEndian16(bytes + 14, Height);
    bytes[16] = PixelDepth;
    bytes[17] = Descriptor;
}

}  // namespace tamberlit
