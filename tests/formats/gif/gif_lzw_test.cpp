// Decoding frames: the LZW code stream (GIF89a, appendix F), interlaced rows,
// and what damaged or short data gives.

#include <gtest/gtest.h>

#include <random>

#include "formats/gif/gif_image.hpp"
#include "formats/gif/gif_lzw_decoder.hpp"
#include "tests/formats/gif/gif_test_files.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;

namespace {

constexpr int clear2 = 4;  // clear and end codes for minimum code size 2
constexpr int end2 = 5;

// Loads one frame (descriptor and data, nothing else) on a screen of the
// given size; returns the stream position after it.
struct TFrameLoad {
    std::unique_ptr<TGIFImage> image = std::make_unique<TGIFImage>();
    std::unique_ptr<TGIFSubImage> frame;
    int64_t position = 0;
    std::string error;
    std::vector<std::string> warnings;
};

TFrameLoad LoadFrame(const TBytes& bytes, int screenWidth = 0, int screenHeight = 0) {
    TFrameLoad load;
    load.image->Header().Descriptor.ScreenWidth = static_cast<uint16_t>(screenWidth);
    load.image->Header().Descriptor.ScreenHeight = static_cast<uint16_t>(screenHeight);
    load.image->OnGIFWarning = [&load](TGIFImage&, const TGIFItem*, TGIFSeverity, const std::string& message) {
        load.warnings.push_back(message);
    };
    load.frame = std::make_unique<TGIFSubImage>(*load.image);
    TMemoryViewStream stream(bytes.Data().data(), bytes.Size());
    try {
        load.frame->LoadFromStream(stream);
    } catch (const std::exception& error) {
        load.error = error.what();
    }
    load.position = stream.Position();
    return load;
}

TBytes Frame(int width, int height, int minimumCodeSize, const std::vector<TCode>& codes, uint8_t packed = 0) {
    TBytes bytes;
    AppendDescriptor(bytes, 0, 0, width, height, packed);
    return AppendImageData(bytes, minimumCodeSize, codes);
}

std::vector<uint8_t> Range(int count) {
    std::vector<uint8_t> values;
    for (int i = 0; i < count; ++i) values.push_back(static_cast<uint8_t>(i));
    return values;
}

}  // namespace

TEST(GIFDecoding, OnePixelThenEndLeavesTheStreamAfterTheTerminator) {
    TBytes bytes = Frame(1, 1, 2, {{clear2, 3}, {0, 3}, {end2, 3}});
    const size_t frameEnd = bytes.Size();
    bytes.Text("next");
    TFrameLoad load = LoadFrame(bytes);
    ASSERT_EQ(load.error, "");
    EXPECT_EQ(FramePixels(*load.frame), std::vector<uint8_t>{0});
    EXPECT_EQ(load.position, static_cast<int64_t>(frameEnd));
    EXPECT_TRUE(load.warnings.empty());
}

TEST(GIFDecoding, CodeAfterAClearIsTakenAsItIs) {
    // The end code right after a clear is not the end: it is a pixel of value 5.
    TFrameLoad load = LoadFrame(Frame(1, 1, 2, {{clear2, 3}, {end2, 3}}));
    ASSERT_EQ(load.error, "");
    EXPECT_EQ(FramePixels(*load.frame), std::vector<uint8_t>{5});
}

TEST(GIFDecoding, CodeEqualToTheNextFreeSlot) {
    // 1, 2 make entry 6 = "1 2"; 6 gives "1 2" and makes entry 7 = "2 1", after
    // which codes have 4 bits; 8 is not yet in the table: "1 2" and its first value.
    TFrameLoad load = LoadFrame(Frame(7, 1, 2, {{clear2, 3}, {1, 3}, {2, 3}, {6, 3}, {8, 4}, {end2, 4}}));
    ASSERT_EQ(load.error, "");
    EXPECT_EQ(FramePixels(*load.frame), (std::vector<uint8_t>{1, 2, 1, 2, 1, 2, 1}));
    EXPECT_TRUE(load.warnings.empty());
}

TEST(GIFDecoding, CodeSizeStopsAtTwelveBits) {
    // Literals only: every code after the first adds an entry; the width grows
    // at 512, 1024 and 2048 entries and stays at 12 bits once the table is full.
    std::vector<TCode> codes{{256, 9}};
    std::vector<uint8_t> pixels;
    int next = 258;
    int width = 9;
    for (int i = 0; i < 5000; ++i) {
        const int value = (i * 7) % 256;
        codes.push_back({value, width});
        pixels.push_back(static_cast<uint8_t>(value));
        if (i > 0 && next < 4096) {
            ++next;
            if (next == (1 << width) && width < 12) ++width;
        }
    }
    codes.push_back({257, 12});
    const TBytes bytes = Frame(100, 50, 8, codes);
    TFrameLoad load = LoadFrame(bytes);
    ASSERT_EQ(load.error, "");
    EXPECT_EQ(FramePixels(*load.frame), pixels);
    EXPECT_EQ(load.position, static_cast<int64_t>(bytes.Size()));
    EXPECT_TRUE(load.warnings.empty());
}

TEST(GIFDecoding, InterlacedRowsAreFilledOnceInPassOrder) {
    const std::pair<int, std::vector<uint8_t>> cases[] = {
        {1, {0}},
        {2, {0, 1}},
        {3, {0, 2, 1}},
        {8, {0, 4, 2, 6, 1, 3, 5, 7}},
        {13, {0, 8, 4, 12, 2, 6, 10, 1, 3, 5, 7, 9, 11}},
    };
    for (const auto& [height, order] : cases) {
        // Row order[k] receives the k-th row of the data, here the value k.
        TFrameLoad load = LoadFrame(Frame(1, height, 4, LiteralCodes(Range(height), 4), 0x40));
        ASSERT_EQ(load.error, "");
        std::vector<uint8_t> expected(static_cast<size_t>(height));
        for (size_t k = 0; k < order.size(); ++k) expected[order[k]] = static_cast<uint8_t>(k);
        EXPECT_EQ(FramePixels(*load.frame), expected) << "height " << height;
    }
}

TEST(GIFDecoding, DataEndingHalfwayKeepsTheFillValue) {
    // Eight 3-bit codes end on a byte boundary; the zero-length block follows.
    const std::vector<TCode> half = {{clear2, 3}, {1, 3}, {2, 3},      {clear2, 3},
                                     {1, 3},      {2, 3}, {clear2, 3}, {clear2, 3}};
    for (bool transparent : {false, true}) {
        TBytes bytes;
        AppendGraphicControl(bytes, transparent, 3);
        bytes.Append(Frame(4, 2, 2, half).Data());
        TFrameLoad load = LoadFrame(bytes);
        ASSERT_EQ(load.error, "");
        const uint8_t fill = transparent ? 3 : 0;
        EXPECT_EQ(FramePixels(*load.frame), (std::vector<uint8_t>{1, 2, 1, 2, fill, fill, fill, fill}));
        ASSERT_FALSE(load.warnings.empty());
        EXPECT_EQ(load.warnings[0], "Decoder bit buffer under-run");
        EXPECT_EQ(load.position, static_cast<int64_t>(bytes.Size()));
    }
}

TEST(GIFDecoding, InterlacedDataEndingEarlyFillsTheRowsNotReached) {
    TBytes bytes;
    AppendGraphicControl(bytes, true, 9);
    AppendDescriptor(bytes, 0, 0, 2, 8, 0x40);
    // Rows 0, 4, 2, 6 and half of row 1; sixteen 5-bit codes end on a byte
    // boundary.
    std::vector<TCode> codes = LiteralCodes({1, 2, 3, 4, 5, 6, 7, 8, 10}, 4, false);
    codes.insert(codes.end(), 6, TCode{16, 5});
    AppendImageData(bytes, 4, codes);
    TFrameLoad load = LoadFrame(bytes);
    ASSERT_EQ(load.error, "");
    EXPECT_EQ(load.frame->RowsPresent().Present, 4);
    std::vector<uint8_t> expected(16, 9);
    expected[0] = 1, expected[1] = 2, expected[8] = 3, expected[9] = 4, expected[4] = 5, expected[5] = 6;
    expected[12] = 7, expected[13] = 8, expected[2] = 10;
    EXPECT_EQ(FramePixels(*load.frame), expected);
}

TEST(GIFDecoding, ALaterFrameWithoutImageDataHoldsTheFillValue) {
    // The file ends after the second frame's descriptor: no code size, no data.
    TBytes bytes = GIFHeader(4, 2, 2);
    AppendFrame(bytes, 4, 2, std::vector<uint8_t>(8, 1));
    AppendGraphicControl(bytes, true, 3);
    AppendDescriptor(bytes, 0, 0, 4, 2);
    TGIFImage image;
    LoadGIF(image, bytes.Data());
    ASSERT_EQ(image.Images().Count(), 2);
    EXPECT_EQ(FramePixels(image.Images()[1]), std::vector<uint8_t>(8, 3));
}

TEST(GIFDecoding, SubBlockLongerThanTheFileWarnsAndDecodesWhatIsThere) {
    TBytes bytes;
    AppendDescriptor(bytes, 0, 0, 4, 1);
    const std::vector<uint8_t> data = PackCodes(LiteralCodes({1, 2, 3, 1}, 2));
    bytes.U8(2).U8(200).Append(data);  // claims 200 bytes, holds 4
    TFrameLoad load = LoadFrame(bytes);
    ASSERT_EQ(load.error, "");
    EXPECT_EQ(FramePixels(*load.frame), (std::vector<uint8_t>{1, 2, 3, 1}));
    ASSERT_FALSE(load.warnings.empty());
    EXPECT_EQ(load.warnings[0], "Premature end of data");
}

TEST(GIFDecoding, FileEndingWhereASubBlockSizeIsExpectedStopsSilently) {
    TBytes bytes;
    AppendDescriptor(bytes, 0, 0, 2, 2);
    const std::vector<uint8_t> data = PackCodes({{clear2, 3}, {3, 3}, {1, 3}, {clear2, 3}});
    bytes.U8(2).U8(static_cast<unsigned>(data.size())).Append(data);
    TFrameLoad load = LoadFrame(bytes);
    ASSERT_EQ(load.error, "");
    EXPECT_EQ(FramePixels(*load.frame), (std::vector<uint8_t>{3, 1, 0, 0}));
    EXPECT_TRUE(load.warnings.empty());
}

TEST(GIFDecoding, EndCodeBeforeTheLastPixelSkipsTheRestOfTheData) {
    TBytes bytes;
    AppendDescriptor(bytes, 0, 0, 1, 2);
    std::vector<uint8_t> data = PackCodes({{clear2, 3}, {2, 3}, {end2, 3}, {1, 3}, {1, 3}});
    AppendSubBlocks(bytes.U8(2), data);
    // Another sub-block follows the one holding the end code; it is skipped too.
    bytes.Data().pop_back();
    bytes.U8(3).U8(1).U8(2).U8(3).U8(0);
    const size_t frameEnd = bytes.Size();
    bytes.U8(0x3B);
    TFrameLoad load = LoadFrame(bytes);
    ASSERT_EQ(load.error, "");
    EXPECT_EQ(FramePixels(*load.frame), (std::vector<uint8_t>{2, 0}));
    EXPECT_EQ(load.position, static_cast<int64_t>(frameEnd));
    EXPECT_TRUE(load.warnings.empty());
}

TEST(GIFDecoding, LastStringRunningPastTheFrameLeavesTheEndCodeUnread) {
    // "1 2" then the entry "1 2" again: 4 values for a 3-pixel frame. The extra
    // pull takes the fourth from the stack, so the end code and the terminator
    // stay in the stream; the frame list then skips the terminator as a 0 byte.
    TBytes bytes = GIFHeader(3, 1, 1);
    AppendDescriptor(bytes, 0, 0, 3, 1);
    AppendImageData(bytes, 2, {{clear2, 3}, {1, 3}, {2, 3}, {6, 3}, {end2, 4}});
    bytes.U8(0x3B);
    TGIFImage image;
    const TLoadResult result = LoadGIF(image, bytes.Data());
    ASSERT_EQ(result.Error, "");
    EXPECT_TRUE(result.Warnings.empty());
    ASSERT_EQ(image.Images().Count(), 1);
    EXPECT_EQ(FramePixels(image.Images()[0]), (std::vector<uint8_t>{1, 2, 1}));
}

TEST(GIFDecoding, ZeroSizeTakesTheScreenSizeWithAWarning) {
    TFrameLoad load = LoadFrame(Frame(0, 7, 2, LiteralCodes({1, 2, 3}, 2)), 3, 2);
    ASSERT_EQ(load.error, "");
    EXPECT_EQ(load.frame->Width(), 3);
    EXPECT_EQ(load.frame->Height(), 2);
    EXPECT_EQ(load.warnings, std::vector<std::string>{"Image exceeds Logical Screen size"});
    EXPECT_EQ(load.frame->Pixel(2, 0), 3);
    EXPECT_EQ(load.frame->Pixel(2, 1), 0);
}

TEST(GIFDecoding, MinimumCodeSizeAboveElevenIsInvalid) {
    for (int size : {12, 143, 255}) {
        TBytes bytes;
        AppendDescriptor(bytes, 0, 0, 1, 1);
        bytes.U8(static_cast<unsigned>(size)).U8(1).U8(0xFF).U8(0);
        EXPECT_EQ(LoadFrame(bytes).error, "Invalid GIF data") << size;
    }
    // 11 is the largest the table allows: clear 2048, codes of 12 bits.
    TFrameLoad load = LoadFrame(Frame(1, 1, 11, {{2048, 12}, {77, 12}, {2049, 12}}));
    ASSERT_EQ(load.error, "");
    EXPECT_EQ(FramePixels(*load.frame), std::vector<uint8_t>{77});
}

TEST(GIFDecoding, EntryThatIsItsOwnPrefixIsCircular) {
    // 7 lies beyond the next free slot (6), so it becomes the previous code and
    // the next entry, 7, gets itself as prefix.
    TFrameLoad load = LoadFrame(Frame(8, 1, 2, {{clear2, 3}, {1, 3}, {7, 3}, {0, 3}, {7, 4}, {end2, 4}}));
    EXPECT_EQ(load.error, "Circular decoder table entry");
}

TEST(GIFDecoding, EntriesPointingAtEachOtherAreCircular) {
    // The raw 7 after the clear gives entry 6 the prefix 7; 6 as the next code
    // gives entry 7 the prefix 6.
    TFrameLoad load = LoadFrame(Frame(8, 1, 2, {{clear2, 3}, {7, 3}, {6, 3}, {0, 3}, {6, 4}, {end2, 4}}));
    EXPECT_EQ(load.error, "Circular decoder table entry");
}

TEST(GIFDecoding, CircularFrameFailsTheLoadKeepingEarlierFrames) {
    TBytes bytes = GIFHeader(2, 1, 1);
    AppendFrame(bytes, 2, 1, {1, 2});
    bytes.Append(Frame(8, 1, 2, {{clear2, 3}, {1, 3}, {7, 3}, {0, 3}, {7, 4}}).Data());
    TGIFImage image;
    EXPECT_EQ(LoadGIF(image, bytes.Data()).Error, "Circular decoder table entry");
    EXPECT_EQ(image.Images().Count(), 1);
}

TEST(GIFDecoding, OneByteSubBlocksCarryCodesAcrossSeveralBoundaries) {
    // 12-bit codes in 1-byte sub-blocks: a code may start in one block and end
    // two blocks later.
    std::vector<uint8_t> pixels;
    for (int i = 0; i < 300; ++i) pixels.push_back(static_cast<uint8_t>(i * 13));
    std::vector<TCode> codes;
    for (size_t i = 0; i < pixels.size(); ++i) {
        if (i % 2 == 0) codes.push_back({2048, 12});
        codes.push_back({pixels[i], 12});
    }
    codes.push_back({2049, 12});
    TBytes bytes;
    AppendDescriptor(bytes, 0, 0, 30, 10);
    AppendImageData(bytes, 11, codes, 1);
    TFrameLoad load = LoadFrame(bytes);
    ASSERT_EQ(load.error, "");
    EXPECT_EQ(FramePixels(*load.frame), pixels);
    EXPECT_EQ(load.position, static_cast<int64_t>(bytes.Size()));
}

TEST(GIFDecoding, RandomDataNeverBreaksTheDecoder) {
    std::mt19937 random(1234);
    for (int round = 0; round < 400; ++round) {
        TBytes bytes;
        const int width = 1 + static_cast<int>(random() % 40);
        const int height = 1 + static_cast<int>(random() % 40);
        AppendDescriptor(bytes, 0, 0, width, height, static_cast<uint8_t>(random() & 0x40));
        bytes.U8(static_cast<unsigned>(2 + random() % 7));
        const int blocks = static_cast<int>(random() % 6);
        for (int b = 0; b < blocks; ++b) {
            const unsigned size = static_cast<unsigned>(random() % 256);
            bytes.U8(size);
            for (unsigned i = 0; i < size; ++i) bytes.U8(random() & 0xFF);
        }
        if (random() % 2) bytes.Data().resize(bytes.Size() - random() % std::min<size_t>(bytes.Size(), 20));
        TFrameLoad load = LoadFrame(bytes);
        if (load.error.empty()) {
            EXPECT_EQ(load.frame->DataSize(), static_cast<size_t>(width * height));
        } else {
            EXPECT_TRUE(load.error == "Circular decoder table entry" || load.error == "Premature end of data" ||
                        load.error.rfind("cut short: ", 0) == 0)
                << load.error;
        }
    }
}

TEST(GIFFramePixels, AccessOutsideTheFrameIsRefused) {
    TFrameLoad load = LoadFrame(Frame(2, 2, 2, LiteralCodes({0, 1, 2, 3}, 2)));
    ASSERT_EQ(load.error, "");
    EXPECT_EQ(load.frame->Pixel(1, 1), 3);
    EXPECT_EQ(load.frame->Scanline(1)[0], 2);
    for (auto [x, y] : {std::pair{2, 0}, {0, 2}, {-1, 0}, {0, -1}}) {
        try {
            load.frame->Pixel(x, y);
            FAIL() << x << "," << y;
        } catch (const GIFException& error) {
            EXPECT_STREQ(error.what(), "Invalid pixel coordinates");
        }
    }
    TGIFSubImage empty(*load.image);
    EXPECT_TRUE(empty.Empty());
    try {
        empty.Data();
        FAIL() << "an empty frame gave pixel data";
    } catch (const GIFException& error) {
        EXPECT_STREQ(error.what(), "Image is empty");
    }
}

namespace {

// The decoding rules written out plainly, as a check on the decoder's faster
// ways: every code is walked through the table onto a stack, one value at a
// time. Codes come from a list instead of a bit stream.
class TReferenceDecoder {
public:
    TReferenceDecoder(const std::vector<int>& codes, int minimumCodeSize)
        : codes_(codes), clear_(1 << minimumCodeSize), minimumCodeSize_(minimumCodeSize) {}

    // The frame's pixels (fill 0), or an empty vector when the data is circular.
    std::vector<uint8_t> Decode(size_t pixels) {
        std::vector<uint8_t> out(pixels, 0);
        try {
            for (size_t i = 0; i < pixels; ++i) {
                const int value = Pull();
                if (value < 0) break;
                out[i] = static_cast<uint8_t>(value);
                ++decoded_;
            }
            Pull();
        } catch (const std::runtime_error&) {
            return {};
        }
        return out;
    }

    // The pixels the data gave before it ran out.
    size_t Decoded() const { return decoded_; }

private:
    int Fetch() {
        if (start_) {
            start_ = false;
            return clear_;
        }
        return index_ < codes_.size() ? codes_[index_++] : -1;
    }
    int Pull() {
        if (!stack_.empty()) {
            const int value = stack_.back();
            stack_.pop_back();
            return value;
        }
        int code = Fetch();
        if (code < 0) return code;
        if (code == clear_) {
            for (int i = 0; i < 4096; ++i) {
                prefix_[i] = 0;
                suffix_[i] = i < clear_ ? i : 0;
            }
            next_ = clear_ + 2;
            threshold_ = 2 * clear_;
            do code = Fetch();
            while (code == clear_);
            first_ = previous_ = code;
            return code;
        }
        if (code == clear_ + 1) {
            index_ = codes_.size();
            return -2;
        }
        const int incoming = code;
        if (code >= next_) {
            stack_.push_back(first_);
            code = previous_;
        }
        while (code >= clear_) {
            stack_.push_back(suffix_[code]);
            if (prefix_[code] == code || stack_.size() > 5000) throw std::runtime_error("circular");
            code = prefix_[code];
        }
        first_ = suffix_[code];
        stack_.push_back(first_);
        if (next_ <= 4095) {
            prefix_[next_] = previous_;
            suffix_[next_] = first_;
            ++next_;
            if (next_ >= threshold_ && threshold_ <= 4095) threshold_ *= 2;
        }
        previous_ = incoming;
        const int value = stack_.back();
        stack_.pop_back();
        return value;
    }

    const std::vector<int>& codes_;
    size_t index_ = 0;
    size_t decoded_ = 0;
    const int clear_;
    const int minimumCodeSize_;
    bool start_ = true;
    int next_ = 0, threshold_ = 0, first_ = 0, previous_ = 0;
    int prefix_[4096] = {}, suffix_[4096] = {};
    std::vector<int> stack_;
};

// A random code stream with the widths a decoder expects: mostly literals and
// table entries, the string-plus-first-character case, clear codes, and in
// damaged streams codes beyond the table and raw values after a clear.
std::vector<TCode> RandomCodes(std::mt19937& random, int minimumCodeSize, size_t count, bool damaged) {
    const int clear = 1 << minimumCodeSize;
    int width = minimumCodeSize + 1, next = clear + 2, threshold = 2 * clear;
    bool afterClear = true;
    std::vector<TCode> codes;
    while (codes.size() < count) {
        const auto pick = random() % 100;
        int code;
        if (pick < 2) {
            code = clear;
        } else if (damaged && pick < 6) {
            code = static_cast<int>(random() % (1u << width));
        } else if (pick < 40 || next == clear + 2) {
            code = static_cast<int>(random() % static_cast<unsigned>(clear));
        } else if (pick < 50 && !afterClear) {
            code = next;
        } else {
            code = clear + 2 + static_cast<int>(random() % static_cast<unsigned>(next - clear - 2));
        }
        if (code >= (1 << width) || code == clear + 1) continue;
        codes.push_back({code, width});
        if (code == clear) {
            width = minimumCodeSize + 1, next = clear + 2, threshold = 2 * clear;
            afterClear = true;
        } else if (afterClear) {
            afterClear = false;
        } else if (next <= 4095) {
            ++next;
            if (next >= threshold && threshold <= 4095) threshold *= 2, ++width;
        }
    }
    codes.push_back({clear + 1, width});
    return codes;
}

}  // namespace

TEST(GIFDecoding, DecoderAgreesWithThePlainTableWalk) {
    std::mt19937 random(99);
    for (int round = 0; round < 300; ++round) {
        const int minimumCodeSize = 2 + static_cast<int>(random() % 7);
        const bool damaged = round % 3 == 0;
        const bool interlaced = round % 4 == 1;
        const int width = 1 + static_cast<int>(random() % 60);
        const int height = 1 + static_cast<int>(random() % 60);
        const std::vector<TCode> codes = RandomCodes(random, minimumCodeSize, 200 + random() % 3000, damaged);
        std::vector<int> values;
        for (const TCode& code : codes) values.push_back(code.value);
        TReferenceDecoder reference(values, minimumCodeSize);
        std::vector<uint8_t> expected = reference.Decode(static_cast<size_t>(width * height));

        TBytes bytes;
        AppendDescriptor(bytes, 0, 0, width, height, interlaced ? 0x40 : 0);
        AppendImageData(bytes, minimumCodeSize, codes, static_cast<size_t>(1 + random() % 255));
        TFrameLoad load = LoadFrame(bytes);
        SCOPED_TRACE("round " + std::to_string(round));
        if (expected.empty()) {
            EXPECT_EQ(load.error, "Circular decoder table entry");
            continue;
        }
        const size_t rowsDecoded = reference.Decoded() / static_cast<size_t>(width);
        if (2 * rowsDecoded < static_cast<size_t>(height)) {
            EXPECT_EQ(load.error,
                      "cut short: " + std::to_string(rowsDecoded) + " of " + std::to_string(height) + " rows present");
            continue;
        }
        ASSERT_EQ(load.error, "");
        if (interlaced) {
            // Data row k belongs at the k-th row of the pass order.
            std::vector<uint8_t> placed(expected.size());
            TInterlacedRows rows(height);
            for (int k = 0; k < height; ++k, rows.Advance())
                std::copy_n(expected.begin() + k * width, width, placed.begin() + rows.Row() * width);
            expected = placed;
        }
        EXPECT_EQ(FramePixels(*load.frame), expected);
    }
}
