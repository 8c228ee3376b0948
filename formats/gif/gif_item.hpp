#pragma once
// TGIFItem, what every part of a GIF file (the header, a frame, an extension
// block) is: it knows the image that owns it, reads itself from the stream and
// writes itself to one.

#include <cstdint>
#include <string>

#include "formats/gif/gif_errors.hpp"
#include "formats/gif/gif_reader.hpp"
#include "image/stream.hpp"

namespace tamberlit {

class TGIFImage;

// The bytes that open the blocks of a GIF stream.
inline constexpr uint8_t GIFExtensionIntroducer = 0x21;  // '!'
inline constexpr uint8_t GIFImageSeparator = 0x2C;       // ','
inline constexpr uint8_t GIFTrailer = 0x3B;              // ';'

// The GIF version an item needs when written: GIF87a unless it uses a feature
// GIF89a added (extension blocks, the sort flag of a local colour table).
enum TGIFVersion { gvUnknown = 0, gv87a = 1, gv89a = 2 };

// Any part of a GIF file; knows the image that owns it.
class TGIFItem {
public:
    explicit TGIFItem(TGIFImage& image) : image_(&image) {}
    virtual ~TGIFItem() = default;
    TGIFItem(const TGIFItem&) = delete;
    TGIFItem& operator=(const TGIFItem&) = delete;

    TGIFImage& Image() const { return *image_; }

    // Forwards to the image's ReportWarning with this item as the sender.
    virtual void ReportWarning(TGIFSeverity severity, const std::string& message);

    // Reads the item from the stream's position and leaves the stream after it.
    void LoadFromStream(TStream& stream);
    void LoadFile(const std::string& path);
    virtual void Load(TGIFReader& reader) = 0;

    virtual TGIFVersion RequiredVersion() const { return gv87a; }
    // Writes the item at the stream's position.
    void SaveToStream(TStream& stream) { Save(stream); }
    // Writes the item alone to a file, replacing it only once all is written.
    void SaveFile(const std::string& path);
    virtual void Save(TStream& stream) = 0;

private:
    TGIFImage* image_;
};

}  // namespace tamberlit
