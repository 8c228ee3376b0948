#pragma once
// The lenient BMP loader that stands in for the platform's image loader: it
// reads what the strict reader refuses (header variants, run-length data,
// honouring the pixel offset) and yields a device-dependent image.

#include <string>

#include "image/dib.hpp"
#include "image/limits.hpp"
#include "image/stream.hpp"

namespace tamberlit {

// Raises an error when the file cannot be read as a BMP at all, and
// EInvalidGraphic "cut short: ..." when it holds less than half of its rows.
// *rowsPresent, when given, receives what the file held of them.
HBITMAP LoadBitmapFileLeniently(const std::string& path, TRowsPresent* rowsPresent = nullptr,
                                const TSizeLimits& limits = {});
// The same for BMP data that begins at position 0 of a stream and ends with it.
HBITMAP LoadBitmapLeniently(TStream& stream, TRowsPresent* rowsPresent = nullptr, const TSizeLimits& limits = {});

}  // namespace tamberlit
