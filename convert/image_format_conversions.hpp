#pragma once
// The one place that knows which codec handles which file: the image kind from
// a path's ending, loading any supported file into a bitmap, and saving a
// bitmap under a target name.

#include <cstdint>
#include <string>

#include "convert/gif_target.hpp"
#include "image/bitmap.hpp"

namespace tamberlit {

enum TImageKind : uint8_t { ikUnknown, ikBMP, ikTGA, ikJPEG, ikPNG, ikGIF };

// Tests the path's ending against ".bmp", ".tga", ".png", ".dat", ".gif",
// ".jpg", ".jpeg", ".jfif", ".jpe", ".jif" in that order, ignoring letter case.
TImageKind GetImageKind(const std::string& path);

// True when bitmap now holds the file's image, brought to Px24 unless it is
// Px32. The reader keeps to the bitmap's decoded-size limit (bitmap.Limits); *rowsPresent, when given, receives what
// the file held of the picture's rows (fewer than all for a file cut short after half of them). A decoding failure (the
// file's format, its data, its size, a file that cannot be read or that holds less than half of its picture) leaves the
// bitmap empty and returns false; its text goes to *failure when that is given. Every other error (out of memory, a
// fault of ours) passes to the caller, as do errors after decoding.
bool LoadImageFile(const std::string& path, TBitmap& bitmap, std::string* failure = nullptr,
                   TRowsPresent* rowsPresent = nullptr);

// The size of the picture a file's header declares, read without decoding a
// pixel: for a GIF the larger of its screen and its first frame. 0 x 0 when
// the header cannot be read (the file is no picture of a known kind).
struct TDeclaredSize {
    int64_t Width = 0;
    int64_t Height = 0;
};
TDeclaredSize ReadDeclaredSize(const std::string& path);

enum class TSaveResult {
    Written,     // the target now holds the bitmap
    Unwritable,  // an existing target we may not replace: left as it was
    NoWriter,    // a kind without a writer: nothing written, nothing changed
};

// Writes bitmap to path with the writer of the path's kind. The target is
// replaced atomically: a failure leaves the previous file as it was, and the
// writer's error passes to the caller. A GIF is written with the palette
// settings gif; the other writers keep every colour.
TSaveResult SaveImageFile(TBitmap& bitmap, const std::string& path, const TGIFSettings& gif = {});

}  // namespace tamberlit
