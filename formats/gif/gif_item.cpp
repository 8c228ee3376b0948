#include "formats/gif/gif_item.hpp"

#include "formats/gif/gif_image.hpp"

namespace tamberlit {

void TGIFItem::ReportWarning(TGIFSeverity severity, const std::string& message) {
    Image().ReportWarning(this, severity, message);
}

void TGIFItem::LoadFromStream(TStream& stream) {
    TGIFReader reader(stream);
    Load(reader);
    reader.Commit();
}

void TGIFItem::LoadFile(const std::string& path) {
    TFileStream stream(path);
    LoadFromStream(stream);
}

void TGIFItem::SaveFile(const std::string& path) {
    SaveFileAtomically(path, [this](TStream& stream) { Save(stream); });
}

}  // namespace tamberlit
