// GIF data through TGIFImage::LoadFromStream (header, extensions, frames), then
// the picture of the first frame as the dispatcher takes it: the frames read
// before an error stay and are rendered too.

#include "formats/gif/gif_image.hpp"
#include "fuzz/fuzz_support.hpp"
#include "image/exceptions.hpp"

using namespace tamberlit;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryViewStream stream(data, size);
    TGIFImage image;
    image.Limits = fuzz::Limits;
    try {
        image.LoadFromStream(stream);
    } catch (const Exception&) {
    }
    try {
        TBitmap bitmap;
        bitmap.CopyFrom(&image);
        fuzz::WalkPixels(bitmap);
        if (!bitmap.Empty()) {
            if (bitmap.PixelFormat() != Px32) bitmap.SetPixelFormat(Px24);
            fuzz::WalkPixels(bitmap);
        }
    } catch (const Exception&) {
    }
    return 0;
}
