#include "formats/png/png_writer.hpp"

#include <csetjmp>
#include <vector>

#include "formats/png/png_library.hpp"
#include "image/exceptions.hpp"
#include "image/scope_guard.hpp"

namespace tamberlit {

namespace {

using namespace png_detail;

// Everything the libpng callbacks and the section touch: plain data only (see
// png_library.hpp).
struct TWriteContext {
    TStream* Stream = nullptr;
    TPngErrorRecord Error;
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    png_uint_32 Width = 0;
    png_uint_32 Height = 0;
    int ColorType = PNG_COLOR_TYPE_RGB;
    png_bytepp Rows = nullptr;
};

[[noreturn]] void RaiseWriteError() { throw EWriteError("Error Writing PNG File!"); }

// The stream's own error (disk full, ...) is dropped here: the writer reports
// "Error Writing PNG File!", and no exception may cross libpng's frames.
bool WriteStream(TWriteContext& context, const void* data, size_t length) noexcept {
    try {
        return context.Stream->Write(data, length) == length;
    } catch (...) {
        return false;
    }
}

void WriteData(png_structp png, png_bytep data, size_t length) {
    if (!WriteStream(*static_cast<TWriteContext*>(png_get_io_ptr(png)), data, length))
        png_error(png, "Cannot write PNG data");
}

// The caller flushes the stream when the whole file is written.
void FlushData(png_structp) {}

// Plain data only, setjmp first (see png_library.hpp).
bool WriteSection(TWriteContext& context) {
    if (setjmp(png_jmpbuf(context.Png))) return false;
    png_structp png = context.Png;
    png_infop info = context.Info;
    png_set_write_fn(png, &context, WriteData, FlushData);
    png_set_IHDR(png, info, context.Width, context.Height, 8, context.ColorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // png_write_info writes the signature, IHDR and this one tEXt chunk ahead
    // of the image data. libpng copies key and text; it never writes to them.
    png_text software{};
    software.compression = PNG_TEXT_COMPRESSION_NONE;
    software.key = const_cast<png_charp>("Software");
    software.text = const_cast<png_charp>("Quorrin Orvanel");
    png_set_text(png, info, &software, 1);
    png_write_info(png, info);
    // Our rows are B, G, R (, A); the file wants R, G, B (, A). libpng swaps
    // in its own copy of each row, so the bitmap is not touched.
    png_set_bgr(png);
    png_write_image(png, context.Rows);
    png_write_end(png, info);
    return true;
}

}  // namespace

void WritePngImage(TBitmap& bitmap, TStream& stream) {
    const bool alpha = bitmap.PixelFormat() == Px32;
    // Every format but Px32 and Px24 is written as the 24-bit colour the
    // bitmap model converts it to; a shared copy keeps the caller's bitmap as
    // it is.
    TBitmap converted;
    const TBitmap* source = &bitmap;
    if (!alpha && bitmap.PixelFormat() != Px24) {
        converted.CopyFrom(&bitmap);
        converted.SetPixelFormat(Px24);
        source = &converted;
    }

    const int height = source->Height();
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    // libpng only reads the rows it is given (it transforms a copy of each),
    // so the shared rows serve without a private copy of the image.
    for (int y = 0; y < height; ++y) rows[static_cast<size_t>(y)] = const_cast<png_bytep>(source->ConstRowAddress(y));

    TWriteContext context;
    context.Stream = &stream;
    context.Width = static_cast<png_uint_32>(source->Width());
    context.Height = static_cast<png_uint_32>(height);
    context.ColorType = alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
    context.Rows = rows.data();

    // Declaring the version we are compiled against: libpng refuses to create
    // its state for a version text it does not share its major and minor with.
    context.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &context.Error, RaisePngError, IgnorePngWarning);
    if (context.Png == nullptr) RaiseWriteError();
    TScopeGuard destroyState([&context] { png_destroy_write_struct(&context.Png, &context.Info); });
    context.Info = png_create_info_struct(context.Png);
    if (context.Info == nullptr) RaiseWriteError();
    if (!WriteSection(context)) RaiseWriteError();
}

}  // namespace tamberlit
