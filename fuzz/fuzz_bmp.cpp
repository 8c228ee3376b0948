// BMP data through the strict reader (TBitmap::LoadFromStream) and, as the
// dispatcher does when that refuses it, through the lenient loader; each
// picture is then brought to the converter's Px24 or Px32.

#include "fuzz/fuzz_support.hpp"
#include "image/bmp_fallback.hpp"
#include "image/exceptions.hpp"

using namespace tamberlit;

namespace {

void BringToConversionFormat(TBitmap& bitmap) {
    fuzz::WalkPixels(bitmap);
    if (bitmap.Empty()) return;
    if (bitmap.PixelFormat() != Px32) bitmap.SetPixelFormat(Px24);
    fuzz::WalkPixels(bitmap);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        TMemoryViewStream stream(data, size);
        TBitmap bitmap;
        bitmap.Limits = fuzz::Limits;
        bitmap.LoadFromStream(stream);
        BringToConversionFormat(bitmap);
    } catch (const Exception&) {
        // Refused with a message: what a reader must do with bad data.
    }
    try {
        TMemoryViewStream stream(data, size);
        TBitmap bitmap;
        bitmap.SetHandle(LoadBitmapLeniently(stream, nullptr, fuzz::Limits));
        BringToConversionFormat(bitmap);
    } catch (const Exception&) {
    }
    return 0;
}
