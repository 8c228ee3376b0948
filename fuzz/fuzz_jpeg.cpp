// JPEG data through TJPEGImage: the header when loading, the pixels when the
// picture is assigned to a bitmap (libjpeg underneath).

#include "fuzz/fuzz_support.hpp"
#include "image/exceptions.hpp"
#include "formats/jpeg/jpeg_image.hpp"

using namespace tamberlit;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        TMemoryViewStream stream(data, size);
        TJPEGImage image;
        image.Limits = fuzz::Limits;
        image.LoadFromStream(stream);
        TBitmap bitmap;
        bitmap.CopyFrom(&image);
        fuzz::WalkPixels(bitmap);
        if (!bitmap.Empty()) {
            fuzz::Check(bitmap.Width() == image.Width() && bitmap.Height() == image.Height(),
                        "the decoded JPEG picture differs in size from its header");
            if (bitmap.PixelFormat() != Px32) bitmap.SetPixelFormat(Px24);
            fuzz::WalkPixels(bitmap);
        }
    } catch (const Exception&) {
    }
    return 0;
}
