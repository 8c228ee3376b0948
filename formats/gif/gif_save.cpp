// Writing a TGIFImage as a GIF stream (GIF87a or GIF89a): header, frames with
// their extension blocks, trailer.

#include <algorithm>
#include <vector>

#include "formats/gif/gif_internal.hpp"
#include "formats/gif/gif_lzw_encoder.hpp"
#include "formats/gif/gif_rle_encoder.hpp"
#include "image/byte_order.hpp"

namespace tamberlit {

namespace {

// A record whose fields were collected first goes to the stream in one write.
void WriteRecord(TStream& stream, const TByteWriter& fields) {
    stream.WriteBuffer(fields.Data().data(), fields.Size());
}

void WriteByte(TStream& stream, uint8_t byte) { stream.WriteBuffer(&byte, 1); }

// Bytes as data sub-blocks of at most 255 bytes; nothing for no bytes.
void WriteSubBlocks(TStream& stream, const uint8_t* bytes, size_t count) {
    for (size_t at = 0; at < count;) {
        const size_t size = std::min<size_t>(255, count - at);
        WriteByte(stream, static_cast<uint8_t>(size));
        stream.WriteBuffer(bytes + at, size);
        at += size;
    }
}

// A colour table's colour resolution (bits per primary colour - 1, GIF89a
// section 18); 0 for an empty table.
int ColorResolution(const TGIFColorMap& colors) { return std::max(0, colors.BitsPerPixel() - 1); }

}  // namespace

void WriteSubBlockStrings(TStream& stream, const std::vector<std::string>& strings) {
    for (const std::string& text : strings)
        WriteSubBlocks(stream, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    WriteByte(stream, 0);
}

void TGIFItem::SaveFile(const std::string& path) {
    TAtomicFileWriter stream(path);
    Save(stream);
    stream.Commit();
}

void TGIFColorMap::SaveColors(TStream& stream) const {
    std::vector<uint8_t> bytes(3 * (size_t{1} << BitsPerPixel()), 0);
    for (int i = 0; i < Count(); ++i) {
        const TGIFColor& color = Entry(i);
        bytes[3 * static_cast<size_t>(i)] = color.Red;
        bytes[3 * static_cast<size_t>(i) + 1] = color.Green;
        bytes[3 * static_cast<size_t>(i) + 2] = color.Blue;
    }
    stream.WriteBuffer(bytes.data(), bytes.size());
}

// ---------------------------------------------------------------- extensions

void TGIFExtension::Save(TStream& stream) {
    WriteRecord(stream, TByteWriter().U8(GIFExtensionIntroducer).U8(ExtensionLabel()));
    SaveData(stream);
}

void TGIFExtensionList::Save(TStream& stream) const {
    for (const auto& extension : items_) extension->Save(stream);
}

// The block size and terminator are written as GIF89a fixes them (4 and 0),
// whatever a damaged file held: other decoders read exactly that many bytes.
void TGIFGraphicControlExtension::SaveData(TStream& stream) {
    TByteWriter fields;
    fields.U8(4)
        .U8(record_.PackedFields)
        .U16(record_.Delay)
        .U8(record_.TransparentColorIndex)
        .U8(0);
    WriteRecord(stream, fields);
}

void TGIFTextExtension::SaveData(TStream& stream) {
    TByteWriter fields;
    fields.U8(12)
        .U16(record_.Left)
        .U16(record_.Top)
        .U16(record_.Width)
        .U16(record_.Height)
        .U8(record_.CellWidth)
        .U8(record_.CellHeight)
        .U8(record_.ForegroundColorIndex)
        .U8(record_.BackgroundColorIndex);
    WriteRecord(stream, fields);
    WriteSubBlockStrings(stream, Text);
}

void TGIFCommentExtension::SaveData(TStream& stream) { WriteSubBlockStrings(stream, Comment); }

void TGIFApplicationExtension::SaveData(TStream& stream) {
    WriteRecord(stream, TByteWriter().U8(11).Bytes(Identifier.data(), Identifier.size()));
    WriteAppData(stream);
}

void TGIFApplicationExtension::WriteAppData(TStream& stream) { WriteByte(stream, 0); }

// Blocks are written as sub-blocks of their bytes: an empty block would end
// the data early and one above 255 bytes cannot be a single sub-block.
void TGIFUnknownAppExtension::WriteAppData(TStream& stream) {
    for (const TGIFBlock& block : Blocks) WriteSubBlocks(stream, block.Data.data(), block.Data.size());
    WriteByte(stream, 0);
}

void TGIFAppExtNSLoop::WriteAppData(TStream& stream) {
    TByteWriter bytes;
    bytes.U8(3).U8(1).U16(Loops);
    if (BufferSize != 0) bytes.U8(5).U8(2).U32(BufferSize);
    WriteRecord(stream, bytes.U8(0));
}

// ---------------------------------------------------------------- header

TGIFVersion TGIFHeader::RequiredVersion() const {
    const TGIFImageList& frames = Image().Images();
    TGIFVersion version = gvUnknown;
    for (int i = 0; i < frames.Count() && version < gv89a; ++i)
        version = std::max(version, frames[i].RequiredVersion());
    return version;
}

int TGIFImage::HighestBitsPerPixel() const {
    int bits = header_.ColorMap().BitsPerPixel();
    for (int i = 0; i < images_.Count(); ++i)
        bits = std::max(bits, images_[i].ColorMap().BitsPerPixel());
    return bits;
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

// ---------------------------------------------------------------- frame

TGIFVersion TGIFSubImage::RequiredVersion() const {
    if (colorMap_.Optimized && colorMap_.Count() > 0) return gv89a;
    return extensions_.Count() > 0 ? gv89a : gv87a;
}

void TGIFSubImage::Save(TStream& stream) {
    extensions_.Save(stream);
    if (Empty()) return;

    TGIFImage& image = Image();
    TGIFColorMap& global = image.GlobalColorMap();
    int bits;
    int colorCount;
    if (colorMap_.Count() > 0) {
        // A frame with its own table is written in plain row order.
        descriptor_.PackedFields = static_cast<uint8_t>(0x80 | (colorMap_.Optimized ? 0x20 : 0) |
                                                        (colorMap_.BitsPerPixel() - 1));
        bits = colorMap_.BitsPerPixel();
        colorCount = colorMap_.Count();
    } else {
        descriptor_.PackedFields &= 0x58;  // interlaced and the two reserved bits
        bits = image.HighestBitsPerPixel();
        // Pixels may use the global table as written (padded to a power of 2),
        // and no more: a decoder looks colours up in the table it has.
        colorCount = global.Count() > 0 ? 1 << global.BitsPerPixel() : 1 << bits;
    }

    TByteWriter fields;
    fields.U8(GIFImageSeparator)
        .U16(descriptor_.Left)
        .U16(descriptor_.Top)
        .U16(descriptor_.Width)
        .U16(descriptor_.Height)
        .U8(descriptor_.PackedFields);
    WriteRecord(stream, fields);
    if (colorMap_.Count() > 0) colorMap_.SaveColors(stream);

    TLZWEncoder lzw;
    TRLEEncoder rle;
    TGIFEncoder& encoder = image.Compression == 1 ? static_cast<TGIFEncoder&>(rle) : lzw;
    EncodeFrameData(encoder, stream, bits, colorCount, data_.get(), Interlaced(), Height(), Width());
}

// ---------------------------------------------------------------- image

void TGIFImage::SaveToStream(TStream& stream) {
    TGIFProgressScope progress(*this, GIFText::Saving);
    header_.Save(stream);
    const int count = images_.Count();
    for (int i = 0; i < count; ++i) {
        images_[i].Save(stream);
        Progress(gpsRunning, (i + 1) * 100 / count, GIFText::Saving);
    }
    WriteByte(stream, GIFTrailer);
}

}  // namespace tamberlit
