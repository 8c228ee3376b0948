// Any input through the dispatcher (LoadImageFile, which picks the reader by
// the file's ending: the input's signature decides the ending here, and data
// without one is taken as TGA), then written as TGA, PNG and BMP in memory and
// read back by our own readers: every byte of every pixel, alpha included,
// must come back as it went out.
//
// The dispatcher gives Px24 or Px32, and each writer keeps both exactly: TGA
// types 2 of 24 and 32 bits, PNG 8-bit RGB and RGBA, BMP of 24 and 32 bits.

#include <unistd.h>

#include <cstring>
#include <string>

#include "formats/png/png_reader.hpp"
#include "formats/png/png_writer.hpp"
#include "formats/tga/tga_file.hpp"
#include "fuzz/fuzz_support.hpp"
#include "image/exceptions.hpp"
#include "convert/image_format_conversions.hpp"

using namespace tamberlit;

namespace {

std::string folder;

void RemoveFolder() {
    for (const char* ending : {".bmp", ".png", ".gif", ".jpg", ".tga"}) ::unlink((folder + "/input" + ending).c_str());
    ::rmdir(folder.c_str());
}

const char* EndingFor(const uint8_t* data, size_t size) {
    auto starts = [&](const char* signature, size_t length) {
        return size >= length && std::memcmp(data, signature, length) == 0;
    };
    if (starts("BM", 2)) return ".bmp";
    if (starts("\x89PNG", 4)) return ".png";
    if (starts("GIF", 3)) return ".gif";
    if (starts("\xFF\xD8", 2)) return ".jpg";
    return ".tga";
}

void WriteInput(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) fuzz::Fail("cannot create the input file");
    if (size > 0 && std::fwrite(data, 1, size, file) != size) fuzz::Fail("cannot write the input file");
    std::fclose(file);
}

void ExpectSamePixels(const TBitmap& written, const TBitmap& read, const char* format) {
    char message[160];
    std::snprintf(message, sizeof message, "%s round trip: size or pixel format changed", format);
    fuzz::Check(read.Width() == written.Width() && read.Height() == written.Height() &&
                    read.PixelFormat() == written.PixelFormat(),
                message);
    const size_t bytes = fuzz::PixelBytesPerRow(written);
    for (int y = 0; y < written.Height(); ++y) {
        if (std::memcmp(written.ConstRowAddress(y), read.ConstRowAddress(y), bytes) != 0) {
            std::snprintf(message, sizeof message, "%s round trip: row %d of %dx%d %s differs", format, y,
                          written.Width(), written.Height(), written.PixelFormat() == Px32 ? "Px32" : "Px24");
            fuzz::Fail(message);
        }
    }
}

void RoundTripTGA(TBitmap& bitmap) {
    TMemoryStream stream;
    TTGAFile file;
    file.AssignBitmap(bitmap);
    file.SaveToStream(stream);
    stream.SetPosition(0);
    TTGABitmap read;
    read.LoadFromStream(stream);
    ExpectSamePixels(bitmap, read, "TGA");
}

void RoundTripPNG(TBitmap& bitmap) {
    TMemoryStream stream;
    WritePngImage(bitmap, stream);
    stream.SetPosition(0);
    TBitmap read;
    ReadPngImage(stream, read);
    ExpectSamePixels(bitmap, read, "PNG");
}

void RoundTripBMP(TBitmap& bitmap) {
    TMemoryStream stream;
    bitmap.SaveToStream(stream);
    stream.SetPosition(0);
    TBitmap read;
    read.LoadFromStream(stream);
    ExpectSamePixels(bitmap, read, "BMP");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* temporary = std::getenv("TMPDIR");
    std::string pattern = std::string(temporary && *temporary ? temporary : "/tmp") + "/tamberlit-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) fuzz::Fail("cannot make a temporary folder");
    folder = pattern;
    std::atexit(RemoveFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = folder + "/input" + EndingFor(data, size);
    WriteInput(path, data, size);
    TBitmap bitmap;
    bitmap.Limits = fuzz::Limits;
    std::string failure;
    bool loaded = false;
    try {
        loaded = LoadImageFile(path, bitmap, &failure);
    } catch (const Exception&) {
        // An error after decoding (rendering a GIF's frame): reported to the
        // batch driver, which goes on with the next file.
        return 0;
    }
    if (!loaded) {
        fuzz::Check(!failure.empty(), "a file that did not load gave no reason");
        return 0;
    }
    fuzz::WalkPixels(bitmap);
    fuzz::Check(bitmap.PixelFormat() == Px24 || bitmap.PixelFormat() == Px32,
                "the dispatcher gave a format other than Px24 and Px32");
    RoundTripTGA(bitmap);
    RoundTripPNG(bitmap);
    RoundTripBMP(bitmap);
    return 0;
}
