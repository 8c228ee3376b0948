// TTGABitmap and its place in the picture-format registry.

#include <memory>

#include "formats/tga/tga_file.hpp"
#include "image/picture_registry.hpp"

namespace tamberlit {

void TTGABitmap::LoadFromStream(TStream& stream) {
    TTGAFile file;
    file.Bitmap.Limits = Limits;
    file.LoadFromStream(stream);
    // Take over the decoded pixel store (shared, then ours alone once file
    // goes): no copy of the pixels. Like a bitmap loading BMP data, this
    // keeps its own transparency settings.
    const bool transparent = Transparent;
    const TColor transparentColor = TransparentColor;
    CopyFrom(file.Bitmap.Empty() ? nullptr : &file.Bitmap);
    Transparent = transparent;
    TransparentColor = transparentColor;
    rowsPresent_ = file.RowsPresent;
}

namespace {

const TPictureFormatRegistration registration({"TGA"}, "TGA-Format", "TTGABitmap",
                                              [] { return std::make_unique<TTGABitmap>(); });

}  // namespace

}  // namespace tamberlit
