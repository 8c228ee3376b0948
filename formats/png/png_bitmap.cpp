#include "formats/png/png_bitmap.hpp"

#include <memory>
#include <optional>

#include "formats/png/png_reader.hpp"
#include "formats/png/png_writer.hpp"
#include "image/exceptions.hpp"
#include "image/picture_registry.hpp"

namespace tamberlit {

namespace {

std::string OpeningErrorText(const std::string& path) { return "Error Opening File " + path + "!"; }

TPictureFormatRegistration registration({"PNG"}, "PNG-Format", "TPNGBitmap",
                                        [] { return std::make_unique<TPNGBitmap>(); });

}  // namespace

void TPNGBitmap::LoadFile(const std::string& path) {
    std::optional<TFileStream> file;
    try {
        file.emplace(path);
    } catch (const EStreamError&) {
        // The PNG codec names the file with its own message; the system's
        // reason is not part of it.
        throw EFOpenError(OpeningErrorText(path));
    }
    ReadPngImage(*file, *this);
}

void TPNGBitmap::SaveFile(const std::string& path) {
    // As in loading, the codec's own messages without the system's reason. A
    // failed flush or rename is a failed write of this file; the old file is
    // still in place.
    SaveFileAtomically(path, [this](TStream& stream) { WritePngImage(*this, stream); },
                       {OpeningErrorText(path), "Error Writing PNG File!"});
}

}  // namespace tamberlit
