// TGA data through TTGABitmap::LoadFromStream, then brought to the
// converter's Px24 or Px32 as the dispatcher does.

#include "formats/tga/tga_file.hpp"
#include "fuzz/fuzz_support.hpp"
#include "image/exceptions.hpp"

using namespace tamberlit;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        TMemoryViewStream stream(data, size);
        TTGABitmap bitmap;
        bitmap.Limits = fuzz::Limits;
        bitmap.LoadFromStream(stream);
        fuzz::WalkPixels(bitmap);
        if (bitmap.Empty()) return 0;
        const TPixelFormat format = bitmap.PixelFormat();
        fuzz::Check(format == Px8 || format == Px24 || format == Px32, "the TGA reader made an unexpected format");
        if (format != Px32) bitmap.SetPixelFormat(Px24);
        fuzz::WalkPixels(bitmap);
    } catch (const Exception&) {
    }
    return 0;
}
