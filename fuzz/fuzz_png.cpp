// PNG data through ReadPngImage (libpng underneath): the result is Px24 or
// Px32, or the data are refused with a message.

#include "formats/png/png_reader.hpp"
#include "fuzz/fuzz_support.hpp"
#include "image/exceptions.hpp"

using namespace tamberlit;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        TMemoryViewStream stream(data, size);
        TBitmap bitmap;
        bitmap.Limits = fuzz::Limits;
        ReadPngImage(stream, bitmap);
        fuzz::WalkPixels(bitmap);
        fuzz::Check(bitmap.Empty() || bitmap.PixelFormat() == Px24 || bitmap.PixelFormat() == Px32,
                    "the PNG reader made a format other than Px24 and Px32");
    } catch (const Exception&) {
    }
    return 0;
}
