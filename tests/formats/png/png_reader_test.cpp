#include "formats/png/png_reader.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <zlib.h>

#include <thread>

#include "formats/png/png_bitmap.hpp"
#include "image/exceptions.hpp"
#include "image/limits.hpp"
#include "image/picture_registry.hpp"
#include "tests/formats/png/png_test_files.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;

namespace {

// A bitmap read from PNG bytes in memory.
class TDecoded : public TBitmap {
public:
    explicit TDecoded(const std::vector<uint8_t>& file, const TSizeLimits& limits = {}) {
        Limits = limits;
        TMemoryViewStream stream(file.data(), file.size());
        ReadPngImage(stream, *this);
    }
};

// Pixel x of row y as B, G, R(, A) bytes.
std::vector<uint8_t> PixelAt(const TBitmap& bitmap, int x, int y) {
    const int size = bitmap.PixelFormat() == Px32 ? 4 : 3;
    const uint8_t* pixel = bitmap.ConstRowAddress(y) + x * size;
    return {pixel, pixel + size};
}

std::vector<uint8_t> Bgr(uint8_t r, uint8_t g, uint8_t b) { return {b, g, r}; }
std::vector<uint8_t> Bgra(uint8_t r, uint8_t g, uint8_t b, uint8_t a) { return {b, g, r, a}; }

// Packs samples of `depth` bits, first sample in the high bits, each row padded
// to whole bytes.
std::vector<uint8_t> Pack(const std::vector<unsigned>& samples, uint32_t perRow, int depth) {
    std::vector<uint8_t> bytes;
    for (size_t start = 0; start < samples.size(); start += perRow) {
        unsigned accumulator = 0;
        int bits = 0;
        for (size_t i = start; i < start + perRow; ++i) {
            if (depth == 16) {
                bytes.push_back(static_cast<uint8_t>(samples[i] >> 8));
                bytes.push_back(static_cast<uint8_t>(samples[i]));
                continue;
            }
            accumulator = accumulator << depth | samples[i];
            bits += depth;
            if (bits == 8) {
                bytes.push_back(static_cast<uint8_t>(accumulator));
                accumulator = 0;
                bits = 0;
            }
        }
        if (bits > 0) bytes.push_back(static_cast<uint8_t>(accumulator << (8 - bits)));
    }
    return bytes;
}

void ExpectReadingError(const std::vector<uint8_t>& file, const std::string& what) {
    TMemoryViewStream stream(file.data(), file.size());
    TBitmap bitmap;
    bitmap.NewImage(2, 2, Px32);
    bitmap.RowAddress(0)[0] = 77;
    try {
        ReadPngImage(stream, bitmap);
        ADD_FAILURE() << what << ": accepted";
    } catch (const EImageTooLarge& error) {
        ADD_FAILURE() << what << ": " << error.what();
    } catch (const EInvalidGraphic& error) {
        EXPECT_STREQ(error.what(), "Error Reading File!") << what;
    }
    // A failed read leaves the bitmap as it was.
    EXPECT_EQ(bitmap.Width(), 2) << what;
    EXPECT_EQ(bitmap.PixelFormat(), Px32) << what;
    EXPECT_EQ(bitmap.ConstRowAddress(0)[0], 77) << what;
}

uint32_t Next(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

TPngLayout NoiseRgba(uint32_t width, uint32_t height, uint32_t seed) {
    TPngLayout layout{width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA};
    for (size_t i = 0; i < layout.RowBytes() * height; ++i) layout.Pixels.push_back(static_cast<uint8_t>(Next(seed)));
    return layout;
}

}  // namespace

// ---------------------------------------------------------------- true colour

TEST(PngReaderColour, RgbGivesPx24BlueFirstTopRowFirst) {
    TPngLayout layout{3, 2, 8, PNG_COLOR_TYPE_RGB};
    layout.Pixels = {1,  2,  3,  4,  5,  6,  7,  8,  9,  //
                     11, 12, 13, 14, 15, 16, 17, 18, 19};
    const TDecoded bitmap(EncodePng(layout));
    ASSERT_EQ(bitmap.PixelFormat(), Px24);
    ASSERT_EQ(bitmap.Width(), 3);
    ASSERT_EQ(bitmap.Height(), 2);
    EXPECT_EQ(PixelAt(bitmap, 0, 0), Bgr(1, 2, 3));
    EXPECT_EQ(PixelAt(bitmap, 2, 0), Bgr(7, 8, 9));
    EXPECT_EQ(PixelAt(bitmap, 0, 1), Bgr(11, 12, 13));
    EXPECT_EQ(PixelAt(bitmap, 2, 1), Bgr(17, 18, 19));
}

TEST(PngReaderColour, RgbaKeepsEveryAlphaValueAndTheColourUnderIt) {
    TPngLayout layout{16, 16, 8, PNG_COLOR_TYPE_RGB_ALPHA};
    for (unsigned i = 0; i < 256; ++i) {
        layout.Pixels.insert(layout.Pixels.end(), {static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 7),
                                                   static_cast<uint8_t>(i * 13 + 5), static_cast<uint8_t>(i)});
    }
    const TDecoded bitmap(EncodePng(layout));
    ASSERT_EQ(bitmap.PixelFormat(), Px32);
    for (unsigned i = 0; i < 256; ++i) {
        const int x = static_cast<int>(i % 16), y = static_cast<int>(i / 16);
        // Alpha 0 (the first pixel) keeps its colour: nothing is premultiplied.
        EXPECT_EQ(PixelAt(bitmap, x, y), Bgra(static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 7),
                                              static_cast<uint8_t>(i * 13 + 5), static_cast<uint8_t>(i)))
            << "pixel " << i;
    }
}

TEST(PngReaderColour, SixteenBitSamplesKeepTheirHighByte) {
    TPngLayout rgb{2, 1, 16, PNG_COLOR_TYPE_RGB};
    rgb.Pixels = Pack({0x12FF, 0x3400, 0xFF01, 0x0080, 0x8000, 0x7FFF}, 6, 16);
    const TDecoded opaque(EncodePng(rgb));
    ASSERT_EQ(opaque.PixelFormat(), Px24);
    EXPECT_EQ(PixelAt(opaque, 0, 0), Bgr(0x12, 0x34, 0xFF));
    EXPECT_EQ(PixelAt(opaque, 1, 0), Bgr(0x00, 0x80, 0x7F));

    TPngLayout rgba{1, 2, 16, PNG_COLOR_TYPE_RGB_ALPHA};
    rgba.Pixels = Pack({0x12FF, 0x3400, 0xFF01, 0x80FF, 0, 0, 0, 0x00FF}, 4, 16);
    const TDecoded withAlpha(EncodePng(rgba));
    ASSERT_EQ(withAlpha.PixelFormat(), Px32);
    EXPECT_EQ(PixelAt(withAlpha, 0, 0), Bgra(0x12, 0x34, 0xFF, 0x80));
    EXPECT_EQ(PixelAt(withAlpha, 0, 1), Bgra(0, 0, 0, 0));
}

// ---------------------------------------------------------------- palettes

TEST(PngReaderPalette, LowBitDepthsGiveOnePixelPerFilePixel) {
    for (int depth : {1, 2, 4, 8}) {
        const unsigned entries = 1u << depth;
        TPngLayout layout{13, 3, depth, PNG_COLOR_TYPE_PALETTE};
        for (unsigned i = 0; i < entries; ++i)
            layout.Palette.push_back(
                {static_cast<uint8_t>(i * 3 + 1), static_cast<uint8_t>(200 - i / 2), static_cast<uint8_t>(i ^ 0x55)});
        std::vector<unsigned> indices;
        for (unsigned y = 0; y < 3; ++y)
            for (unsigned x = 0; x < 13; ++x) indices.push_back((x * 3 + y * 5) % entries);
        layout.Pixels = Pack(indices, 13, depth);
        const TDecoded bitmap(EncodePng(layout));
        ASSERT_EQ(bitmap.PixelFormat(), Px24) << "depth " << depth;
        ASSERT_EQ(bitmap.Width(), 13);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 13; ++x) {
                const png_color& colour = layout.Palette[indices[static_cast<size_t>(y * 13 + x)]];
                EXPECT_EQ(PixelAt(bitmap, x, y), Bgr(colour.red, colour.green, colour.blue))
                    << "depth " << depth << " pixel " << x << "," << y;
            }
    }
}

TEST(PngReaderPalette, TransparencyChunkGivesEachEntryItsAlpha) {
    TPngLayout layout{4, 1, 4, PNG_COLOR_TYPE_PALETTE};
    layout.Palette = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {100, 110, 120}};
    layout.PaletteAlpha = {0, 128};  // entries beyond the chunk are opaque
    layout.Pixels = Pack({0, 1, 2, 3}, 4, 4);
    const TDecoded bitmap(EncodePng(layout));
    ASSERT_EQ(bitmap.PixelFormat(), Px32);
    EXPECT_EQ(PixelAt(bitmap, 0, 0), Bgra(10, 20, 30, 0));
    EXPECT_EQ(PixelAt(bitmap, 1, 0), Bgra(40, 50, 60, 128));
    EXPECT_EQ(PixelAt(bitmap, 2, 0), Bgra(70, 80, 90, 255));
    EXPECT_EQ(PixelAt(bitmap, 3, 0), Bgra(100, 110, 120, 255));
}

// ---------------------------------------------------------------- grey

TEST(PngReaderGrey, EveryDepthBecomesEqualColourSamples) {
    struct Case {
        int depth;
        std::vector<unsigned> samples;
        std::vector<uint8_t> expected;
    } cases[] = {
        {1, {0, 1, 1}, {0, 255, 255}},
        {2, {0, 1, 2, 3}, {0, 85, 170, 255}},
        {4, {0, 1, 9, 15}, {0, 17, 153, 255}},
        {8, {0, 1, 128, 255}, {0, 1, 128, 255}},
        {16, {0x00FF, 0x0100, 0xABCD, 0xFFFF}, {0, 1, 0xAB, 255}},
    };
    for (const auto& c : cases) {
        const auto width = static_cast<uint32_t>(c.samples.size());
        TPngLayout layout{width, 1, c.depth, PNG_COLOR_TYPE_GRAY};
        layout.Pixels = Pack(c.samples, width, c.depth);
        const TDecoded bitmap(EncodePng(layout));
        ASSERT_EQ(bitmap.PixelFormat(), Px24) << "depth " << c.depth;
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t v = c.expected[x];
            EXPECT_EQ(PixelAt(bitmap, static_cast<int>(x), 0), Bgr(v, v, v)) << "depth " << c.depth << " x " << x;
        }
    }
}

TEST(PngReaderGrey, GreyWithAlphaGivesPx32) {
    TPngLayout eight{2, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA};
    eight.Pixels = {200, 0, 17, 128};
    const TDecoded bitmap(EncodePng(eight));
    ASSERT_EQ(bitmap.PixelFormat(), Px32);
    EXPECT_EQ(PixelAt(bitmap, 0, 0), Bgra(200, 200, 200, 0));
    EXPECT_EQ(PixelAt(bitmap, 1, 0), Bgra(17, 17, 17, 128));

    TPngLayout sixteen{1, 1, 16, PNG_COLOR_TYPE_GRAY_ALPHA};
    sixteen.Pixels = Pack({0x4321, 0xFE00}, 2, 16);
    const TDecoded deep(EncodePng(sixteen));
    ASSERT_EQ(deep.PixelFormat(), Px32);
    EXPECT_EQ(PixelAt(deep, 0, 0), Bgra(0x43, 0x43, 0x43, 0xFE));
}

// ---------------------------------------------------------------- transparent colour key

TEST(PngReaderColourKey, OnlyTheKeyColourBecomesTransparent) {
    TPngLayout layout{3, 1, 8, PNG_COLOR_TYPE_RGB};
    layout.Pixels = {10, 20, 30, 10, 20, 31, 0, 0, 0};
    layout.TransparentColor = png_color_16{0, 10, 20, 30, 0};
    const TDecoded bitmap(EncodePng(layout));
    ASSERT_EQ(bitmap.PixelFormat(), Px32);
    EXPECT_EQ(PixelAt(bitmap, 0, 0), Bgra(10, 20, 30, 0));
    EXPECT_EQ(PixelAt(bitmap, 1, 0), Bgra(10, 20, 31, 255));
    EXPECT_EQ(PixelAt(bitmap, 2, 0), Bgra(0, 0, 0, 255));
}

TEST(PngReaderColourKey, SixteenBitKeysCompareAllSixteenBits) {
    TPngLayout grey{3, 1, 16, PNG_COLOR_TYPE_GRAY};
    grey.Pixels = Pack({0x1234, 0x12FF, 0x1235}, 3, 16);
    grey.TransparentColor = png_color_16{0, 0, 0, 0, 0x1234};
    const TDecoded greyBitmap(EncodePng(grey));
    ASSERT_EQ(greyBitmap.PixelFormat(), Px32);
    EXPECT_EQ(PixelAt(greyBitmap, 0, 0), Bgra(0x12, 0x12, 0x12, 0));
    EXPECT_EQ(PixelAt(greyBitmap, 1, 0), Bgra(0x12, 0x12, 0x12, 255));
    EXPECT_EQ(PixelAt(greyBitmap, 2, 0), Bgra(0x12, 0x12, 0x12, 255));

    TPngLayout rgb{2, 1, 16, PNG_COLOR_TYPE_RGB};
    rgb.Pixels = Pack({0x0101, 0x0202, 0x0303, 0x0101, 0x0202, 0x0304}, 6, 16);
    rgb.TransparentColor = png_color_16{0, 0x0101, 0x0202, 0x0303, 0};
    const TDecoded rgbBitmap(EncodePng(rgb));
    ASSERT_EQ(rgbBitmap.PixelFormat(), Px32);
    EXPECT_EQ(PixelAt(rgbBitmap, 0, 0), Bgra(1, 2, 3, 0));
    EXPECT_EQ(PixelAt(rgbBitmap, 1, 0), Bgra(1, 2, 3, 255));
}

TEST(PngReaderColourKey, LowBitGreyKeyIsComparedBeforeScaling) {
    TPngLayout layout{3, 1, 4, PNG_COLOR_TYPE_GRAY};
    layout.Pixels = Pack({5, 6, 15}, 3, 4);
    layout.TransparentColor = png_color_16{0, 0, 0, 0, 5};
    const TDecoded bitmap(EncodePng(layout));
    ASSERT_EQ(bitmap.PixelFormat(), Px32);
    EXPECT_EQ(PixelAt(bitmap, 0, 0), Bgra(0x55, 0x55, 0x55, 0));
    EXPECT_EQ(PixelAt(bitmap, 1, 0), Bgra(0x66, 0x66, 0x66, 255));
    EXPECT_EQ(PixelAt(bitmap, 2, 0), Bgra(255, 255, 255, 255));
}

// ---------------------------------------------------------------- interlace

TEST(PngReaderInterlace, InterlacedFilesGiveTheSameBitmapAsPlainOnes) {
    std::vector<TPngLayout> specs;
    specs.push_back(NoiseRgba(7, 9, 1));
    specs.push_back(NoiseRgba(1, 1, 2));
    specs.push_back(NoiseRgba(3, 20, 3));
    specs.push_back(NoiseRgba(33, 2, 4));
    TPngLayout palette{11, 5, 2, PNG_COLOR_TYPE_PALETTE};
    palette.Palette = {{1, 2, 3}, {40, 50, 60}, {200, 100, 0}, {9, 9, 9}};
    palette.PaletteAlpha = {255, 0, 77};
    uint32_t seed = 5;
    for (size_t i = 0; i < palette.RowBytes() * 5; ++i) palette.Pixels.push_back(static_cast<uint8_t>(Next(seed)));
    specs.push_back(palette);
    TPngLayout grey{9, 9, 16, PNG_COLOR_TYPE_GRAY};
    for (size_t i = 0; i < grey.RowBytes() * 9; ++i) grey.Pixels.push_back(static_cast<uint8_t>(i % 3 ? 0x40 : i));
    grey.TransparentColor = png_color_16{0, 0, 0, 0, 0x4040};
    specs.push_back(grey);

    for (TPngLayout& layout : specs) {
        layout.Interlaced = false;
        const TDecoded plain(EncodePng(layout));
        layout.Interlaced = true;
        const std::vector<uint8_t> file = EncodePng(layout);
        ASSERT_EQ(DecodePng(file).Interlace, PNG_INTERLACE_ADAM7);
        const TDecoded interlaced(file);
        EXPECT_EQ(interlaced.PixelFormat(), plain.PixelFormat()) << layout.Width << "x" << layout.Height;
        EXPECT_EQ(RgbaPixels(interlaced), RgbaPixels(plain)) << layout.Width << "x" << layout.Height;
    }
}

// ---------------------------------------------------------------- failures

TEST(PngReaderErrors, FilesThatCannotBeOpenedAreNamedInTheMessage) {
    TTempFolder folder;
    // A FIFO without a writer would block a reader that opened it.
    ASSERT_EQ(::mkfifo((folder / "fifo.png").c_str(), 0600), 0);
    const std::string paths[] = {folder / "missing.png", folder / "no-such-folder/picture.png", folder.Path().string(),
                                 folder / "fifo.png"};
    for (const std::string& path : paths) {
        TPNGBitmap bitmap;
        try {
            bitmap.LoadFile(path);
            ADD_FAILURE() << path << " was opened";
        } catch (const Exception& error) {
            EXPECT_EQ(error.Message(), "Error Opening File " + path + "!");
        }
        EXPECT_TRUE(bitmap.Empty());
    }
}

TEST(PngReaderErrors, NotAPngOrTruncatedDataIsAReadingError) {
    ExpectReadingError({}, "empty file");
    ExpectReadingError({'B', 'M', 0x36, 0, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0},
                       "a BMP header");
    std::vector<uint8_t> text(200, 'x');
    ExpectReadingError(text, "text");

    const std::vector<uint8_t> file = EncodePng(NoiseRgba(40, 30, 9));
    size_t idatEnd = 0;
    for (size_t at = 8; at + 8 <= file.size();) {
        const uint32_t length =
            uint32_t{file[at]} << 24 | uint32_t{file[at + 1]} << 16 | uint32_t{file[at + 2]} << 8 | file[at + 3];
        if (std::string(file.begin() + static_cast<long>(at + 4), file.begin() + static_cast<long>(at + 8)) == "IDAT")
            idatEnd = at + 8 + length;
        at += 12 + length;
    }
    ASSERT_GT(idatEnd, 100u);
    for (size_t cut : {size_t{4}, size_t{8}, size_t{20}, size_t{33}, size_t{45}, idatEnd / 2, idatEnd - 1}) {
        ExpectReadingError(std::vector<uint8_t>(file.begin(), file.begin() + static_cast<long>(cut)),
                           "cut at " + std::to_string(cut));
    }
}

TEST(PngReaderErrors, DamagedCriticalChunksAreReadingErrors) {
    const std::vector<uint8_t> file = EncodePng(NoiseRgba(5, 5, 3));
    std::vector<uint8_t> badHeaderCrc = file;
    badHeaderCrc[29] ^= 1;
    ExpectReadingError(badHeaderCrc, "IHDR CRC");
    std::vector<uint8_t> badSignature = file;
    badSignature[1] = 'Q';
    ExpectReadingError(badSignature, "signature");
    std::vector<uint8_t> badDepth = file;
    badDepth[24] = 3;
    ExpectReadingError(badDepth, "bit depth 3 (CRC not fixed)");

    // An IDAT whose zlib data is garbage, with a correct CRC.
    TBytes header;
    std::vector<uint8_t> garbage(64, 0x5A);
    std::vector<uint8_t> broken(file.begin(), file.begin() + 33);
    const auto idat = MakeChunk("IDAT", garbage);
    broken.insert(broken.end(), idat.begin(), idat.end());
    const auto end = MakeChunk("IEND", {});
    broken.insert(broken.end(), end.begin(), end.end());
    ExpectReadingError(broken, "garbage IDAT");
}

// ---------------------------------------------------------------- the end of the image data

namespace {

// How much the first `length` bytes of a zlib stream inflate to.
uLong InflatedSize(const std::vector<uint8_t>& stream, size_t length) {
    z_stream z{};
    inflateInit(&z);
    std::vector<uint8_t> out(1 << 16);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(length);
    int result = Z_OK;
    do {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        result = inflate(&z, Z_NO_FLUSH);
    } while (result == Z_OK && z.avail_out == 0);
    const uLong size = z.total_out;
    inflateEnd(&z);
    return size;
}

struct TImageData {
    std::vector<uint8_t> Head;  // the signature and the chunks before the image data
    std::vector<uint8_t> Stream;
    size_t ForAllRows = 0;  // the bytes of the stream that inflate to every row
};

TImageData SplitImageData(const std::vector<uint8_t>& file) {
    TImageData data;
    data.Head.assign(file.begin(), file.begin() + 8);
    for (const TPngChunk& chunk : ListChunks(file)) {
        if (chunk.Type == "IDAT") {
            data.Stream.insert(data.Stream.end(), chunk.Data.begin(), chunk.Data.end());
        } else if (data.Stream.empty()) {
            const auto bytes = MakeChunk(chunk.Type, chunk.Data);
            data.Head.insert(data.Head.end(), bytes.begin(), bytes.end());
        }
    }
    // The end of the last deflate block and the checksum follow the last row.
    const uLong all = InflatedSize(data.Stream, data.Stream.size());
    size_t low = 0, high = data.Stream.size();
    while (low < high) {
        const size_t middle = (low + high) / 2;
        if (InflatedSize(data.Stream, middle) < all) low = middle + 1;
        else high = middle;
    }
    data.ForAllRows = low;
    return data;
}

// Stream bytes [from, to) in IDAT chunks of at most `size` bytes.
std::vector<uint8_t> IdatChunks(const std::vector<uint8_t>& stream, size_t from, size_t to, size_t size,
                                bool damaged = false) {
    std::vector<uint8_t> chunks;
    for (size_t at = from; at < to; at += size) {
        const auto first = stream.begin() + static_cast<long>(at);
        auto chunk = MakeChunk("IDAT", std::vector<uint8_t>(first, first + static_cast<long>(std::min(to - at, size))));
        if (damaged) chunk.back() ^= 1;
        chunks.insert(chunks.end(), chunk.begin(), chunk.end());
    }
    return chunks;
}

std::vector<uint8_t> PixelsOrNothing(const std::vector<uint8_t>& file) {
    try {
        return RgbaPixels(TDecoded(file));
    } catch (const Exception&) {
        return {};
    }
}

}  // namespace

TEST(PngReaderEnd, ThePictureIsTakenAtTheChunkItsLastRowEndsIn) {
    std::vector<std::pair<TPngLayout, size_t>> layouts;  // and the size of the IDAT chunks
    layouts.push_back({NoiseRgba(7, 9, 31), 1});
    for (auto [width, height] : {std::pair<uint32_t, uint32_t>{7, 9}, {1, 1}, {4, 1}, {33, 2}}) {
        layouts.push_back({NoiseRgba(width, height, width * height), 1});
        layouts.back().first.Interlaced = true;
    }
    TPngLayout palette{11, 5, 2, PNG_COLOR_TYPE_PALETTE};
    palette.Palette = {{1, 2, 3}, {40, 50, 60}, {200, 100, 0}, {9, 9, 9}};
    palette.Interlaced = true;
    for (size_t i = 0; i < palette.RowBytes() * 5; ++i) palette.Pixels.push_back(static_cast<uint8_t>(i * 37));
    layouts.push_back({palette, 1});
    // More than the reader's 64 KiB block in the chunk the last row ends in.
    layouts.push_back({NoiseRgba(180, 120, 7), 100'000});

    const std::vector<uint8_t> junk(40, 'j'), end = MakeChunk("IEND", {});
    for (const auto& [layout, chunkSize] : layouts) {
        const std::vector<uint8_t> file = EncodePng(layout);
        const std::vector<uint8_t> expected = RgbaPixels(TDecoded(file));
        const TImageData data = SplitImageData(file);
        const std::vector<uint8_t>& stream = data.Stream;
        const size_t rows = data.ForAllRows, all = stream.size();
        ASSERT_LT(rows, all);
        auto make = [&](std::initializer_list<std::vector<uint8_t>> parts) {
            std::vector<uint8_t> bytes = data.Head;
            for (const auto& part : parts) bytes.insert(bytes.end(), part.begin(), part.end());
            return bytes;
        };
        const std::string name = std::to_string(layout.Width) + "x" + std::to_string(layout.Height) +
                                 (layout.Interlaced ? " interlaced" : "");
        // The chunk the last row ends in, and those before it.
        const size_t last = (rows - 1) / chunkSize * chunkSize;
        const auto before = IdatChunks(stream, 0, last, chunkSize);
        const auto toLastRow = IdatChunks(stream, last, rows, chunkSize);
        EXPECT_EQ(PixelsOrNothing(make({before, toLastRow, junk})), expected) << name << ", junk after";
        EXPECT_EQ(PixelsOrNothing(make({before, toLastRow})), expected) << name << ", the file ending";
        EXPECT_EQ(PixelsOrNothing(make({before, toLastRow, IdatChunks(stream, rows, all, chunkSize, true), end})),
                  expected)
            << name << ", damaged chunks after";
        ExpectReadingError(make({before, IdatChunks(stream, last, rows, chunkSize, true), end}),
                           name + ", the last one damaged");
        ExpectReadingError(make({IdatChunks(stream, 0, rows - 1, chunkSize), end}), name + ", a byte short");
    }
}

// ---------------------------------------------------------------- limits

namespace {

// A valid file whose IHDR claims the given size, with a single IDAT that holds
// one row's worth of data at most.
std::vector<uint8_t> ClaimedSize(uint32_t width, uint32_t height) {
    std::vector<uint8_t> file = {137, 80, 78, 71, 13, 10, 26, 10};
    std::vector<uint8_t> ihdr;
    for (uint32_t value : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8) ihdr.push_back(static_cast<uint8_t>(value >> shift));
    ihdr.insert(ihdr.end(), {8, PNG_COLOR_TYPE_RGB_ALPHA, 0, 0, 0});
    for (const auto& chunk :
         {MakeChunk("IHDR", ihdr), MakeChunk("IDAT", Deflate(std::vector<uint8_t>(1000))), MakeChunk("IEND", {})})
        file.insert(file.end(), chunk.begin(), chunk.end());
    return file;
}

}  // namespace

TEST(PngReaderLimits, HugeDimensionsAreRefusedBeforeAllocation) {
    for (auto [width, height] :
         {std::pair<uint32_t, uint32_t>{65536, 1}, {1, 70000}, {20000, 20000}, {1000001, 1000001}, {0x7FFFFFFF, 1}}) {
        const std::vector<uint8_t> file = ClaimedSize(width, height);
        TMemoryViewStream stream(file.data(), file.size());
        TBitmap bitmap;
        EXPECT_THROW(ReadPngImage(stream, bitmap), EImageTooLarge) << width << "x" << height;
    }
}

TEST(PngReaderLimits, TheDecodedSizeLimitApplies) {
    const TSizeLimits limits{100};
    TPngLayout layout = NoiseRgba(10, 10, 7);
    EXPECT_EQ(TDecoded(EncodePng(layout), limits).Width(), 10);
    layout = NoiseRgba(11, 10, 7);
    const std::vector<uint8_t> file = EncodePng(layout);
    TMemoryViewStream stream(file.data(), file.size());
    TBitmap bitmap;
    bitmap.Limits = limits;
    EXPECT_THROW(ReadPngImage(stream, bitmap), EImageTooLarge);
}

TEST(PngReaderLimits, TextAndProfileChunksAreSkippedNotInflated) {
    const TPngLayout layout = NoiseRgba(6, 4, 11);
    const std::vector<uint8_t> plain = EncodePng(layout);
    const std::vector<uint8_t> zeros(64u << 20);  // deflates to about 64 KiB
    std::vector<uint8_t> text = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 0};
    std::vector<uint8_t> profile = {'b', 'o', 'm', 'b', 0, 0};
    const std::vector<uint8_t> packed = Deflate(zeros);
    text.insert(text.end(), packed.begin(), packed.end());
    profile.insert(profile.end(), packed.begin(), packed.end());
    std::vector<uint8_t> file = InsertAfterHeader(plain, MakeChunk("zTXt", text));
    file = InsertAfterHeader(file, MakeChunk("iCCP", profile));
    // Thousands of small chunks: none of them is kept.
    for (int i = 0; i < 3000; ++i) file = InsertAfterHeader(file, MakeChunk(i % 2 ? "tEXt" : "prIv", {'k', 0, 'v'}));
    const TDecoded bitmap(file);
    EXPECT_EQ(RgbaPixels(bitmap), RgbaPixels(TDecoded(plain)));
}

TEST(PngReaderLimits, AnAncillaryChunkBeyondTheChunkLimitIsSkipped) {
    // A valid file with a large private or text chunk still loads: the chunk
    // is passed over, neither kept nor refused.
    const std::vector<uint8_t> plain = EncodePng(NoiseRgba(3, 3, 13));
    for (const char* type : {"prIv", "tEXt", "iCCP"}) {
        std::vector<uint8_t> data(9'000'000, 'a');
        data[5] = 0;
        const TDecoded bitmap(InsertAfterHeader(plain, MakeChunk(type, data)));
        EXPECT_EQ(RgbaPixels(bitmap), RgbaPixels(TDecoded(plain))) << type;
    }
}

// ---------------------------------------------------------------- threads and registration

TEST(PngReaderThreads, TwoDecodesAtOnceDoNotMeet) {
    TPngLayout first = NoiseRgba(64, 48, 21);
    TPngLayout second{50, 70, 4, PNG_COLOR_TYPE_PALETTE};
    second.Interlaced = true;
    for (unsigned i = 0; i < 16; ++i)
        second.Palette.push_back({static_cast<uint8_t>(i * 16), 7, static_cast<uint8_t>(255 - i)});
    uint32_t seed = 99;
    for (size_t i = 0; i < second.RowBytes() * 70; ++i) second.Pixels.push_back(static_cast<uint8_t>(Next(seed)));
    const std::vector<uint8_t> files[2] = {EncodePng(first), EncodePng(second)};
    const std::vector<uint8_t> expected[2] = {RgbaPixels(TDecoded(files[0])), RgbaPixels(TDecoded(files[1]))};
    int mismatches[2] = {0, 0};
    auto work = [&](int which) {
        for (int round = 0; round < 40; ++round)
            if (RgbaPixels(TDecoded(files[which])) != expected[which]) ++mismatches[which];
    };
    std::thread a(work, 0), b(work, 1);
    a.join();
    b.join();
    EXPECT_EQ(mismatches[0], 0);
    EXPECT_EQ(mismatches[1], 0);
}

TEST(PngRegistration, ThePictureRegistryKnowsPng) {
    bool found = false;
    for (const auto& format : TPicture::FileFormats())
        if (format.Extension == "PNG") {
            found = true;
            EXPECT_EQ(format.Description, "PNG-Format");
            EXPECT_EQ(format.ClassName, "TPNGBitmap");
        }
    EXPECT_TRUE(found);
    const auto graphic = TPicture::CreateForExtension("png");
    ASSERT_NE(graphic, nullptr);
    EXPECT_STREQ(graphic->ClassName(), "TPNGBitmap");
}
