#include "image/bitmap.hpp"
#include "image/exceptions.hpp"

namespace tamberlit {

// BMP reading and writing: placeholder until the codec lands.
void TBitmap::ReadBMP(TStream&) { throw EInvalidGraphic("Bitmap image is not valid"); }
void TBitmap::WriteBMP(TStream&) { throw EInvalidGraphic("BMP writing is not available"); }

}  // namespace tamberlit

#include "image/bmp_fallback.hpp"

namespace tamberlit {
HBITMAP LoadBitmapFileLeniently(const std::string&) { throw EInvalidGraphic("Bitmap image is not valid"); }
}  // namespace tamberlit
