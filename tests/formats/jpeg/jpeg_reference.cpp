#include "tests/formats/jpeg/jpeg_reference.hpp"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

#include <jpeglib.h>

namespace tamberlit::testing {

namespace {

// The library leaves through longjmp on a fatal error; the frames between
// hold plain data only (as in the code under test).
struct TTestError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void TestErrorExit(j_common_ptr info) { std::longjmp(reinterpret_cast<TTestError*>(info->err)->jump, 1); }
void TestEmitMessage(j_common_ptr, int) {}

struct TTestCompressor {
    jpeg_compress_struct info;
    TTestError error;
    unsigned char* output;
    unsigned long size;
};
static_assert(std::is_trivially_destructible_v<TTestCompressor>);

bool RunEncode(TTestCompressor& c, int width, int height, const uint8_t* samples, const TReferenceEncoding& e) {
    if (setjmp(c.error.jump) != 0) return false;
    jpeg_create_compress(&c.info);
    jpeg_mem_dest(&c.info, &c.output, &c.size);
    c.info.image_width = static_cast<JDIMENSION>(width);
    c.info.image_height = static_cast<JDIMENSION>(height);
    switch (e.Input) {
        case TJpegInput::Rgb: c.info.input_components = 3, c.info.in_color_space = JCS_RGB; break;
        case TJpegInput::Grey: c.info.input_components = 1, c.info.in_color_space = JCS_GRAYSCALE; break;
        case TJpegInput::Cmyk: c.info.input_components = 4, c.info.in_color_space = JCS_CMYK; break;
    }
    jpeg_set_defaults(&c.info);
    jpeg_set_quality(&c.info, e.Quality, TRUE);
    if (e.FullChroma)
        for (int i = 0; i < c.info.num_components; ++i)
            c.info.comp_info[i].h_samp_factor = c.info.comp_info[i].v_samp_factor = 1;
    if (e.Progressive) jpeg_simple_progression(&c.info);
    c.info.arith_code = e.Arithmetic;
    jpeg_start_compress(&c.info, TRUE);
    const size_t stride = static_cast<size_t>(width) * static_cast<size_t>(c.info.input_components);
    while (c.info.next_scanline < c.info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(samples + c.info.next_scanline * stride);
        jpeg_write_scanlines(&c.info, &row, 1);
    }
    jpeg_finish_compress(&c.info);
    return true;
}

struct TTestDecompressor {
    jpeg_decompress_struct info;
    TTestError error;
};
static_assert(std::is_trivially_destructible_v<TTestDecompressor>);

bool RunDecodeHeader(TTestDecompressor& d, const std::vector<uint8_t>& jpeg) {
    if (setjmp(d.error.jump) != 0) return false;
    jpeg_create_decompress(&d.info);
    jpeg_mem_src(&d.info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&d.info, TRUE);
    if (d.info.jpeg_color_space != JCS_GRAYSCALE) d.info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d.info);
    return true;
}

bool RunDecodeRows(TTestDecompressor& d, uint8_t* samples) {
    if (setjmp(d.error.jump) != 0) return false;
    const size_t stride = size_t{d.info.output_width} * static_cast<size_t>(d.info.output_components);
    while (d.info.output_scanline < d.info.output_height) {
        JSAMPROW row = samples + d.info.output_scanline * stride;
        jpeg_read_scanlines(&d.info, &row, 1);
    }
    jpeg_finish_decompress(&d.info);
    return true;
}

void InitError(TTestError& error) {
    jpeg_std_error(&error.pub);
    error.pub.error_exit = TestErrorExit;
    error.pub.emit_message = TestEmitMessage;
}

// Both keep the tables in natural (not zig-zag) order.
bool RunQualityTables(TTestCompressor& c, int quality) {
    if (setjmp(c.error.jump) != 0) return false;
    jpeg_create_compress(&c.info);
    c.info.in_color_space = JCS_RGB;
    c.info.input_components = 3;
    jpeg_set_defaults(&c.info);
    jpeg_set_quality(&c.info, quality, TRUE);
    return true;
}

bool RunReadTables(TTestDecompressor& d, const std::vector<uint8_t>& jpeg) {
    if (setjmp(d.error.jump) != 0) return false;
    jpeg_create_decompress(&d.info);
    jpeg_mem_src(&d.info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&d.info, TRUE);
    return true;
}

}  // namespace

std::vector<uint8_t> EncodeReference(int width, int height, const std::vector<uint8_t>& samples,
                                     const TReferenceEncoding& encoding) {
    TTestCompressor c{};
    InitError(c.error);
    c.info.err = &c.error.pub;
    const bool encoded = RunEncode(c, width, height, samples.data(), encoding);
    jpeg_destroy_compress(&c.info);
    std::vector<uint8_t> bytes;
    if (encoded) bytes.assign(c.output, c.output + c.size);
    std::free(c.output);
    EXPECT_TRUE(encoded) << "the library refused to encode the test picture";
    return bytes;
}

TReferenceImage DecodeReference(const std::vector<uint8_t>& jpeg) {
    TTestDecompressor d{};
    InitError(d.error);
    d.info.err = &d.error.pub;
    TReferenceImage image;
    if (RunDecodeHeader(d, jpeg)) {
        image.Width = static_cast<int>(d.info.output_width);
        image.Height = static_cast<int>(d.info.output_height);
        image.Components = d.info.output_components;
        image.Samples.resize(size_t{d.info.output_width} * d.info.output_height *
                             static_cast<size_t>(d.info.output_components));
        if (!RunDecodeRows(d, image.Samples.data())) image.Samples.clear();
    }
    jpeg_destroy_decompress(&d.info);
    return image;
}

std::vector<std::vector<unsigned>> QualityTables(int quality) {
    TTestCompressor c{};
    InitError(c.error);
    c.info.err = &c.error.pub;
    std::vector<std::vector<unsigned>> tables;
    if (RunQualityTables(c, quality))
        for (auto* table : c.info.quant_tbl_ptrs)
            if (table) tables.emplace_back(table->quantval, table->quantval + DCTSIZE2);
    jpeg_destroy_compress(&c.info);
    return tables;
}

std::vector<std::vector<unsigned>> FileTables(const std::vector<uint8_t>& jpeg) {
    TTestDecompressor d{};
    InitError(d.error);
    d.info.err = &d.error.pub;
    std::vector<std::vector<unsigned>> tables;
    if (RunReadTables(d, jpeg))
        for (auto* table : d.info.quant_tbl_ptrs)
            if (table) tables.emplace_back(table->quantval, table->quantval + DCTSIZE2);
    jpeg_destroy_decompress(&d.info);
    return tables;
}

size_t FindMarker(const std::vector<uint8_t>& jpeg, uint8_t code, size_t from) {
    for (size_t i = from; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == code) return i;
    return std::string::npos;
}

size_t FindLastMarker(const std::vector<uint8_t>& jpeg, uint8_t code) {
    size_t last = std::string::npos;
    for (size_t at = FindMarker(jpeg, code); at != std::string::npos; at = FindMarker(jpeg, code, at + 2)) last = at;
    return last;
}

std::vector<uint8_t> WithScans(const std::vector<uint8_t>& jpeg, int total) {
    const size_t lastScan = FindLastMarker(jpeg, 0xDA);
    const size_t end = FindLastMarker(jpeg, 0xD9);
    int scans = 0;
    for (size_t at = FindMarker(jpeg, 0xDA); at != std::string::npos; at = FindMarker(jpeg, 0xDA, at + 2)) ++scans;
    std::vector<uint8_t> bytes(jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(end));
    for (int i = scans; i < total; ++i)
        bytes.insert(bytes.end(), jpeg.begin() + static_cast<ptrdiff_t>(lastScan),
                     jpeg.begin() + static_cast<ptrdiff_t>(end));
    bytes.insert(bytes.end(), {0xFF, 0xD9});
    return bytes;
}

int FrameType(const std::vector<uint8_t>& jpeg) {
    for (int code : {0xC0, 0xC1, 0xC2, 0xC3, 0xC9, 0xCA, 0xCB})
        if (FindMarker(jpeg, static_cast<uint8_t>(code)) != std::string::npos) return code - 0xC0;
    return -1;
}

int FrameComponents(const std::vector<uint8_t>& jpeg) {
    const int type = FrameType(jpeg);
    if (type < 0) return -1;
    const size_t at = FindMarker(jpeg, static_cast<uint8_t>(0xC0 + type));
    // FF Cn, length (2), precision (1), height (2), width (2), components (1)
    return jpeg.at(at + 9);
}

std::vector<uint8_t> GradientRgb(int width, int height) {
    std::vector<uint8_t> samples;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            samples.push_back(static_cast<uint8_t>(4 * x));
            samples.push_back(static_cast<uint8_t>(4 * y));
            samples.push_back(static_cast<uint8_t>(255 - 2 * (x + y)));
        }
    return samples;
}

std::vector<uint8_t> GradientGrey(int width, int height) {
    std::vector<uint8_t> samples;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) samples.push_back(static_cast<uint8_t>(3 * x + 2 * y));
    return samples;
}

}  // namespace tamberlit::testing
