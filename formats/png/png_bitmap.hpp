#pragma once
// TPNGBitmap: a bitmap that loads and saves PNG files (through libpng).

#include <string>

#include "image/bitmap.hpp"

namespace tamberlit {

class TPNGBitmap : public TBitmap {
public:
    const char* ClassName() const override { return "TPNGBitmap"; }

    // Replaces the picture with the PNG file's (see ReadPngImage). Raises
    // EFOpenError "Error Opening File <path>!" when the file cannot be opened
    // (missing, a folder, not a regular file, no permission) and
    // EInvalidGraphic "Error Reading File!" when its data cannot be decoded.
    void LoadFile(const std::string& path) override;
    // Writes the picture as a PNG file (see WritePngImage) that replaces the
    // file atomically. Raises EFCreateError "Error Opening File <path>!" when
    // the file cannot be created and EWriteError "Error Writing PNG File!" when
    // writing fails; the previous file then stays as it was.
    void SaveFile(const std::string& path) override;
};

}  // namespace tamberlit
