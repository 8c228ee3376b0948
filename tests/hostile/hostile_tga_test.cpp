// Hostile TGA files: sides at and beyond the decoded-size limit, run-length
// packets that overrun rows and the image, colour maps far beyond 256 entries
// or of odd entry sizes, and headers whose fields point nowhere.

#include <gtest/gtest.h>

#include "formats/tga/tga_file.hpp"
#include "tests/formats/tga/tga_test_files.hpp"
#include "tests/hostile/hostile_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
using namespace tamberlit::testing::hostile;

namespace {

const TOutcome formatError = Refused("ETGA", TGAFormatError);

std::vector<uint8_t> Header(TTGAFields fields) { return TGAHeader(fields).Data(); }

// A header, then the given tail.
std::vector<uint8_t> HeaderAnd(TTGAFields fields, const std::vector<uint8_t>& tail) {
    TBytes bytes = TGAHeader(fields);
    return bytes.Append(tail).Data();
}

// count packets of the given header byte, each followed by its values.
std::vector<uint8_t> Packets(int count, uint8_t header, size_t valueBytes, uint8_t value = 0x5A) {
    std::vector<uint8_t> data;
    for (int i = 0; i < count; ++i) {
        data.push_back(header);
        const size_t pixels = (header & 0x80) ? 1 : (header & 0x7Fu) + 1;
        data.insert(data.end(), pixels * valueBytes, value);
    }
    return data;
}

// 64 x 64 pixels of 32 bits, each row one raw block or, run-length encoded,
// one run of 5 bytes.
std::vector<uint8_t> Whole64x64(bool runLength) {
    TBytes bytes = TGAHeader({.type = runLength ? 10u : 2u, .width = 64, .height = 64});
    for (int y = 0; y < 64; ++y) {
        if (runLength) bytes.U8(0xBF).U8(y).U8(2).U8(3).U8(255);
        else bytes.Fill(256, static_cast<uint8_t>(y));
    }
    return bytes.Data();
}

// The table keeps a case to a line where it fits, as written.
// clang-format off
std::vector<TCase> Cases() {
    std::vector<TCase> cases = {
        // ---- header-only bombs: 18 bytes that declare 16 GiB
        {"HeaderOnly65535x65535True32", TReader::TGA, [] { return Header({.width = 65535, .height = 65535}); },
         Refused("EImageTooLarge", TooLarge(65535, 65535))},
        {"HeaderOnly65535x65535Rle24", TReader::TGA,
         [] { return Header({.type = 10, .width = 65535, .height = 65535, .depth = 24}); },
         Refused("EImageTooLarge", TooLarge(65535, 65535))},
        {"HeaderOnly65535x65535MappedWithHugeMap", TReader::TGA,
         [] {
             return Header({.mapType = 1, .type = 1, .mapLength = 65535, .mapEntrySize = 32, .width = 65535,
                            .height = 65535, .depth = 8});
         },
         Refused("EImageTooLarge", TooLarge(65535, 65535))},
        {"HeaderOnly65535x65535Grey16", TReader::TGA,
         [] { return Header({.type = 11, .width = 65535, .height = 65535, .depth = 16}); },
         Refused("EImageTooLarge", TooLarge(65535, 65535))},
        {"JustAboveThePixelLimit16385x16384", TReader::TGA,
         [] { return Header({.width = 16385, .height = 16384}); },
         Refused("EImageTooLarge", TooLarge(16385, 16384))},
        // Within the limit, no pixel data: refused as cut short, before a
        // row of the picture is touched.
        {"HeaderOnly65535x4096JustWithinTheLimit", TReader::TGA,
         [] { return Header({.width = 65535, .height = 4096, .depth = 24}); }, CutShort(0, 4096)},
        {"Width16385OneRowNoData", TReader::TGA, [] { return Header({.width = 16385, .height = 1, .depth = 24}); },
         CutShort(0, 1)},
        {"Width65535OneRowRleRunsOnly", TReader::TGA,
         [] { return HeaderAnd({.type = 10, .width = 65535, .height = 1}, Packets(600, 0xFF, 4)); },
         Loaded(65535, 1, Px32)},
        {"Width65535Rows4MirroredTopDownShort", TReader::TGA,
         [] { return HeaderAnd({.width = 65535, .height = 4, .descriptor = 0x30}, std::vector<uint8_t>(1000, 7)); },
         CutShort(0, 4)},
        {"Height65535OneColumn", TReader::TGA,
         [] { return HeaderAnd({.type = 3, .width = 1, .height = 65535, .depth = 8}, std::vector<uint8_t>(65535, 9)); },
         Loaded(1, 65535, Px8)},

        // ---- run-length data overrunning rows and the image
        {"RlePacketRunsOverEveryRow", TReader::TGA,
         [] { return HeaderAnd({.type = 10, .width = 3, .height = 5}, Packets(1, 0xFF, 4)); },
         Loaded(3, 5, Px32)},
        {"RleRawPacketRunsPastTheImage", TReader::TGA,
         [] { return HeaderAnd({.type = 10, .width = 2, .height = 2, .depth = 24}, Packets(3, 0x7F, 3)); },
         Loaded(2, 2, Px24)},
        {"RleRunPastTheImageThenGarbage", TReader::TGA,
         [] {
             auto data = Packets(4, 0xFF, 1);
             data.insert(data.end(), 5000, 0xFF);
             return HeaderAnd({.type = 9, .width = 7, .height = 3, .depth = 8}, data);
         },
         Loaded(7, 3, Px8)},
        {"RleRunValueCutShort", TReader::TGA,
         [] { return HeaderAnd({.type = 10, .width = 4, .height = 4}, {0x83, 1, 2}); }, CutShort(0, 4)},
        {"RleRawPacketCutShort", TReader::TGA,
         [] { return HeaderAnd({.type = 10, .width = 4, .height = 4, .depth = 16}, {0x7F, 1, 2, 3}); },
         CutShort(0, 4)},
        {"RleMirroredRowsWithPacketsAcrossThem", TReader::TGA,
         [] { return HeaderAnd({.type = 10, .width = 5, .height = 9, .depth = 24, .descriptor = 0x10}, Packets(1, 0xFF, 3)); },
         Loaded(5, 9, Px24)},
        {"RleOnlyPacketHeaders", TReader::TGA,
         [] { return HeaderAnd({.type = 11, .width = 300, .height = 300, .depth = 16}, std::vector<uint8_t>(70000, 0x80)); },
         CutShort(77, 300)},
        {"RleGrey16RunsOverTheImage", TReader::TGA,
         [] { return HeaderAnd({.type = 11, .width = 1, .height = 1, .depth = 16}, Packets(200, 0xFF, 2)); },
         Loaded(1, 1, Px32)},

        // ---- colour maps
        {"ColorMap65535Entries24BitCutShort", TReader::TGA,
         [] {
             return HeaderAnd({.mapType = 1, .type = 1, .mapLength = 65535, .mapEntrySize = 24, .width = 2, .height = 2, .depth = 8},
                              std::vector<uint8_t>(900, 0x44));
         },
         CutShort(0, 2)},
        {"ColorMap300EntriesThenPixels", TReader::TGA,
         [] {
             std::vector<uint8_t> tail(300 * 3, 0x10);
             tail.insert(tail.end(), {0, 1, 2, 255});
             return HeaderAnd({.mapType = 1, .type = 1, .mapLength = 300, .mapEntrySize = 24, .width = 2, .height = 2, .depth = 8},
                              tail);
         },
         Loaded(2, 2, Px8)},
        {"ColorMapStartingAt65535", TReader::TGA,
         [] {
             return HeaderAnd({.mapType = 1, .type = 9, .mapFirst = 65535, .mapLength = 65535, .mapEntrySize = 32,
                               .width = 8, .height = 8, .depth = 8},
                              std::vector<uint8_t>(4096, 0x81));
         },
         CutShort(0, 8)},
        {"ColorMapStartingAt250With100Entries", TReader::TGA,
         [] {
             std::vector<uint8_t> tail(100 * 4, 0xEE);
             tail.insert(tail.end(), 16, 255);
             return HeaderAnd({.mapType = 1, .type = 1, .mapFirst = 250, .mapLength = 100, .mapEntrySize = 32,
                               .width = 4, .height = 4, .depth = 8},
                              tail);
         },
         Loaded(4, 4, Px8)},
        {"ColorMapOf15BitEntries", TReader::TGA,
         [] {
             std::vector<uint8_t> tail(512 * 2, 0xFF);
             tail.insert(tail.end(), 4, 200);
             return HeaderAnd({.mapType = 1, .type = 1, .mapLength = 512, .mapEntrySize = 15, .width = 2, .height = 2, .depth = 8},
                              tail);
         },
         Loaded(2, 2, Px8)},
        {"ColorMapOf32BitEntriesCutInsideAnEntry", TReader::TGA,
         [] {
             return HeaderAnd({.mapType = 1, .type = 1, .mapLength = 256, .mapEntrySize = 32, .width = 2, .height = 2, .depth = 8},
                              {1, 2, 3, 4, 5, 6});
         },
         CutShort(0, 2)},
        {"ColorMapOfEntrySize255", TReader::TGA,
         [] {
             return HeaderAnd({.mapType = 1, .type = 1, .mapLength = 65535, .mapEntrySize = 255, .width = 2, .height = 2, .depth = 8},
                              std::vector<uint8_t>(100, 3));
         },
         CutShort(0, 2)},
        {"ColorMapOfEntrySize0", TReader::TGA,
         [] {
             return HeaderAnd({.mapType = 1, .type = 1, .mapLength = 65535, .mapEntrySize = 0, .width = 2, .height = 2, .depth = 8},
                              {1, 2, 3, 4});
         },
         Loaded(2, 2, Px8)},
        {"ColorMapOnATrueColourImage", TReader::TGA,
         [] {
             return HeaderAnd({.mapType = 1, .type = 2, .mapLength = 1000, .mapEntrySize = 16, .width = 2, .height = 2, .depth = 32},
                              std::vector<uint8_t>(2016, 0x33));
         },
         Loaded(2, 2, Px32)},

        // ---- fields that point nowhere
        {"EmptyFile", TReader::TGA, [] { return std::vector<uint8_t>{}; }, formatError},
        {"HeaderCutAfterTheType", TReader::TGA, [] { return std::vector<uint8_t>{0, 0, 2}; }, formatError},
        {"ImageType255", TReader::TGA, [] { return Header({.type = 255, .width = 4, .height = 4}); }, formatError},
        {"ImageTypeHuffman32", TReader::TGA, [] { return Header({.type = 32, .width = 4, .height = 4}); }, formatError},
        {"PixelDepth15", TReader::TGA, [] { return Header({.width = 4, .height = 4, .depth = 15}); }, formatError},
        {"PixelDepth255", TReader::TGA, [] { return Header({.type = 10, .width = 4, .height = 4, .depth = 255}); },
         formatError},
        {"PixelDepth0", TReader::TGA, [] { return Header({.type = 3, .width = 4, .height = 4, .depth = 0}); },
         formatError},
        {"Width0", TReader::TGA, [] { return HeaderAnd({.width = 0, .height = 5}, {1, 2, 3, 4}); }, NoPicture()},
        {"Height0Rle", TReader::TGA, [] { return HeaderAnd({.type = 10, .width = 5, .height = 0}, {0xFF, 1, 2, 3, 4}); },
         NoPicture()},
        {"IdLongerThanTheFile", TReader::TGA,
         [] { return HeaderAnd({.idLength = 255, .width = 3, .height = 3}, {1, 2, 3}); }, CutShort(0, 3)},

        // ---- files that hold little of the picture they declare (converting
        // one touches and writes every pixel of it)
        {"TextFileReadAsAType2Header8313x28257", TReader::TGA,
         [] {
             TBytes bytes = TGAHeader({.width = 8313, .height = 28257});
             bytes.Text("A note whose first bytes happen to read as a TGA header.");
             return bytes.Fill(93 - bytes.Size(), ' ').Data();
         },
         CutShort(0, 28257)},
        {"OneRunPacketOf4096x4096", TReader::TGA,
         [] { return HeaderAnd({.type = 10, .width = 4096, .height = 4096}, Packets(1, 0xFF, 4)); },
         CutShort(0, 4096)},
    };
    // Half of the rows and more convert; less is refused.
    AddCuts(cases, "Raw64x64", TReader::TGA, [] { return Whole64x64(false); },
            {{118, CutShort(0, 64)}, {18 + 31 * 256 + 10, CutShort(31, 64)}, {18 + 32 * 256, Loaded(64, 64, Px32)},
             {18 + 64 * 256 - 1, Loaded(64, 64, Px32)}});
    AddCuts(cases, "Rle64x64", TReader::TGA, [] { return Whole64x64(true); },
            {{18 + 5 * 31 + 4, CutShort(31, 64)}, {18 + 5 * 32, Loaded(64, 64, Px32)}});
    return cases;
}
// clang-format on

class HostileTGA : public ::testing::TestWithParam<TCase> {};

TEST_P(HostileTGA, HandledWithinBounds) { CheckCase(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Files, HostileTGA, ::testing::ValuesIn(Cases()), CaseName);

// What the overrunning packets leave in the picture: the run fills every row
// and stops at the image's end, and the raw packet's surplus is dropped.
TEST(HostileTGAContent, OverrunningPacketsFillTheImageAndStopAtItsEnd) {
    auto bitmap = LoadTGA(HeaderAnd({.type = 10, .width = 3, .height = 5, .descriptor = 0x20}, {0xFF, 1, 2, 3, 4}));
    for (int y = 0; y < 5; ++y)
        EXPECT_EQ(RowBytes(*bitmap, y), (std::vector<uint8_t>{1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4})) << y;

    std::vector<uint8_t> raw{0x7F};
    for (int i = 0; i < 128; ++i) raw.insert(raw.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
    auto small = LoadTGA(HeaderAnd({.type = 10, .width = 2, .height = 2, .depth = 24, .descriptor = 0x20}, raw));
    EXPECT_EQ(RowBytes(*small, 0), (std::vector<uint8_t>{0, 0, 0, 1, 1, 1}));
    EXPECT_EQ(RowBytes(*small, 1), (std::vector<uint8_t>{2, 2, 2, 3, 3, 3}));
}

}  // namespace

namespace {

// A map of 300 entries is stepped over whole: the pixels after it are found,
// and the palette holds the first 256 entries.
TEST(HostileTGAContent, PixelsAfterAColourMapOfMoreThan256EntriesAreFound) {
    std::vector<uint8_t> tail;
    for (int i = 0; i < 300; ++i) tail.insert(tail.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
    tail.insert(tail.end(), {0, 1, 2, 255});
    auto bitmap = LoadTGA(HeaderAnd({.mapType = 1,
                                     .type = 1,
                                     .mapLength = 300,
                                     .mapEntrySize = 24,
                                     .width = 2,
                                     .height = 2,
                                     .depth = 8,
                                     .descriptor = 0x20},
                                    tail));
    ASSERT_EQ(bitmap->PixelFormat(), Px8);
    EXPECT_EQ(RowBytes(*bitmap, 0), (std::vector<uint8_t>{0, 1}));
    EXPECT_EQ(RowBytes(*bitmap, 1), (std::vector<uint8_t>{2, 255}));
    EXPECT_EQ(RgbPixels(*bitmap), (std::vector<uint8_t>{0, 0, 0, 1, 1, 1, 2, 2, 2, 255, 255, 255}));
}

}  // namespace
