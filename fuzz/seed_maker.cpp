// Writes small seed inputs for every fuzz target into OUTPUT/<target>/: files
// made by our own writers from little pictures of every pixel format, the
// hand-built variants the writers never make (run-length TGA and BMP data,
// core and V5 BMP headers, interlaced and run-length-coded GIF data), and for
// the LZW target the image data of every GIF frame found in the given files.
//
// Usage: seed_maker OUTPUT [GIF FILE]...

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "formats/gif/gif_image.hpp"
#include "formats/png/png_writer.hpp"
#include "formats/tga/tga_file.hpp"
#include "image/bitmap.hpp"
#include "formats/jpeg/jpeg_image.hpp"

using namespace tamberlit;
namespace fs = std::filesystem;

namespace {

using TBytes = std::vector<uint8_t>;

fs::path output;

void Save(const std::string& target, const std::string& name, const TBytes& bytes) {
    fs::create_directories(output / target);
    std::ofstream file(output / target / name, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TBytes Bytes(TMemoryStream& stream) { return TBytes(stream.Memory(), stream.Memory() + stream.ByteCount()); }

void U8(TBytes& b, unsigned v) { b.push_back(static_cast<uint8_t>(v)); }
void U16(TBytes& b, unsigned v) {
    U8(b, v & 0xFF);
    U8(b, v >> 8);
}
void U32(TBytes& b, uint32_t v) {
    U16(b, v & 0xFFFF);
    U16(b, v >> 16);
}

// A picture with soft alpha: colours change along both sides.
std::unique_ptr<TBitmap> Picture(int width, int height, TPixelFormat format) {
    auto picture = std::make_unique<TBitmap>();
    TBitmap& bitmap = *picture;
    bitmap.NewImage(width, height, Px32);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.RowAddress(y);
        for (int x = 0; x < width; ++x) {
            row[4 * x] = static_cast<uint8_t>(x * 40);
            row[4 * x + 1] = static_cast<uint8_t>(y * 50);
            row[4 * x + 2] = static_cast<uint8_t>((x + y) * 30);
            row[4 * x + 3] = static_cast<uint8_t>(x == 0 ? 0 : 255 - y * 20);
        }
    }
    if (format != Px32) bitmap.SetPixelFormat(format);
    return picture;
}

// ---- BMP
void BmpSeeds() {
    for (TPixelFormat format : {Px1, Px4, Px8, Px15, Px16, Px24, Px32}) {
        auto bitmap = Picture(7, 5, format);
        TMemoryStream stream;
        bitmap->SaveToStream(stream);
        Save("bmp", "written-" + std::to_string(BitCountOf(format)) + ".bmp", Bytes(stream));
    }
    // RLE8 and RLE4: a run, an absolute run, a delta, end of line, end of bitmap.
    for (int bits : {8, 4}) {
        TBytes data = {3, 1, 0, 3, 2, 3, 1, 0, 0, 0, 2, 1, 1, 2, 2, 0, 0, 0, 1};
        const uint32_t colors = 1u << bits;
        TBytes b = {'B', 'M'};
        const uint32_t offset = 14 + 40 + 4 * colors;
        U32(b, offset + static_cast<uint32_t>(data.size()));
        U32(b, 0);
        U32(b, offset);
        U32(b, 40);
        U32(b, 6);
        U32(b, 4);
        U16(b, 1);
        U16(b, static_cast<unsigned>(bits));
        U32(b, bits == 8 ? 1 : 2);
        U32(b, static_cast<uint32_t>(data.size()));
        U32(b, 0);
        U32(b, 0);
        U32(b, colors);
        U32(b, 0);
        for (uint32_t i = 0; i < colors; ++i) U32(b, i * 0x010203u);
        b.insert(b.end(), data.begin(), data.end());
        Save("bmp", "rle" + std::to_string(bits) + ".bmp", b);
    }
    // Core header, 24 bits, 2 x 2, top-down not allowed there: bottom-up.
    {
        TBytes b = {'B', 'M'};
        U32(b, 14 + 12 + 16);
        U32(b, 0);
        U32(b, 14 + 12);
        U32(b, 12);
        U16(b, 2);
        U16(b, 2);
        U16(b, 1);
        U16(b, 24);
        for (int i = 0; i < 16; ++i) U8(b, static_cast<unsigned>(i * 15));
        Save("bmp", "core24.bmp", b);
    }
    // V5 header with bit fields, 32 bits and an alpha mask, top-down.
    {
        TBytes b = {'B', 'M'};
        const uint32_t offset = 14 + 124;
        U32(b, offset + 16);
        U32(b, 0);
        U32(b, offset);
        U32(b, 124);
        U32(b, 2);
        U32(b, static_cast<uint32_t>(-2));
        U16(b, 1);
        U16(b, 32);
        U32(b, 3);
        U32(b, 16);
        U32(b, 2835);
        U32(b, 2835);
        U32(b, 0);
        U32(b, 0);
        U32(b, 0x00FF0000);
        U32(b, 0x0000FF00);
        U32(b, 0x000000FF);
        U32(b, 0xFF000000);
        U32(b, 0x73524742);  // "sRGB"
        while (b.size() < offset) U8(b, 0);
        for (int i = 0; i < 16; ++i) U8(b, static_cast<unsigned>(i * 16 + 1));
        Save("bmp", "v5-alpha.bmp", b);
    }
}

// ---- TGA
TBytes TgaHeader(unsigned type, unsigned mapType, unsigned mapLength, unsigned mapBits, unsigned width, unsigned height,
                 unsigned depth, unsigned descriptor) {
    TBytes b;
    U8(b, 0);
    U8(b, mapType);
    U8(b, type);
    U16(b, 0);
    U16(b, mapLength);
    U8(b, mapBits);
    U16(b, 0);
    U16(b, 0);
    U16(b, width);
    U16(b, height);
    U8(b, depth);
    U8(b, descriptor);
    return b;
}

void TgaSeeds() {
    for (TPixelFormat format : {Px8, Px24, Px32}) {
        auto bitmap = Picture(6, 4, format);
        TTGAFile file;
        file.AssignBitmap(*bitmap);
        TMemoryStream stream;
        file.SaveToStream(stream);
        Save("tga", "written-" + std::to_string(BitCountOf(format)) + ".tga", Bytes(stream));
    }
    // Run-length 32-bit, top-left origin, packets crossing rows.
    {
        TBytes b = TgaHeader(10, 0, 0, 0, 3, 2, 32, 0x28);
        TBytes packets = {0x83, 1, 2, 3, 200, 0x01, 9, 8, 7, 0, 4, 5, 6, 128};
        b.insert(b.end(), packets.begin(), packets.end());
        Save("tga", "rle32-topleft.tga", b);
    }
    // Run-length colour-mapped with a 16-bit map, and run-length grey.
    {
        TBytes b = TgaHeader(9, 1, 4, 16, 4, 2, 8, 0);
        for (unsigned i = 0; i < 4; ++i) U16(b, 0x7C00u >> (5 * i % 15));
        TBytes packets = {0x82, 1, 0x04, 0, 1, 2, 3, 0};
        b.insert(b.end(), packets.begin(), packets.end());
        Save("tga", "rle-mapped16.tga", b);
        TBytes g = TgaHeader(11, 0, 0, 0, 4, 2, 8, 0);
        TBytes greys = {0x87, 128};
        g.insert(g.end(), greys.begin(), greys.end());
        Save("tga", "rle-grey.tga", g);
    }
    // Uncompressed 16-bit colour and 16-bit grey with alpha.
    {
        TBytes b = TgaHeader(2, 0, 0, 0, 2, 2, 16, 1);
        for (unsigned v : {0x801Fu, 0x03E0u, 0xFC00u, 0x7FFFu}) U16(b, v);
        Save("tga", "true16.tga", b);
        TBytes g = TgaHeader(3, 0, 0, 0, 2, 1, 16, 8);
        for (unsigned v : {0x8040u, 0x20FFu}) U16(g, v);
        Save("tga", "grey16-alpha.tga", g);
    }
}

// ---- PNG and JPEG
void PngSeeds() {
    for (TPixelFormat format : {Px24, Px32}) {
        auto bitmap = Picture(5, 3, format);
        TMemoryStream stream;
        WritePngImage(*bitmap, stream);
        Save("png", "written-" + std::to_string(BitCountOf(format)) + ".png", Bytes(stream));
    }
}

void JpegSeeds() {
    auto bitmap = Picture(17, 9, Px24);
    for (int variant = 0; variant < 3; ++variant) {
        TJPEGImage image;
        image.CopyFrom(bitmap.get());
        if (variant == 1) image.SetGrayscale(true);
        if (variant == 2) image.SetProgressiveEncoding(true);
        image.SetCompressionQuality(variant == 0 ? 90 : 50);
        TMemoryStream stream;
        image.SaveToStream(stream);
        static const char* names[] = {"baseline.jpg", "grey.jpg", "progressive.jpg"};
        Save("jpeg", names[variant], Bytes(stream));
    }
}

// ---- GIF
// The LZW target's input for a frame: width - 1, height - 1, interlace bit,
// then the image data from the minimum code size on.
void SaveLzwSeed(const std::string& name, int width, int height, bool interlaced, const uint8_t* data, size_t size) {
    TBytes b = {static_cast<uint8_t>(std::min(width, 256) - 1), static_cast<uint8_t>(std::min(height, 256) - 1),
                static_cast<uint8_t>(interlaced ? 1 : 0)};
    // Up to the terminator of the data sub-blocks (or the end of the file).
    size_t end = 1;
    while (end < size && data[end] != 0) end += 1 + data[end];
    end = std::min(end + 1, size);
    b.insert(b.end(), data, data + end);
    Save("gif_lzw", name, b);
}

// Finds every image descriptor of a GIF file and saves its image data.
void ExtractFrames(const TBytes& file, const std::string& stem) {
    if (file.size() < 13 || std::memcmp(file.data(), "GIF", 3) != 0) return;
    size_t at = 13;
    if (file[10] & 0x80) at += 3u * (2u << (file[10] & 7));
    int index = 0;
    while (at < file.size() && index < 4) {
        const uint8_t block = file[at];
        if (block == 0x21) {
            at += 2;
            while (at < file.size() && file[at] != 0) at += 1 + file[at];
            ++at;
        } else if (block == 0x2C && at + 10 <= file.size()) {
            const int width = file[at + 5] | file[at + 6] << 8;
            const int height = file[at + 7] | file[at + 8] << 8;
            const uint8_t packed = file[at + 9];
            at += 10;
            if (packed & 0x80) at += 3u * (2u << (packed & 7));
            if (at >= file.size()) return;
            SaveLzwSeed(stem + "-" + std::to_string(index++), std::max(width, 1), std::max(height, 1),
                        (packed & 0x40) != 0, file.data() + at, file.size() - at);
            ++at;
            while (at < file.size() && file[at] != 0) at += 1 + file[at];
            ++at;
        } else {
            return;
        }
    }
}

void GifSeeds() {
    std::vector<TGIFColor> colors;
    for (int i = 0; i < 16; ++i) colors.push_back({uint8_t(i * 16), uint8_t(255 - i * 9), uint8_t(i * 5)});
    for (int compression : {0, 1}) {
        for (bool interlaced : {false, true}) {
            TGIFImage image;
            image.Compression = compression;
            image.GlobalColorMap().Assign(colors.data(), static_cast<int>(colors.size()));
            auto frame = std::make_unique<TGIFSubImage>(image);
            frame->SetBounds(1, 2, 9, 7);
            uint8_t* pixels = frame->Data();
            for (int i = 0; i < 63; ++i) pixels[i] = static_cast<uint8_t>((i / 3 + i % 5) % 16);
            frame->SetInterlaced(interlaced);
            image.Images().Add(std::move(frame));
            TMemoryStream stream;
            image.SaveToStream(stream);
            const std::string name = std::string(compression ? "rle" : "lzw") + (interlaced ? "-interlaced" : "");
            const TBytes bytes = Bytes(stream);
            Save("gif", name + ".gif", bytes);
            ExtractFrames(bytes, name);
        }
    }
}

void FileNameSeeds() {
    const char* names[] = {"picture.png",    "a/b.c/d",        "folder/.hidden",
                           "x.tar.gz\0.bmp", "NAME.JPEG\0tga", "/abs/path/file.TGA\0.Png",
                           "..\0..",         "no-extension\0"};
    const size_t sizes[] = {11, 7, 14, 14, 13, 23, 5, 13};
    for (size_t i = 0; i < std::size(names); ++i) {
        const auto* text = reinterpret_cast<const uint8_t*>(names[i]);
        Save("file_names", "name-" + std::to_string(i), TBytes(text, text + sizes[i]));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: seed_maker OUTPUT [GIF FILE | FOLDER OF GIF FILES]...\n");
        return 2;
    }
    output = argv[1];
    try {
        BmpSeeds();
        TgaSeeds();
        PngSeeds();
        JpegSeeds();
        GifSeeds();
        FileNameSeeds();
        // GIF files named, and those below folders named, in name order.
        std::vector<fs::path> gifs;
        for (int i = 2; i < argc; ++i) {
            if (!fs::is_directory(argv[i])) {
                gifs.emplace_back(argv[i]);
                continue;
            }
            std::vector<fs::path> found;
            for (const auto& entry : fs::recursive_directory_iterator(argv[i]))
                if (entry.is_regular_file() && entry.path().extension() == ".gif") found.push_back(entry.path());
            std::sort(found.begin(), found.end());
            gifs.insert(gifs.end(), found.begin(), found.end());
        }
        for (const auto& gif : gifs) {
            std::ifstream file(gif, std::ios::binary);
            const TBytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            ExtractFrames(bytes, gif.stem().string());
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "seed_maker: %s\n", error.what());
        return 1;
    }
    return 0;
}
