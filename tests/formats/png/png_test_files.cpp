#include "tests/formats/png/png_test_files.hpp"

#include <zlib.h>

#include <csetjmp>
#include <cstring>
#include <stdexcept>

namespace tamberlit::testing {

namespace {

struct TEncodeJob {
    const TPngLayout* Layout;
    std::vector<uint8_t>* Output;
    png_bytepp Rows;
    png_text* Texts;
    bool OutOfMemory = false;
};

void AppendBytes(png_structp png, png_bytep data, size_t length) {
    auto* job = static_cast<TEncodeJob*>(png_get_io_ptr(png));
    try {
        job->Output->insert(job->Output->end(), data, data + length);
    } catch (...) {
        job->OutOfMemory = true;
    }
    if (job->OutOfMemory) png_error(png, "out of memory");
}

void NoFlush(png_structp) {}

// Plain data in this frame only: libpng may jump back to the setjmp.
bool EncodeSection(png_structp png, png_infop info, TEncodeJob* job) {
    if (setjmp(png_jmpbuf(png))) return false;
    const TPngLayout& layout = *job->Layout;
    png_set_write_fn(png, job, AppendBytes, NoFlush);
    png_set_IHDR(png, info, layout.Width, layout.Height, layout.BitDepth, layout.ColorType,
                 layout.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!layout.Palette.empty())
        png_set_PLTE(png, info, layout.Palette.data(), static_cast<int>(layout.Palette.size()));
    if (!layout.PaletteAlpha.empty())
        png_set_tRNS(png, info, layout.PaletteAlpha.data(), static_cast<int>(layout.PaletteAlpha.size()), nullptr);
    if (layout.TransparentColor) png_set_tRNS(png, info, nullptr, 0, &*layout.TransparentColor);
    const size_t texts = layout.Text.size() + layout.ZText.size();
    if (texts > 0) png_set_text(png, info, job->Texts, static_cast<int>(texts));
    png_write_info(png, info);
    if (layout.Interlaced) png_set_interlace_handling(png);
    png_write_image(png, job->Rows);
    png_write_end(png, info);
    return true;
}

struct TDecodeJob {
    const std::vector<uint8_t>* Input;
    size_t Position = 0;
    TDecodedPng* Result;
    png_bytepp Rows = nullptr;
};

void TakeBytes(png_structp png, png_bytep data, size_t length) {
    auto* job = static_cast<TDecodeJob*>(png_get_io_ptr(png));
    if (job->Input->size() - job->Position < length) png_error(png, "end of data");
    std::memcpy(data, job->Input->data() + job->Position, length);
    job->Position += length;
}

bool DecodeHeaderSection(png_structp png, png_infop info, TDecodeJob* job) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_read_fn(png, job, TakeBytes);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, color = 0, interlace = 0, compression = 0, filter = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &color, &interlace, &compression, &filter);
    job->Result->Width = width;
    job->Result->Height = height;
    job->Result->BitDepth = depth;
    job->Result->ColorType = color;
    job->Result->Interlace = interlace;
    job->Result->Compression = compression;
    job->Result->Filter = filter;
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return true;
}

bool DecodeRowsSection(png_structp png, png_infop info, TDecodeJob* job) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, job->Rows);
    png_read_end(png, info);
    return true;
}

}  // namespace

int TPngLayout::Channels() const {
    switch (ColorType) {
        case PNG_COLOR_TYPE_GRAY: return 1;
        case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
        case PNG_COLOR_TYPE_RGB: return 3;
        case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
        default: return 1;
    }
}

size_t TPngLayout::RowBytes() const { return (size_t{Width} * Channels() * BitDepth + 7) / 8; }

std::vector<uint8_t> EncodePng(const TPngLayout& layout) {
    if (layout.Pixels.size() != layout.RowBytes() * layout.Height)
        throw std::logic_error("EncodePng: wrong pixel count");
    std::vector<png_bytep> rows(layout.Height);
    for (uint32_t y = 0; y < layout.Height; ++y)
        rows[y] = const_cast<png_bytep>(layout.Pixels.data() + y * layout.RowBytes());
    std::vector<png_text> texts;
    auto addText = [&texts](const std::pair<std::string, std::string>& entry, int compression) {
        png_text text{};
        text.compression = compression;
        text.key = const_cast<char*>(entry.first.c_str());
        text.text = const_cast<char*>(entry.second.c_str());
        text.text_length = entry.second.size();
        texts.push_back(text);
    };
    for (const auto& entry : layout.Text) addText(entry, PNG_TEXT_COMPRESSION_NONE);
    for (const auto& entry : layout.ZText) addText(entry, PNG_TEXT_COMPRESSION_zTXt);
    std::vector<uint8_t> output;
    TEncodeJob job{&layout, &output, rows.data(), texts.data()};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) throw std::runtime_error("EncodePng: no write state");
    png_infop info = png_create_info_struct(png);
    const bool ok = info && EncodeSection(png, info, &job);
    png_destroy_write_struct(&png, &info);
    if (!ok) throw std::runtime_error("EncodePng: libpng refused the picture");
    return output;
}

TDecodedPng DecodePng(const std::vector<uint8_t>& bytes) {
    TDecodedPng result;
    TDecodeJob job{&bytes, 0, &result};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) throw std::runtime_error("DecodePng: no read state");
    png_infop info = png_create_info_struct(png);
    bool ok = info && DecodeHeaderSection(png, info, &job);
    std::vector<png_bytep> rows;
    if (ok) {
        const size_t rowBytes = png_get_rowbytes(png, info);
        result.Pixels.resize(rowBytes * result.Height);
        for (uint32_t y = 0; y < result.Height; ++y) rows.push_back(result.Pixels.data() + y * rowBytes);
        job.Rows = rows.data();
        ok = DecodeRowsSection(png, info, &job);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok) throw std::runtime_error("DecodePng: libpng refused the data");
    return result;
}

std::vector<TPngChunk> ListChunks(const std::vector<uint8_t>& bytes) {
    std::vector<TPngChunk> chunks;
    size_t at = 8;
    while (at + 12 <= bytes.size()) {
        const uint32_t length =
            uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 | uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
        if (at + 12 + length > bytes.size()) break;
        TPngChunk chunk;
        chunk.Type.assign(reinterpret_cast<const char*>(bytes.data() + at + 4), 4);
        chunk.Data.assign(bytes.begin() + static_cast<long>(at + 8),
                          bytes.begin() + static_cast<long>(at + 8 + length));
        chunks.push_back(std::move(chunk));
        at += 12 + length;
    }
    return chunks;
}

std::vector<uint8_t> MakeChunk(const std::string& type, const std::vector<uint8_t>& data) {
    const auto length = static_cast<uint32_t>(data.size());
    std::vector<uint8_t> chunk(8 + data.size());
    for (int i = 0; i < 4; ++i) chunk[i] = static_cast<uint8_t>(length >> (24 - 8 * i));
    for (size_t i = 0; i < 4 && i < type.size(); ++i) chunk[4 + i] = static_cast<uint8_t>(type[i]);
    std::copy(data.begin(), data.end(), chunk.begin() + 8);
    const uLong crc = crc32(crc32(0, nullptr, 0), chunk.data() + 4, static_cast<uInt>(chunk.size() - 4));
    for (int shift = 24; shift >= 0; shift -= 8) chunk.push_back(static_cast<uint8_t>(crc >> shift));
    return chunk;
}

std::vector<uint8_t> InsertAfterHeader(const std::vector<uint8_t>& file, const std::vector<uint8_t>& chunk) {
    // Signature (8) + IHDR (4 + 4 + 13 + 4).
    constexpr size_t at = 33;
    std::vector<uint8_t> result(file.size() + chunk.size());
    std::copy(file.begin(), file.begin() + at, result.begin());
    std::copy(chunk.begin(), chunk.end(), result.begin() + at);
    std::copy(file.begin() + at, file.end(), result.begin() + at + static_cast<ptrdiff_t>(chunk.size()));
    return result;
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> packed(size);
    if (compress2(packed.data(), &size, data.data(), static_cast<uLong>(data.size()), 9) != Z_OK)
        throw std::runtime_error("Deflate failed");
    packed.resize(size);
    return packed;
}

}  // namespace tamberlit::testing
