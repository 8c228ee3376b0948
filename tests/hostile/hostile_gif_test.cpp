// Hostile GIF files: LZW minimum code sizes of 12 to 255, codes beyond the
// next free table slot, table chains that point forward or loop through one or
// more entries, frames and screens of 65535 x 65535 in a few dozen bytes, and
// thousands of frames.

#include <gtest/gtest.h>

#include "formats/gif/gif_errors.hpp"
#include "formats/gif/gif_image.hpp"
#include "tests/formats/gif/gif_test_files.hpp"
#include "tests/hostile/hostile_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
using namespace tamberlit::testing::hostile;

namespace {

TOutcome GIFError(const std::string& message) { return Refused("GIFException", message); }

// A 4-colour screen of the given size with one frame of the given size at
// (left, top) whose data are the codes (3 bits wide unless they say otherwise).
std::vector<uint8_t> OneFrame(int screenWidth, int screenHeight, int width, int height, int minimumCodeSize,
                              const std::vector<TCode>& codes, int left = 0, int top = 0, uint8_t packed = 0) {
    TBytes bytes = GIFHeader(screenWidth, screenHeight, 1);
    AppendDescriptor(bytes, left, top, width, height, packed);
    AppendImageData(bytes, minimumCodeSize, codes);
    return bytes.U8(0x3B).Data();
}

// The 2-entry loop: after a clear, a code beyond the table becomes the
// previous string; the next two codes then make entries 6 and 7 each other's
// prefix. Code 6 walks the loop.
std::vector<TCode> TwoEntryLoop() { return {{4, 3}, {7, 3}, {6, 3}, {7, 3}, {6, 4}, {5, 4}}; }

// The same with three entries (minimum code size 3: clear 8, first free 10):
// 10 -> 12, 11 -> 10, 12 -> 11.
std::vector<TCode> ThreeEntryLoop() { return {{8, 4}, {12, 4}, {10, 4}, {11, 4}, {12, 4}, {12, 4}, {9, 4}}; }

std::vector<uint8_t> ManyFrames(int count, int width, int height, bool withData) {
    TBytes bytes = GIFHeader(width, height, 1);
    const std::vector<uint8_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height), 1);
    for (int i = 0; i < count; ++i) {
        // The first frame, the picture, is always whole: empty ones after it.
        if (withData || i == 0) {
            AppendFrame(bytes, width, height, pixels);
        } else {
            AppendDescriptor(bytes, 0, 0, width, height);
            bytes.U8(2).U8(0);  // minimum code size, no data at all
        }
    }
    return bytes.U8(0x3B).Data();
}

// The table keeps a case to a line where it fits, as written.
// clang-format off
std::vector<TCase> Cases() {
    std::vector<TCase> cases;
    // ---- minimum code sizes beyond 11
    for (int size : {12, 13, 16, 31, 32, 64, 128, 255})
        cases.push_back({"MinimumCodeSize" + std::to_string(size), TReader::GIF,
                         [size] { return OneFrame(4, 4, 4, 4, size, {{0, 8}, {0, 8}}); },
                         GIFError(GIFText::InvalidGIFData)});
    cases.push_back({"MinimumCodeSize11ClearAtTheTableEnd", TReader::GIF,
                     [] { return OneFrame(4, 4, 4, 4, 11, {{2048, 12}, {3, 12}, {4095, 12}, {4094, 12}, {2049, 12}}); },
                     CutShort(1, 4)});
    cases.push_back({"MinimumCodeSize0", TReader::GIF,
                     [] { return OneFrame(4, 4, 4, 4, 0, {{1, 1}, {0, 1}, {0, 1}, {1, 1}, {0, 2}, {3, 2}}); },
                     CutShort(0, 4)});
    cases.push_back({"MinimumCodeSize1", TReader::GIF,
                     [] { return OneFrame(4, 4, 4, 4, 1, {{2, 2}, {1, 2}, {7, 3}, {7, 3}, {3, 3}}); },
                     CutShort(0, 4)});

    // ---- codes beyond the next free slot
    cases.push_back({"CodeFarBeyondTheNextSlot", TReader::GIF,
                     [] { return OneFrame(4, 4, 4, 4, 2, {{4, 3}, {1, 3}, {7, 3}, {7, 3}, {5, 4}}); },
                     CutShort(1, 4)});
    cases.push_back({"OnlyCodesBeyondTheTableUntilItIsFull", TReader::GIF,
                     [] {
                         std::vector<TCode> codes{{4, 3}, {1, 3}};
                         int width = 3, next = 6;
                         while (next < 4096) {
                             codes.push_back({(1 << width) - 1, width});
                             if (++next >= (1 << width) && width < 12) ++width;
                         }
                         for (int i = 0; i < 2000; ++i) codes.push_back({4095, 12});
                         return OneFrame(200, 200, 200, 200, 2, codes);
                     },
                     // Each such code makes an entry whose prefix is the
                     // entry itself: the first lookup of one is a loop.
                     GIFError(GIFText::CircularDecoderTableEntry)});
    cases.push_back({"FirstCodeAfterClearBeyondTheTable", TReader::GIF,
                     [] { return OneFrame(4, 4, 4, 4, 2, {{4, 3}, {7, 3}, {7, 3}, {4, 3}, {6, 3}, {5, 3}}); },
                     CutShort(1, 4)});

    // ---- chains that point forward or loop
    cases.push_back({"ForwardChain", TReader::GIF,
                     [] { return OneFrame(4, 4, 4, 4, 3, {{8, 4}, {12, 4}, {10, 4}, {10, 4}, {9, 4}}); },
                     CutShort(1, 4)});
    cases.push_back({"TwoEntryCircularChain", TReader::GIF, [] { return OneFrame(8, 8, 8, 8, 2, TwoEntryLoop()); },
                     GIFError(GIFText::CircularDecoderTableEntry)});
    cases.push_back({"ThreeEntryCircularChain", TReader::GIF,
                     [] { return OneFrame(8, 8, 8, 8, 3, ThreeEntryLoop()); },
                     GIFError(GIFText::CircularDecoderTableEntry)});
    cases.push_back({"CircularChainInTheSecondFrame", TReader::GIF,
                     [] {
                         TBytes bytes = GIFHeader(8, 8, 1);
                         AppendFrame(bytes, 8, 8, std::vector<uint8_t>(64, 1));
                         AppendDescriptor(bytes, 0, 0, 8, 8);
                         AppendImageData(bytes, 2, TwoEntryLoop());
                         return bytes.U8(0x3B).Data();
                     },
                     // The image refuses the file; the dispatcher still converts
                     // the complete first frame, the only one it converts.
                     GIFError(GIFText::CircularDecoderTableEntry), false, /*DispatcherLoads=*/true});
    cases.push_back({"CircularChainAfterTheFramesPixels", TReader::GIF,
                     [] {
                         // The loop is walked by the last code, when the
                         // frame's one pixel is long since complete.
                         return OneFrame(1, 1, 1, 1, 2, {{4, 3}, {7, 3}, {6, 3}, {7, 3}, {6, 4}, {6, 4}, {5, 4}});
                     },
                     Loaded(1, 1, Px8)});

    // ---- huge sides in a few bytes
    cases.push_back({"Frame65535x65535In40Bytes", TReader::GIF,
                     [] { return OneFrame(65535, 65535, 65535, 65535, 2, {{4, 3}, {5, 3}}); },
                     Refused("EImageTooLarge", TooLarge(65535, 65535))});
    cases.push_back({"Frame65535x65535OnATinyScreen", TReader::GIF,
                     [] { return OneFrame(1, 1, 65535, 65535, 2, {{4, 3}, {5, 3}}); },
                     Refused("EImageTooLarge", TooLarge(65535, 65535))});
    cases.push_back({"Screen65535x65535WithATinyFrame", TReader::GIF,
                     [] { return OneFrame(65535, 65535, 1, 1, 2, {{4, 3}, {1, 3}, {5, 3}}); },
                     Refused("EImageTooLarge", TooLarge(65535, 65535))});
    cases.push_back({"FrameAt65535x65535OnATinyScreen", TReader::GIF,
                     [] { return OneFrame(2, 2, 2, 2, 2, {{4, 3}, {1, 3}, {5, 3}}, 65535, 65535); },
                     CutShort(0, 2)});
    cases.push_back({"Frame65535x1Interlaced", TReader::GIF,
                     [] { return OneFrame(65535, 1, 65535, 1, 2, {{4, 3}, {1, 3}, {5, 3}}, 0, 0, 0x40); },
                     CutShort(0, 1)});
    cases.push_back({"Frame1x65535InterlacedNoData", TReader::GIF,
                     [] { return OneFrame(1, 65535, 1, 65535, 2, {}, 0, 0, 0x40); }, CutShort(1, 65535)});
    cases.push_back({"FrameOfZeroWidth", TReader::GIF,
                     // The empty frame on its white screen.
                     [] { return OneFrame(4, 4, 0, 4, 2, {{4, 3}, {1, 3}, {5, 3}}); }, CutShort(0, 4)});
    cases.push_back({"FrameOfZeroHeightAsTheScreen", TReader::GIF,
                     [] { return OneFrame(4, 0, 4, 0, 2, {{4, 3}, {1, 3}, {5, 3}}); }, NoPicture()});
    cases.push_back({"ScreenOfZeroWithAFrame", TReader::GIF,
                     [] { return OneFrame(0, 0, 3, 3, 2, {{4, 3}, {1, 3}, {5, 3}}); }, CutShort(0, 3)});

    // ---- files that hold little of the picture they declare (converting
    // one touches and writes every pixel of it)
    cases.push_back({"Frame16384x16383WithoutData", TReader::GIFFirstFrame,
                     [] {
                         TBytes bytes = GIFHeader(16384, 16383, 1);
                         AppendDescriptor(bytes, 0, 0, 16384, 16383);
                         return bytes.U8(2).U8(0).U8(0x3B).Data();
                     },
                     CutShort(0, 16383)});
    cases.push_back({"OneSubBlockOf4096x4096", TReader::GIFFirstFrame,
                     [] { return OneFrame(4096, 4096, 4096, 4096, 2, LiteralCodes(std::vector<uint8_t>(100, 1), 2)); },
                     CutShort(0, 4096)});
    // Half of the rows and more convert; less is refused.
    AddCuts(cases, "Frame64x64", TReader::GIFFirstFrame,
            [] {
                std::vector<uint8_t> pixels(64 * 64);
                for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7 / 64 % 4);
                TBytes bytes = GIFHeader(64, 64, 1);
                AppendFrame(bytes, 64, 64, pixels);
                return bytes.U8(0x3B).Data();
            },
            {{40, CutShort(0, 64)}, {600, CutShort(15, 64)}, {1200, Loaded(64, 64, Px8)}});

    // ---- thousands of frames
    cases.push_back({"FiveThousandFramesOfOnePixel", TReader::GIF, [] { return ManyFrames(5000, 1, 1, true); },
                     Loaded(1, 1, Px8)});
    cases.push_back({"ThreeThousandEmptyFramesOf64x64", TReader::GIF, [] { return ManyFrames(3000, 64, 64, false); },
                     Loaded(64, 64, Px8)});
    // The converter reads the first frame only: the other frames cost
    // nothing, however many there are. (Read completely, 65,000 empty frames
    // of 64 x 64 take 254 MiB and 2 s before the decoded-size limit stops
    // them: the full load is bounded by that limit only.)
    cases.push_back({"SixtyFiveThousandEmptyFramesOf64x64", TReader::GIFFirstFrame,
                     [] { return ManyFrames(65000, 64, 64, false); }, Loaded(64, 64, Px8)});
    cases.push_back({"DamagedSecondFrameFirstFrameOnly", TReader::GIFFirstFrame,
                     [] {
                         TBytes bytes = GIFHeader(8, 8, 1);
                         AppendFrame(bytes, 8, 8, std::vector<uint8_t>(64, 1));
                         AppendDescriptor(bytes, 0, 0, 8, 8);
                         AppendImageData(bytes, 2, TwoEntryLoop());
                         return bytes.Data();
                     },
                     Loaded(8, 8, Px8)});
    cases.push_back({"TwentyThousandFramesWithoutData", TReader::GIF, [] { return ManyFrames(20000, 2, 2, false); },
                     Loaded(2, 2, Px8)});
    cases.push_back({"DescriptorsOnly", TReader::GIF,
                     [] {
                         TBytes bytes = GIFHeader(2, 2, 1);
                         for (int i = 0; i < 20000; ++i) AppendDescriptor(bytes, 0, 0, 2, 2);
                         return bytes.Data();
                     },
                     GIFError(GIFText::InvalidGIFData)});

    // ---- blocks that point nowhere
    cases.push_back({"EmptyFile", TReader::GIF, [] { return std::vector<uint8_t>{}; },
                     GIFError(GIFText::InvalidGIFSignature)});
    cases.push_back({"SignatureOnly", TReader::GIF, [] { return TBytes().Text("GIF89a").Data(); },
                     GIFError(GIFText::PrematureEndOfData)});
    cases.push_back({"NoFrames", TReader::GIF, [] { return GIFHeader(5, 5, 1).U8(0x3B).Data(); }, NoPicture()});
    cases.push_back({"SubBlockLongerThanTheFile", TReader::GIF,
                     [] {
                         TBytes bytes = GIFHeader(4, 4, 1);
                         AppendDescriptor(bytes, 0, 0, 4, 4);
                         return bytes.U8(2).U8(255).U8(0x8C).Data();
                     },
                     CutShort(0, 4)});
    cases.push_back({"ExtensionWithoutTerminator", TReader::GIF,
                     [] {
                         TBytes bytes = GIFHeader(4, 4, 1);
                         bytes.U8(0x21).U8(0xFE);
                         for (int i = 0; i < 100; ++i) bytes.U8(255).Fill(255, 'x');
                         return bytes.U8(200).Data();
                     },
                     GIFError(GIFText::PrematureEndOfData)});
    cases.push_back({"LocalColorTableCutShort", TReader::GIF,
                     [] {
                         TBytes bytes = GIFHeader(4, 4, -1);
                         AppendDescriptor(bytes, 0, 0, 4, 4, 0x87);
                         return bytes.Fill(20, 9).Data();
                     },
                     GIFError(GIFText::PrematureEndOfData)});

    // ---- extensions
    auto withExtension = [](std::vector<uint8_t> extension) {
        TBytes bytes = GIFHeader(4, 4, 1);
        bytes.Append(extension);
        AppendFrame(bytes, 4, 4, std::vector<uint8_t>(16, 1));
        return bytes.U8(0x3B).Data();
    };
    // Application blocks of any size but 10 and 11 are not read.
    cases.push_back({"ApplicationExtensionOfBlockSize0", TReader::GIF,
                     [withExtension] { return withExtension({0x21, 0xFF, 0, 0}); },
                     GIFError(GIFText::UnsupportedAppExtBlockSize)});
    cases.push_back({"ApplicationExtensionOfBlockSize255", TReader::GIF,
                     [withExtension] {
                         std::vector<uint8_t> extension{0x21, 0xFF, 255};
                         extension.insert(extension.end(), 255, 'N');
                         extension.push_back(0);
                         return withExtension(extension);
                     },
                     GIFError(GIFText::UnsupportedAppExtBlockSize)});
    cases.push_back({"LoopCountSubBlockTooShort", TReader::GIF,
                     [withExtension] {
                         std::vector<uint8_t> extension{0x21, 0xFF, 11};
                         for (char c : std::string("NETSCAPE2.0")) extension.push_back(uint8_t(c));
                         extension.insert(extension.end(), {2, 1, 0, 0});
                         return withExtension(extension);
                     },
                     GIFError(GIFText::InvalidGIFData)});
    cases.push_back({"GraphicControlOfBlockSize255", TReader::GIF,
                     [withExtension] { return withExtension({0x21, 0xF9, 255, 1, 0, 0, 3, 0}); }, Loaded(4, 4, Px8)});
    cases.push_back({"PlainTextWithAGridOf65535", TReader::GIF,
                     [withExtension] {
                         return withExtension({0x21, 0x01, 12, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 255, 255, 1, 0,
                                               3, 'a', 'b', 'c', 0});
                     },
                     Loaded(4, 4, Px8)});
    cases.push_back({"UnknownExtensionLabel", TReader::GIF,
                     [withExtension] { return withExtension({0x21, 0x42, 3, 1, 2, 3, 0}); },
                     GIFError(GIFText::UnknownExtensionType)});
    cases.push_back({"CommentOfAQuarterMillionTinySubBlocks", TReader::GIF,
                     [withExtension] {
                         std::vector<uint8_t> extension{0x21, 0xFE};
                         for (int i = 0; i < 250000; ++i) extension.insert(extension.end(), {1, 'x'});
                         extension.push_back(0);
                         return withExtension(extension);
                     },
                     Loaded(4, 4, Px8)});
    return cases;
}
// clang-format on

class HostileGIF : public ::testing::TestWithParam<TCase> {};

TEST_P(HostileGIF, HandledWithinBounds) { CheckCase(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Files, HostileGIF, ::testing::ValuesIn(Cases()), CaseName);

// Reading the first frame only leaves the rest of the file unread: no
// warning about the blocks after it, and one frame.
TEST(HostileGIFFirstFrame, TheBlocksAfterTheFirstFrameAreNotRead) {
    TBytes bytes = GIFHeader(4, 4, 1);
    AppendFrame(bytes, 4, 4, std::vector<uint8_t>(16, 2));
    bytes.U8(0x99).Fill(100, 0x99);  // no block at all
    TGIFImage image;
    image.FirstFrameOnly = true;
    const TLoadResult result = LoadGIF(image, bytes.Data());
    EXPECT_EQ(result.Error, "");
    EXPECT_TRUE(result.Warnings.empty());
    ASSERT_EQ(image.Images().Count(), 1);
    EXPECT_EQ(FramePixels(image.Images()[0]), std::vector<uint8_t>(16, 2));

    TGIFImage whole;
    const TLoadResult wholeResult = LoadGIF(whole, bytes.Data());
    EXPECT_EQ(wholeResult.Warnings,
              (std::vector<std::string>{GIFText::UnknownGIFBlockType, GIFText::InvalidImageTrailer}));
}

}  // namespace
