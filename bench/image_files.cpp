#include "bench/image_files.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>
#ifdef TAMBERLIT_BENCH_GIFLIB
#include <gif_lib.h>
#endif

namespace tamberlit::bench {

namespace {

[[noreturn]] void Fail(const std::string& text) { throw std::runtime_error(text); }

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
void Put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

void CheckSize(uint64_t width, uint64_t height) {
    if (width == 0 || height == 0 || width > 65535 || height > 65535 || width * height > (uint64_t{1} << 28))
        Fail("image size out of range");
}

TRawImage NewImage(uint32_t width, uint32_t height) {
    CheckSize(width, height);
    TRawImage image;
    image.Width = width;
    image.Height = height;
    image.Channels = 4;
    image.Pixels.assign(size_t{width} * height * 4, 255);
    return image;
}

// ---- PNG (the W3C PNG standard; libpng's manual for the transformations)

struct TPngReadSource {
    const std::vector<uint8_t>* Bytes;
    size_t Position;
};

void ReadFromMemory(png_structp png, png_bytep data, png_size_t length) {
    auto* source = static_cast<TPngReadSource*>(png_get_io_ptr(png));
    if (source->Bytes->size() - source->Position < length) png_error(png, "truncated");
    std::memcpy(data, source->Bytes->data() + source->Position, length);
    source->Position += length;
}

// The caller owns every C++ object the decode fills, so a longjmp skips no
// destructor.
bool DecodePng(const std::vector<uint8_t>& bytes, TDecoded& result, std::vector<png_bytep>& rows, std::string& error) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        error = "out of memory";
        return false;
    }
    TPngReadSource source{&bytes, 0};
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = "PNG decoding failed";
        return false;
    }
    png_set_read_fn(png, &source, ReadFromMemory);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const int colourType = png_get_color_type(png, info);
    result.HasAlpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    // Exact samples, no gamma: what a converter must carry is the stored bytes.
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t{width} * 4) png_error(png, "unexpected row size");
    if (width == 0 || height == 0 || width > 65535 || height > 65535) png_error(png, "size");
    result.Image.Width = width;
    result.Image.Height = height;
    result.Image.Channels = 4;
    result.Image.Pixels.resize(size_t{width} * height * 4);
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = result.Image.Row(y);
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    result.Kind = "PNG";
    return true;
}

void PngWriteToVector(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void PngFlushNothing(png_structp) {}

bool EncodePng(const TRawImage& image, const std::vector<png_bytep>& rows, std::vector<uint8_t>& out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, PngWriteToVector, PngFlushNothing);
    png_set_IHDR(png, info, image.Width, image.Height, 8,
                 image.Channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, const_cast<png_bytepp>(rows.data()));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

// ---- TGA (the Truevision TGA 2.0 file format)

TDecoded DecodeTga(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 18) Fail("TGA: short header");
    const uint8_t* h = bytes.data();
    const unsigned type = h[2], depth = h[16], descriptor = h[17];
    if ((type != 2 && type != 10) || (depth != 24 && depth != 32) || h[1] != 0) Fail("TGA: unsupported kind");
    const uint32_t width = Le16(h + 12), height = Le16(h + 14);
    TDecoded result;
    result.Kind = "TGA";
    result.Image = NewImage(width, height);
    result.HasAlpha = depth == 32 && (descriptor & 0x0F) != 0;
    const unsigned bpp = depth / 8;
    size_t at = 18 + size_t{h[0]};
    const bool topDown = (descriptor & 0x20) != 0, rightToLeft = (descriptor & 0x10) != 0;
    std::vector<uint8_t> row(size_t{width} * bpp);
    // RLE packets may run on into the next row (allowed by version 1 files).
    unsigned runLeft = 0, rawLeft = 0;
    const uint8_t* runPixel = nullptr;
    for (uint32_t fileRow = 0; fileRow < height; ++fileRow) {
        if (type == 2) {
            if (bytes.size() - at < row.size()) Fail("TGA: truncated");
            std::memcpy(row.data(), bytes.data() + at, row.size());
            at += row.size();
        } else {
            for (uint32_t x = 0; x < width; ++x) {
                if (runLeft == 0 && rawLeft == 0) {
                    if (at >= bytes.size()) Fail("TGA: truncated");
                    const uint8_t packet = bytes[at++];
                    const unsigned count = (packet & 0x7F) + 1u;
                    if (packet & 0x80) {
                        if (bytes.size() - at < bpp) Fail("TGA: truncated");
                        runPixel = bytes.data() + at;
                        at += bpp;
                        runLeft = count;
                    } else {
                        rawLeft = count;
                    }
                }
                const uint8_t* pixel;
                if (runLeft) {
                    pixel = runPixel;
                    --runLeft;
                } else {
                    if (bytes.size() - at < bpp) Fail("TGA: truncated");
                    pixel = bytes.data() + at;
                    at += bpp;
                    --rawLeft;
                }
                std::memcpy(row.data() + size_t{x} * bpp, pixel, bpp);
            }
        }
        const uint32_t y = topDown ? fileRow : height - 1 - fileRow;
        uint8_t* out = result.Image.Row(y);
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* in = row.data() + size_t{rightToLeft ? width - 1 - x : x} * bpp;
            out[4 * x + 0] = in[2];
            out[4 * x + 1] = in[1];
            out[4 * x + 2] = in[0];
            out[4 * x + 3] = depth == 32 ? in[3] : 255;
        }
    }
    return result;
}

// ---- BMP (Microsoft's BITMAPINFOHEADER, BITMAPV4HEADER and BITMAPV5HEADER)

unsigned MaskShift(uint32_t mask) {
    unsigned shift = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}
uint8_t MaskedChannel(uint32_t value, uint32_t mask) {
    if (!mask) return 0;
    const unsigned shift = MaskShift(mask);
    const uint32_t field = (value & mask) >> shift, maximum = mask >> shift;
    return static_cast<uint8_t>((field * 255 + maximum / 2) / maximum);
}

TDecoded DecodeBmp(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') Fail("BMP: not a bitmap");
    const uint8_t* h = bytes.data() + 14;
    const uint32_t headerSize = Le32(h);
    if (headerSize < 40 || 14 + uint64_t{headerSize} > bytes.size()) Fail("BMP: unsupported header");
    const int32_t width = static_cast<int32_t>(Le32(h + 4));
    const int32_t rawHeight = static_cast<int32_t>(Le32(h + 8));
    const unsigned bitCount = Le16(h + 14);
    const uint32_t compression = Le32(h + 16);
    if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN) Fail("BMP: bad size");
    if ((bitCount != 24 && bitCount != 32) || (compression != 0 && compression != 3 && compression != 6))
        Fail("BMP: unsupported kind");
    const uint32_t height = static_cast<uint32_t>(rawHeight < 0 ? -rawHeight : rawHeight);
    uint32_t red = 0xFF0000, green = 0xFF00, blue = 0xFF, alpha = 0;
    bool masks = false;
    if (compression != 0) {
        // Masks sit in the header from V2 on, or just after a 40-byte header.
        const uint8_t* m = headerSize >= 52 ? h + 40 : bytes.data() + 54;
        if (m + 12 > bytes.data() + bytes.size()) Fail("BMP: truncated masks");
        red = Le32(m);
        green = Le32(m + 4);
        blue = Le32(m + 8);
        if ((headerSize >= 56 || compression == 6) && m + 16 <= bytes.data() + bytes.size()) alpha = Le32(m + 12);
        masks = true;
    } else if (bitCount == 32) {
        alpha = 0xFF000000u;  // the fourth byte of an uncompressed 32-bit pixel, as converters use it
    }
    TDecoded result;
    result.Kind = "BMP";
    result.Image = NewImage(static_cast<uint32_t>(width), height);
    result.HasAlpha = alpha != 0;
    const uint64_t stride = (uint64_t{static_cast<uint32_t>(width)} * bitCount + 31) / 32 * 4;
    const uint32_t offset = Le32(bytes.data() + 10);
    if (offset > bytes.size() || (bytes.size() - offset) / stride < height) Fail("BMP: truncated pixels");
    for (uint32_t fileRow = 0; fileRow < height; ++fileRow) {
        const uint8_t* in = bytes.data() + offset + fileRow * stride;
        uint8_t* out = result.Image.Row(rawHeight < 0 ? fileRow : height - 1 - fileRow);
        for (int32_t x = 0; x < width; ++x, out += 4) {
            if (bitCount == 24) {
                out[0] = in[3 * x + 2];
                out[1] = in[3 * x + 1];
                out[2] = in[3 * x];
                continue;
            }
            const uint32_t value = Le32(in + 4 * x);
            if (masks) {
                out[0] = MaskedChannel(value, red);
                out[1] = MaskedChannel(value, green);
                out[2] = MaskedChannel(value, blue);
            } else {
                out[0] = in[4 * x + 2];
                out[1] = in[4 * x + 1];
                out[2] = in[4 * x];
            }
            out[3] = alpha ? MaskedChannel(value, alpha) : 255;
        }
    }
    return result;
}

// ---- JPEG (libjpeg's own manual, libjpeg.txt)

struct TJpegError {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
};
void JpegErrorExit(j_common_ptr info) { std::longjmp(reinterpret_cast<TJpegError*>(info->err)->Jump, 1); }

bool DecodeJpeg(const std::vector<uint8_t>& bytes, TDecoded& result) {
    jpeg_decompress_struct info{};
    TJpegError error{};
    info.err = jpeg_std_error(&error.Manager);
    error.Manager.error_exit = JpegErrorExit;
    if (setjmp(error.Jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_RGBA;  // libjpeg-turbo: alpha filled with 255
    jpeg_start_decompress(&info);
    if (info.output_width == 0 || info.output_width > 65535 || info.output_height > 65535)
        ERREXIT(&info, JERR_IMAGE_TOO_BIG);
    result.Image.Width = info.output_width;
    result.Image.Height = info.output_height;
    result.Image.Channels = 4;
    result.Image.Pixels.resize(size_t{info.output_width} * info.output_height * 4);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = result.Image.Row(info.output_scanline);
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    result.Kind = "JPEG";
    result.HasAlpha = false;
    return true;
}

bool EncodeJpeg(const TRawImage& image, int quality, unsigned char** buffer, unsigned long* size) {
    jpeg_compress_struct info{};
    TJpegError error{};
    info.err = jpeg_std_error(&error.Manager);
    error.Manager.error_exit = JpegErrorExit;
    if (setjmp(error.Jump)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, buffer, size);
    info.image_width = image.Width;
    info.image_height = image.Height;
    info.input_components = static_cast<int>(image.Channels);
    info.in_color_space = image.Channels == 4 ? JCS_EXT_RGBX : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);  // baseline tables
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(image.Row(info.next_scanline));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

#ifdef TAMBERLIT_BENCH_GIFLIB
struct TGifSource {
    const std::vector<uint8_t>* Bytes;
    size_t Position;
};

int ReadGifBytes(GifFileType* gif, GifByteType* out, int count) {
    auto* source = static_cast<TGifSource*>(gif->UserData);
    const size_t take = std::min(static_cast<size_t>(count), source->Bytes->size() - source->Position);
    std::memcpy(out, source->Bytes->data() + source->Position, take);
    source->Position += take;
    return static_cast<int>(take);
}

// The first frame on the logical screen through giflib: the frame's colours,
// its transparent index as alpha 0 (and the rest of the screen transparent).
TDecoded DecodeGif(const std::vector<uint8_t>& bytes) {
    TGifSource source{&bytes, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&source, ReadGifBytes, &error);
    if (!gif) Fail(std::string("GIF: ") + GifErrorString(error));
    TDecoded result;
    std::string failure;
    if (DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1) {
        failure = std::string("GIF: ") + GifErrorString(gif->Error);
    } else if (!(gif->SavedImages[0].ImageDesc.ColorMap ? gif->SavedImages[0].ImageDesc.ColorMap : gif->SColorMap)) {
        failure = "GIF: no colour table";
    } else {
        const SavedImage& frame = gif->SavedImages[0];
        const GifImageDesc& place = frame.ImageDesc;
        const ColorMapObject* colors = place.ColorMap ? place.ColorMap : gif->SColorMap;
        GraphicsControlBlock control{};
        control.TransparentColor = NO_TRANSPARENT_COLOR;
        DGifSavedExtensionToGCB(gif, 0, &control);
        TRawImage& image = result.Image;
        image.Width = static_cast<uint32_t>(gif->SWidth);
        image.Height = static_cast<uint32_t>(gif->SHeight);
        image.Pixels.assign(size_t{image.Width} * image.Height * 4, 0);
        for (int y = 0; y < place.Height; ++y)
            for (int x = 0; x < place.Width; ++x) {
                const uint32_t ox = static_cast<uint32_t>(place.Left + x), oy = static_cast<uint32_t>(place.Top + y);
                if (ox >= image.Width || oy >= image.Height) continue;
                const int index = frame.RasterBits[size_t(y) * size_t(place.Width) + size_t(x)];
                if (index == control.TransparentColor || index >= colors->ColorCount) continue;
                uint8_t* out = image.Row(oy) + 4 * ox;
                out[0] = colors->Colors[index].Red;
                out[1] = colors->Colors[index].Green;
                out[2] = colors->Colors[index].Blue;
                out[3] = 255;
            }
        result.HasAlpha = control.TransparentColor != NO_TRANSPARENT_COLOR;
        result.Kind = "GIF";
    }
    DGifCloseFile(gif, &error);
    if (!failure.empty()) Fail(failure);
    return result;
}
#endif

}  // namespace

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) Fail("cannot open " + path);
    std::vector<uint8_t> bytes;
    uint8_t block[1 << 16];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.insert(bytes.end(), block, block + got);
    std::fclose(file);
    return bytes;
}

void WriteWholeFile(const std::string& path, const uint8_t* data, size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) Fail("cannot create " + path);
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written <= 0) {
            ::close(fd);
            Fail("cannot write " + path);
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    if (::close(fd) != 0) Fail("cannot write " + path);
}

TDecoded ReadImageFile(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadWholeFile(path);
    TDecoded result;
    std::string error;
    std::vector<png_bytep> rows;
    if (bytes.size() >= 8 && png_sig_cmp(bytes.data(), 0, 8) == 0) {
        if (!DecodePng(bytes, result, rows, error)) Fail(path + ": " + error);
        return result;
    }
    if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) {
        if (!DecodeJpeg(bytes, result)) Fail(path + ": JPEG decoding failed");
        return result;
    }
    try {
#ifdef TAMBERLIT_BENCH_GIFLIB
        if (bytes.size() >= 6 && std::memcmp(bytes.data(), "GIF8", 4) == 0) return DecodeGif(bytes);
#endif
        if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return DecodeBmp(bytes);
        return DecodeTga(bytes);
    } catch (const std::runtime_error& failure) {
        Fail(path + ": " + failure.what());
    }
}

void WritePngFile(const std::string& path, const TRawImage& image) {
    std::vector<png_bytep> rows(image.Height);
    for (uint32_t y = 0; y < image.Height; ++y) rows[y] = const_cast<uint8_t*>(image.Row(y));
    std::vector<uint8_t> out;
    if (!EncodePng(image, rows, out)) Fail(path + ": PNG encoding failed");
    WriteWholeFile(path, out.data(), out.size());
}

void WriteTgaFile(const std::string& path, const TRawImage& image, TTgaCompression compression) {
    const unsigned bpp = image.Channels;
    std::vector<uint8_t> out{0, 0, static_cast<uint8_t>(compression == TTgaCompression::Rle ? 10 : 2), 0, 0, 0, 0, 0};
    Put16(out, 0);  // X origin
    Put16(out, 0);  // Y origin
    Put16(out, image.Width);
    Put16(out, image.Height);
    out.push_back(static_cast<uint8_t>(bpp * 8));
    out.push_back(bpp == 4 ? 0x08 : 0x00);  // alpha bits; origin bottom left
    std::vector<uint8_t> row(size_t{image.Width} * bpp);
    for (uint32_t fileRow = 0; fileRow < image.Height; ++fileRow) {
        const uint8_t* in = image.Row(image.Height - 1 - fileRow);
        for (uint32_t x = 0; x < image.Width; ++x) {
            row[bpp * x] = in[bpp * x + 2];
            row[bpp * x + 1] = in[bpp * x + 1];
            row[bpp * x + 2] = in[bpp * x];
            if (bpp == 4) row[bpp * x + 3] = in[bpp * x + 3];
        }
        if (compression == TTgaCompression::None) {
            out.insert(out.end(), row.begin(), row.end());
            continue;
        }
        // Packets never cross a row, as the 2.0 document asks of writers.
        uint32_t x = 0;
        auto same = [&](uint32_t a, uint32_t b) { return std::memcmp(&row[a * bpp], &row[b * bpp], bpp) == 0; };
        while (x < image.Width) {
            uint32_t run = 1;
            while (x + run < image.Width && run < 128 && same(x, x + run)) ++run;
            if (run >= 2) {
                out.push_back(static_cast<uint8_t>(0x80 | (run - 1)));
                out.insert(out.end(), row.begin() + x * bpp, row.begin() + (x + 1) * bpp);
                x += run;
                continue;
            }
            uint32_t raw = 1;
            while (x + raw < image.Width && raw < 128 && !(x + raw + 1 < image.Width && same(x + raw, x + raw + 1)))
                ++raw;
            out.push_back(static_cast<uint8_t>(raw - 1));
            out.insert(out.end(), row.begin() + x * bpp, row.begin() + (x + raw) * bpp);
            x += raw;
        }
    }
    WriteWholeFile(path, out.data(), out.size());
}

void WriteBmpFile(const std::string& path, const TRawImage& image) {
    const unsigned bpp = image.Channels;
    const uint32_t stride = (image.Width * bpp + 3) / 4 * 4;
    const uint32_t pixelBytes = stride * image.Height;
    std::vector<uint8_t> out{'B', 'M'};
    out.reserve(54 + size_t{pixelBytes});
    Put32(out, 54 + pixelBytes);  // file size
    Put32(out, 0);                // reserved
    Put32(out, 54);               // pixel offset
    Put32(out, 40);               // BITMAPINFOHEADER
    Put32(out, image.Width);
    Put32(out, image.Height);  // positive: bottom row first
    Put16(out, 1);             // planes
    Put16(out, bpp * 8);
    Put32(out, 0);  // BI_RGB
    Put32(out, pixelBytes);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    for (uint32_t fileRow = 0; fileRow < image.Height; ++fileRow) {
        const uint8_t* in = image.Row(image.Height - 1 - fileRow);
        for (uint32_t x = 0; x < image.Width; ++x) {
            out.push_back(in[bpp * x + 2]);
            out.push_back(in[bpp * x + 1]);
            out.push_back(in[bpp * x]);
            if (bpp == 4) out.push_back(in[bpp * x + 3]);
        }
        out.resize(out.size() + (stride - image.Width * bpp), 0);
    }
    WriteWholeFile(path, out.data(), out.size());
}

void WriteJpegFile(const std::string& path, const TRawImage& image, int quality) {
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const bool done = EncodeJpeg(image, quality, &buffer, &size);
    if (done) {
        try {
            WriteWholeFile(path, buffer, size);
        } catch (...) {
            std::free(buffer);
            throw;
        }
    }
    std::free(buffer);
    if (!done) Fail(path + ": JPEG encoding failed");
}

}  // namespace tamberlit::bench
