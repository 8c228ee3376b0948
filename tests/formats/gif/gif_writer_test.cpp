// Writing GIF files: the exact bytes the format fixes, both encoders' code
// streams, and round trips through our reader and through giflib.

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "formats/gif/gif_image.hpp"
#include "formats/gif/gif_lzw_encoder.hpp"
#include "formats/gif/gif_rle_encoder.hpp"
#include "formats/gif/gif_writer.hpp"
#include "tests/formats/gif/gif_test_files.hpp"
#include "tests/formats/gif/gif_write_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;

namespace {

enum TEncoding { LZW = 0, RLE = 1 };

std::vector<uint8_t> RandomPixels(size_t count, int colors, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> pixels(count);
    for (auto& pixel : pixels) pixel = static_cast<uint8_t>(random() % static_cast<uint32_t>(colors));
    return pixels;
}

// Runs of random lengths (1 to maxRun) of random colours.
std::vector<uint8_t> RunPixels(size_t count, int colors, size_t maxRun, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> pixels;
    while (pixels.size() < count) {
        const size_t run = std::min(count - pixels.size(), 1 + random() % maxRun);
        pixels.insert(pixels.end(), run, static_cast<uint8_t>(random() % static_cast<uint32_t>(colors)));
    }
    return pixels;
}

// The frame's image data as EncodeFrameData writes it.
std::vector<uint8_t> EncodeData(TEncoding encoding, int bits, int colors, const std::vector<uint8_t>& pixels, int width,
                                int height, bool interlaced = false) {
    TLZWEncoder lzw;
    TRLEEncoder rle;
    TMemoryStream stream;
    EncodeFrameData(encoding == RLE ? static_cast<TGIFEncoder&>(rle) : lzw, stream, bits, colors, pixels.data(),
                    interlaced, height, width);
    return std::vector<uint8_t>(stream.Memory(), stream.Memory() + stream.ByteCount());
}

// Our reader and giflib give back exactly the frames written.
void ExpectReadBack(const std::vector<uint8_t>& bytes, const std::vector<std::vector<uint8_t>>& frames) {
    TGIFImage image;
    const TLoadResult result = LoadGIF(image, bytes);
    EXPECT_EQ(result.Error, "");
    EXPECT_TRUE(result.Warnings.empty()) << result.Warnings.front();
    ASSERT_EQ(image.Images().Count(), static_cast<int>(frames.size()));
    for (size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(FramePixels(image.Images()[static_cast<int>(i)]), frames[i]) << "frame " << i;
    if (const auto giflib = DecodeWithGiflib(bytes)) {
        ASSERT_EQ(giflib->size(), frames.size());
        for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ((*giflib)[i].Pixels, frames[i]) << "giflib, frame " << i;
    }
}

}  // namespace

// ---------------------------------------------------------------- image data

TEST(GIFImageData, TwoColoursUseMinimumCodeSizeTwo) {
    for (TEncoding encoding : {LZW, RLE}) {
        TGIFImage image;
        image.Compression = encoding;
        AddFrame(image, 4, 1, {0, 1, 1, 0}, TestColors(2));
        const std::vector<uint8_t> bytes = SaveGIF(image);
        const TWrittenGIF gif = WalkGIF(bytes);
        ASSERT_EQ(gif.Frames.size(), 1u);
        EXPECT_EQ(gif.Frames[0].MinimumCodeSize, 2);
        EXPECT_EQ(gif.Frames[0].PackedFields, 0x80);  // local table of 2 entries
        EXPECT_EQ(gif.Frames[0].LocalColors, 2);
        ExpectReadBack(bytes, {{0, 1, 1, 0}});
    }
}

TEST(GIFImageData, LZWClearsWhenTheTableReaches4095) {
    // Random pixels fill the table quickly: 3837 entries after code 258.
    const std::vector<uint8_t> pixels = RandomPixels(40000, 256, 7);
    const std::vector<uint8_t> data = EncodeData(LZW, 8, 256, pixels, 200, 200);
    std::vector<uint8_t> stream;  // the sub-blocks after the minimum code size, joined
    for (size_t at = 1; data.at(at) != 0; at += 1 + data[at])
        stream.insert(stream.end(), data.begin() + static_cast<ptrdiff_t>(at + 1),
                      data.begin() + static_cast<ptrdiff_t>(at + 1 + data[at]));
    const TCodeTrace codes = TraceCodes(stream, 8);
    ASSERT_GT(codes.Codes.size(), 5000u);
    EXPECT_EQ(codes.Codes.front(), 256);
    int clears = 0;
    for (size_t i = 1; i < codes.Codes.size(); ++i) {
        if (codes.Codes[i] != 256) continue;
        ++clears;
        EXPECT_EQ(codes.NextSlot[i], 4095) << "clear code " << clears;
        EXPECT_EQ(codes.CodeSize[i], 12);
        ASSERT_LT(i + 1, codes.Codes.size());
        EXPECT_EQ(codes.CodeSize[i + 1], 9);  // the table starts again
    }
    EXPECT_GE(clears, 2);
    EXPECT_EQ(codes.Codes.back(), 257);
    ExpectReadBack(
        [&] {
            TGIFImage image;
            AddFrame(image, 200, 200, pixels, TestColors(256));
            return SaveGIF(image);
        }(),
        {pixels});
}

TEST(GIFImageData, DataIsCutIntoSubBlocksOf255) {
    for (size_t count : {size_t{255}, size_t{256}, size_t{510}, size_t{1}}) {
        TMemoryStream stream;
        TGIFWriter writer(stream);
        for (size_t i = 0; i < count; ++i) writer.WriteByte(static_cast<uint8_t>(i));
        writer.Finish();
        std::vector<uint8_t> expected;
        for (size_t at = 0; at < count; at += 255) {
            const size_t size = std::min<size_t>(255, count - at);
            expected.push_back(static_cast<uint8_t>(size));
            for (size_t i = at; i < at + size; ++i) expected.push_back(static_cast<uint8_t>(i));
        }
        EXPECT_EQ(std::vector<uint8_t>(stream.Memory(), stream.Memory() + stream.ByteCount()), expected) << count;
    }

    // Whole frames whose code streams are exactly 255 and 256 bytes long.
    std::map<size_t, std::vector<size_t>> found;
    // (With one table size the lengths reachable have gaps: codes grow in steps.)
    for (uint32_t seed = 0; seed < 5000 && found.size() < 2; ++seed) {
        const int bits = 2 + static_cast<int>(seed % 7);
        const int width = 150 + static_cast<int>(seed % 400);
        const std::vector<uint8_t> pixels = RandomPixels(static_cast<size_t>(width), 1 << bits, seed);
        const std::vector<uint8_t> data = EncodeData(LZW, bits, 1 << bits, pixels, width, 1);
        // minimum code size, blocks, terminator
        std::vector<size_t> blocks;
        size_t total = 0;
        size_t at = 1;
        for (; data.at(at) != 0; at += 1 + data[at]) {
            blocks.push_back(data[at]);
            total += data[at];
        }
        EXPECT_EQ(at + 1, data.size()) << "bytes after the terminator";
        if ((total == 255 || total == 256) && !found.count(total)) found[total] = blocks;
    }
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[255], (std::vector<size_t>{255}));
    EXPECT_EQ(found[256], (std::vector<size_t>{255, 1}));
}

TEST(GIFImageData, InterlacedRowsAreWrittenInPassOrder) {
    for (TEncoding encoding : {LZW, RLE}) {
        TGIFImage image;
        image.Compression = encoding;
        image.GlobalColorMap().Assign(TestColors(4).data(), 4);
        TGIFSubImage& frame = AddFrame(image, 2, 3, {0, 0, 1, 1, 2, 2});
        frame.SetInterlaced(true);
        std::vector<uint8_t> bytes = SaveGIF(image);
        const TWrittenGIF gif = WalkGIF(bytes);
        ASSERT_EQ(gif.Frames.size(), 1u);
        EXPECT_EQ(gif.Frames[0].PackedFields, 0x40);
        ExpectReadBack(bytes, {{0, 0, 1, 1, 2, 2}});
        // Read as not interlaced, the rows come in the order they were written.
        bytes[gif.Frames[0].DescriptorOffset + 9] = 0;
        TGIFImage plain;
        EXPECT_EQ(LoadGIF(plain, bytes).Error, "");
        EXPECT_EQ(FramePixels(plain.Images()[0]), (std::vector<uint8_t>{0, 0, 2, 2, 1, 1}));
    }
}

TEST(GIFImageData, PixelOutsideTheColourTableIsRefused) {
    TGIFImage image;
    AddFrame(image, 3, 1, {0, 1, 3}, TestColors(3));
    TMemoryStream stream;
    try {
        image.SaveToStream(stream);
        FAIL() << "an index beyond the table was written";
    } catch (const GIFException& error) {
        EXPECT_STREQ(error.what(), "Color not in color table");
    }
}

TEST(GIFImageData, GlobalTableFramesStayWithinTheTableAsWritten) {
    // Another frame's 256-colour table makes the code size 8, but pixels of a
    // frame on the 3-colour global table may only use its 4 written entries.
    TGIFImage image;
    image.GlobalColorMap().Assign(TestColors(3).data(), 3);
    AddFrame(image, 2, 1, {0, 3});
    AddFrame(image, 2, 1, {200, 255}, TestColors(256));
    const std::vector<uint8_t> bytes = SaveGIF(image);
    EXPECT_EQ(WalkGIF(bytes).Frames.at(0).MinimumCodeSize, 8);
    ExpectReadBack(bytes, {{0, 3}, {200, 255}});

    image.Images()[0].Data()[1] = 4;
    TMemoryStream stream;
    EXPECT_THROW(image.SaveToStream(stream), GIFException);
}

// ---------------------------------------------------------------- encoders

TEST(GIFEncoders, EveryPatternDecodesThroughEveryDecoder) {
    struct TCase {
        const char* name;
        int bits;
        int width, height;
        std::vector<uint8_t> pixels;
    };
    std::vector<TCase> cases;
    for (int bits = 1; bits <= 8; ++bits) {
        const int colors = 1 << bits;
        cases.push_back({"random", bits, 61, 47, RandomPixels(61 * 47, colors, 11u + unsigned(bits))});
        cases.push_back({"short runs", bits, 97, 53, RunPixels(97 * 53, colors, 12, 21u + unsigned(bits))});
        cases.push_back({"long runs", bits, 300, 211, RunPixels(300 * 211, colors, 5000, 31u + unsigned(bits))});
        cases.push_back({"one colour", bits, 640, 480, std::vector<uint8_t>(640 * 480, uint8_t(colors - 1))});
    }
    // A run far longer than a full table of run codes holds (3837 codes).
    cases.push_back({"huge run", 8, 4000, 2000, RunPixels(4000 * 2000, 3, 3000000, 5)});
    cases.push_back({"1 x 1", 2, 1, 1, {3}});
    cases.push_back({"alternating", 1, 1000, 3, RunPixels(3000, 2, 1, 9)});
    for (const TCase& test : cases) {
        for (TEncoding encoding : {LZW, RLE}) {
            for (bool interlaced : {false, true}) {
                SCOPED_TRACE(std::string(test.name) + ", bits " + std::to_string(test.bits) +
                             (encoding == RLE ? ", RLE" : ", LZW") + (interlaced ? ", interlaced" : ""));
                TGIFImage image;
                image.Compression = encoding;
                image.GlobalColorMap().Assign(TestColors(1 << test.bits).data(), 1 << test.bits);
                AddFrame(image, test.width, test.height, test.pixels).SetInterlaced(interlaced);
                ExpectReadBack(SaveGIF(image), {test.pixels});
                if (::testing::Test::HasFailure()) return;
            }
        }
    }
}

TEST(GIFEncoders, RunLengthCodesStayShortForLongRuns) {
    // One colour: about sqrt(2n) codes per table instead of one per pixel.
    const std::vector<uint8_t> pixels(100000, 1);
    const std::vector<uint8_t> rle = EncodeData(RLE, 8, 256, pixels, 1000, 100);
    EXPECT_LT(rle.size(), 1000u);
    const std::vector<uint8_t> random = RandomPixels(10000, 256, 1);
    // Without runs every pixel is one code of 9 bits.
    EXPECT_LT(EncodeData(RLE, 8, 256, random, 100, 100).size(), 10000u * 9 / 8 + 10000u / 40 + 20);
}

TEST(GIFEncoders, RunLengthCodesFollowTheDecodersTable) {
    // 10 pixels of value 1: the pixel, then the codes the decoder is about to
    // define (runs of 2, 3, 4), right after the first clear code.
    const std::vector<uint8_t> data = EncodeData(RLE, 8, 256, std::vector<uint8_t>(10, 1), 10, 1);
    ASSERT_EQ(data.at(0), 8);
    const TCodeTrace codes = TraceCodes(std::vector<uint8_t>(data.begin() + 2, data.end() - 1), 8);
    EXPECT_EQ(codes.Codes, (std::vector<int>{256, 1, 258, 259, 260, 257}));
    for (size_t i = 2; i + 1 < codes.Codes.size(); ++i) EXPECT_EQ(codes.Codes[i], codes.NextSlot[i]);
}

TEST(GIFEncoders, HashTableNeverRunsOutOfSlotsOnOneHalf) {
    // Probing by doubling modulo 8009 stays within 4004 slots; keys that all
    // start there must still find room (a 2-bit table holds 4089 entries).
    auto firstProbe = [](uint32_t key) { return ((key >> 4) ^ key) % 8009; };
    auto isResidue = [](uint32_t slot) {
        uint64_t result = 1, base = slot;
        for (uint32_t e = (8009 - 1) / 2; e; e >>= 1, base = base * base % 8009)
            if (e & 1) result = result * base % 8009;
        return result == 1;
    };
    std::vector<uint32_t> keys;
    for (uint32_t key = 0; keys.size() < 4089; ++key)
        if (firstProbe(key) != 0 && isResidue(firstProbe(key))) keys.push_back(key);
    THashTable table;
    for (size_t i = 0; i < keys.size(); ++i) table.Insert(keys[i], static_cast<uint32_t>(6 + i % 4000));
    for (size_t i = 0; i < keys.size(); ++i) ASSERT_EQ(table.Lookup(keys[i]), static_cast<int>(6 + i % 4000));
    uint32_t missing = keys.back() + 1;
    while (firstProbe(missing) == 0 || !isResidue(firstProbe(missing))) ++missing;
    EXPECT_EQ(table.Lookup(missing), -1);
    table.Clear();
    EXPECT_EQ(table.Lookup(keys[0]), -1);
}

TEST(GIFEncoders, EmptyFrameDataIsTheEndCodeAlone) {
    TLZWEncoder encoder;
    TMemoryStream stream;
    EncodeFrameData(encoder, stream, 1, 2, nullptr, false, 0, 0);
    // Minimum code size 2, one block with the end code (5) in 3 bits, terminator.
    EXPECT_EQ(std::vector<uint8_t>(stream.Memory(), stream.Memory() + stream.ByteCount()),
              (std::vector<uint8_t>{2, 1, 5, 0}));
}

TEST(GIFEncoders, WriterStreamRefusesReadingAndSeeking) {
    TMemoryStream target;
    TGIFWriter writer(target);
    uint8_t byte = 0;
    for (auto operation : {+[](TGIFWriter&w, uint8_t*b) { w.Read(b, 1); },
                           +[](TGIFWriter&w, uint8_t*) { w.Seek(0, TSeekOrigin::Beginning); }}) {
        try {
            operation(writer, &byte);
            FAIL() << "the writer stream allowed it";
        } catch (const Exception& error) {
            EXPECT_STREQ(error.what(), "Invalid stream operation");
        }
    }
}
