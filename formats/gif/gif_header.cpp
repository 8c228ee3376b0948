#include "formats/gif/gif_header.hpp"

#include <algorithm>
#include <iterator>

#include "formats/gif/gif_internal.hpp"
#include "image/byte_order.hpp"
#include "image/file_names.hpp"

namespace tamberlit {

namespace {

bool StartsWithGIF(const uint8_t* bytes, size_t count) {
    return count >= 3 && SameTextAscii(std::string_view(reinterpret_cast<const char*>(bytes), 3), "GIF");
}

// A colour table's colour resolution (bits per primary colour - 1, GIF89a
// section 18); 0 for an empty table.
int ColorResolution(const TGIFColorMap& colors) { return std::max(0, colors.BitsPerPixel() - 1); }

}  // namespace

void TGIFHeader::Clear() {
    colorMap_.Clear();
    Descriptor = TScreenDescriptor{};
}

void TGIFHeader::Load(TGIFReader& reader) {
    // The signature is compared without regard to case, and a 4-byte prefix in
    // front of it is tolerated (files saved with a wrapper header). The version
    // is not checked: any version is read as GIF89a.
    const int64_t start = reader.Position();
    uint8_t signature[6] = {};
    size_t got = reader.Read(signature, sizeof signature);
    if (!StartsWithGIF(signature, got)) {
        reader.Seek(start + 4);
        std::fill(std::begin(signature), std::end(signature), uint8_t{0});
        got = reader.Read(signature, sizeof signature);
        if (!StartsWithGIF(signature, got)) RaiseGIFError(GIFText::InvalidGIFSignature);
    }
    uint8_t bytes[7];
    reader.ReadExact(bytes, sizeof bytes);
    TByteReader fields(bytes);
    Descriptor.ScreenWidth = fields.U16();
    Descriptor.ScreenHeight = fields.U16();
    Descriptor.PackedFields = fields.U8();
    Descriptor.BackgroundColorIndex = fields.U8();
    Descriptor.AspectRatio = fields.U8();
    if (Descriptor.PackedFields & 0x80) colorMap_.LoadColors(reader, 2 << (Descriptor.PackedFields & 0x07));
    else colorMap_.Clear();
}

TGIFVersion TGIFHeader::RequiredVersion() const {
    const TGIFImageList& frames = Image().Images();
    TGIFVersion version = gvUnknown;
    for (int i = 0; i < frames.Count() && version < gv89a; ++i)
        version = std::max(version, frames[i].RequiredVersion());
    return version;
}

void TGIFHeader::Save(TStream& stream) {
    const TGIFVersion version = RequiredVersion();
    if (version == gvUnknown) RaiseGIFError(GIFText::UnsupportedGIFVersion);
    TGIFImage& image = Image();

    // The packed byte follows the colour tables as they are now.
    int resolution = ColorResolution(colorMap_);
    uint32_t screenWidth = Descriptor.ScreenWidth, screenHeight = Descriptor.ScreenHeight;
    for (int i = 0; i < image.Images().Count(); ++i) {
        TGIFSubImage& frame = image.Images()[i];
        resolution = std::max(resolution, ColorResolution(frame.ColorMap()));
        // A decoder may refuse a frame outside the logical screen (giflib's
        // tools do): the screen written contains every frame.
        if (frame.Empty()) continue;
        screenWidth = std::max<uint32_t>(screenWidth, uint32_t(frame.Left()) + uint32_t(frame.Width()));
        screenHeight = std::max<uint32_t>(screenHeight, uint32_t(frame.Top()) + uint32_t(frame.Height()));
    }
    if (screenWidth > 0xFFFF || screenHeight > 0xFFFF) RaiseGIFError(GIFText::ImageExceedsScreen);
    int packed = resolution << 4;
    if (colorMap_.Count() > 0) {
        packed |= 0x80 | (colorMap_.BitsPerPixel() - 1);
        if (colorMap_.Optimized) packed |= 0x08;
    }
    Descriptor.PackedFields = static_cast<uint8_t>(packed);

    TByteWriter fields;
    fields.Bytes(version == gv87a ? "GIF87a" : "GIF89a", 6)
        .U16(screenWidth)
        .U16(screenHeight)
        .U8(Descriptor.PackedFields)
        .U8(Descriptor.BackgroundColorIndex)
        .U8(Descriptor.AspectRatio);
    WriteRecord(stream, fields);
    if (colorMap_.Count() > 0) colorMap_.SaveColors(stream);
}

}  // namespace tamberlit
