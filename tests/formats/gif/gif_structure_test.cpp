// Reading the block structure of GIF files: signature, screen, colour tables,
// the frame list and the extension blocks.

#include <gtest/gtest.h>

#include "formats/gif/gif_image.hpp"
#include "image/limits.hpp"
#include "image/picture_registry.hpp"
#include "tests/formats/gif/gif_test_files.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;

namespace {

// A 2 x 1 screen with a 4-colour table and one frame of pixels 1, 2.
TBytes SmallGIF() {
    TBytes bytes = GIFHeader(2, 1, 1);
    AppendFrame(bytes, 2, 1, {1, 2});
    return bytes;
}

TBytes WithTrailer(TBytes bytes) { return bytes.U8(0x3B); }

// An application extension with the given block size and identifier bytes,
// then the sub-blocks given.
TBytes& AppendApplication(TBytes& bytes, int blockSize, const std::string& identifier,
                          const std::vector<uint8_t>& subBlocks) {
    return bytes.U8(0x21).U8(0xFF).U8(static_cast<unsigned>(blockSize)).Text(identifier).Append(subBlocks);
}

}  // namespace

TEST(GIFSignature, PrefixCaseAndVersionAreTolerated) {
    TBytes plain = WithTrailer(SmallGIF());
    TBytes prefixed;
    prefixed.Text("ABCD").Append(plain.Data());
    TBytes lowerCase = plain;
    std::copy_n("gif", 3, lowerCase.Data().begin());
    TBytes otherVersion = plain;
    std::copy_n("12x", 3, otherVersion.Data().begin() + 3);

    for (const TBytes* bytes : {&plain, &prefixed, &lowerCase, &otherVersion}) {
        TGIFImage image;
        const TLoadResult result = LoadGIF(image, bytes->Data());
        EXPECT_EQ(result.Error, "");
        EXPECT_TRUE(result.Warnings.empty());
        ASSERT_EQ(image.Images().Count(), 1);
        EXPECT_EQ(image.Width(), 2);
        EXPECT_EQ(FramePixels(image.Images()[0]), (std::vector<uint8_t>{1, 2}));
    }
}

TEST(GIFSignature, NoSignatureAtStartOrFourBytesOnIsRefused) {
    for (const char* text : {"PNG89a", "ABCDEFGH", "GI", "", "abcdGIx"}) {
        TBytes bytes;
        bytes.Text(text).Fill(20, 0);
        TGIFImage image;
        EXPECT_EQ(LoadGIF(image, bytes.Data()).Error, "Invalid GIF signature") << text;
    }
}

TEST(GIFSignature, FailedLoadRestoresTheStreamPosition) {
    TBytes broken;
    broken.Text("xx").Text("GIF89a").U16(1);  // screen descriptor cut short
    TMemoryViewStream stream(broken.Data().data(), broken.Size());
    stream.SetPosition(2);
    TGIFImage image;
    try {
        image.LoadFromStream(stream);
        FAIL() << "a cut header loaded";
    } catch (const GIFException& error) {
        EXPECT_STREQ(error.what(), "Premature end of data");
    }
    EXPECT_EQ(stream.Position(), 2);
}

TEST(GIFSignature, SuccessfulLoadLeavesTheStreamAfterTheTrailer) {
    TBytes bytes = WithTrailer(SmallGIF());
    bytes.Text("after");
    TMemoryViewStream stream(bytes.Data().data(), bytes.Size());
    TGIFImage image;
    image.LoadFromStream(stream);
    EXPECT_EQ(stream.Position(), static_cast<int64_t>(bytes.Size() - 5));
}

TEST(GIFColorTables, SizeCodesGiveTwoToTheCodePlusOneEntries) {
    for (int code : {0, 7}) {
        TBytes bytes = GIFHeader(1, 1, code);
        AppendFrame(bytes, 1, 1, {1});
        bytes.U8(0x3B);
        TGIFImage image;
        ASSERT_EQ(LoadGIF(image, bytes.Data()).Error, "");
        EXPECT_EQ(image.GlobalColorMap().Count(), 2 << code);
        EXPECT_EQ(image.GlobalColorMap().Color((2 << code) - 1),
                  RGBColor(uint8_t((2 << code) - 1), uint8_t((2 << code) - 1), uint8_t((2 << code) - 1)));
        EXPECT_EQ(image.Images()[0].Pixel(0, 0), 1);  // the table was read to its end, no more
    }
}

TEST(GIFColorTables, LocalTableIsReadAndBecomesTheActiveOne) {
    TBytes bytes = GIFHeader(1, 1, 0);
    AppendDescriptor(bytes, 0, 0, 1, 1, 0x81);  // local table of 4 entries
    bytes.U8(10).U8(20).U8(30).Fill(9, 0);
    AppendImageData(bytes, 2, LiteralCodes({0}, 2)).U8(0x3B);
    TGIFImage image;
    ASSERT_EQ(LoadGIF(image, bytes.Data()).Error, "");
    TGIFSubImage& frame = image.Images()[0];
    EXPECT_EQ(frame.ColorMap().Count(), 4);
    EXPECT_EQ(&frame.ActiveColorMap(), &frame.ColorMap());
    EXPECT_EQ(frame.ActiveColorMap().Color(0), RGBColor(10, 20, 30));
}

TEST(GIFColorTables, ColorOutsideTheTableWarnsAndGivesEntryZero) {
    TGIFImage image;
    std::vector<std::string> warnings;
    image.OnGIFWarning = [&](TGIFImage&, const TGIFItem* sender, TGIFSeverity, const std::string& message) {
        EXPECT_EQ(sender, &image.Header());
        warnings.push_back(message);
    };
    TGIFColorMap& colors = image.GlobalColorMap();
    try {
        colors.Color(0);
        FAIL() << "an empty table gave a colour";
    } catch (const GIFException& error) {
        EXPECT_STREQ(error.what(), "Color table is empty");
    }
    colors.Add(RGBColor(1, 2, 3));
    colors.Add(RGBColor(4, 5, 6));
    warnings.clear();
    EXPECT_EQ(colors.Color(7), RGBColor(1, 2, 3));
    EXPECT_EQ(colors.Color(-1), RGBColor(1, 2, 3));
    EXPECT_EQ(warnings, (std::vector<std::string>{"Invalid color index", "Invalid color index"}));
    EXPECT_EQ(colors.IndexOfColor(RGBColor(4, 5, 6)), 1);
    EXPECT_EQ(colors.IndexOfColor(RGBColor(4, 5, 7)), -1);
    EXPECT_THROW(colors.Delete(2), GIFException);
    for (int i = colors.Count(); i < 256; ++i) colors.Add(0);
    EXPECT_EQ(colors.Capacity(), 256);
    try {
        colors.Add(0);
        FAIL() << "a 257th colour was added";
    } catch (const GIFException& error) {
        EXPECT_STREQ(error.what(), "Color table overflow");
    }
}

TEST(GIFColorTables, BitsForColorCount) {
    const std::pair<int, int> cases[] = {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 3}, {128, 7}, {129, 8}, {256, 8}};
    for (auto [count, bits] : cases) EXPECT_EQ(TGIFColorMap::BitsForColorCount(count), bits) << count;
}

TEST(GIFFrameList, MissingTrailerAndZeroBytesBetweenBlocksAreAccepted) {
    TBytes bytes = GIFHeader(2, 1, 1);
    bytes.Fill(3, 0);
    AppendFrame(bytes, 2, 1, {1, 2});
    bytes.Fill(2, 0);
    AppendGraphicControl(bytes, false, 0);
    AppendFrame(bytes, 2, 1, {3, 0});  // and no trailer
    TGIFImage image;
    const TLoadResult result = LoadGIF(image, bytes.Data());
    EXPECT_EQ(result.Error, "");
    EXPECT_TRUE(result.Warnings.empty());
    ASSERT_EQ(image.Images().Count(), 2);
    EXPECT_EQ(FramePixels(image.Images()[1]), (std::vector<uint8_t>{3, 0}));
    EXPECT_NE(image.Images()[1].GraphicControlExtension(), nullptr);
}

TEST(GIFFrameList, CommentBeforeTheTrailerMakesAnEmptyFrame) {
    TBytes bytes = SmallGIF();
    bytes.U8(0x21).U8(0xFE).U8(5).Text("hello").U8(3).Text("bye").U8(0).U8(0x3B);
    TGIFImage image;
    ASSERT_EQ(LoadGIF(image, bytes.Data()).Error, "");
    ASSERT_EQ(image.Images().Count(), 2);
    TGIFSubImage& last = image.Images()[1];
    EXPECT_TRUE(last.Empty());
    ASSERT_EQ(last.Extensions().Count(), 1);
    auto* comment = dynamic_cast<TGIFCommentExtension*>(&last.Extensions()[0]);
    ASSERT_NE(comment, nullptr);
    EXPECT_EQ(comment->Comment, (std::vector<std::string>{"hello", "bye"}));
}

TEST(GIFFrameList, UnknownBlockEndsTheListWithWarnings) {
    TBytes bytes = SmallGIF();
    bytes.U8(0x42).Append(SmallGIF().Data());
    TGIFImage image;
    const TLoadResult result = LoadGIF(image, bytes.Data());
    EXPECT_EQ(result.Error, "");
    EXPECT_EQ(result.Warnings, (std::vector<std::string>{"Unknown GIF block type", "Invalid Image trailer"}));
    EXPECT_EQ(image.Images().Count(), 1);
}

TEST(GIFFrameList, ProgressReportsStartEachFrameAndEnd) {
    TBytes bytes = SmallGIF();
    AppendFrame(bytes, 2, 1, {0, 0});
    bytes.U8(0x3B);
    TGIFImage image;
    std::vector<std::pair<TGIFProgressStage, int>> steps;
    image.OnProgress = [&](TGIFImage&, TGIFProgressStage stage, int percent, const std::string& message) {
        EXPECT_EQ(message, "Loading...");
        steps.emplace_back(stage, percent);
    };
    TMemoryViewStream stream(bytes.Data().data(), bytes.Size());
    image.LoadFromStream(stream);
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[0], std::make_pair(gpsStarting, 0));
    EXPECT_EQ(steps[1].first, gpsRunning);
    EXPECT_LT(steps[1].second, steps[2].second);
    EXPECT_EQ(steps[2].second, static_cast<int>((100 * (bytes.Size() - 1) + bytes.Size() / 2) / bytes.Size()));
    EXPECT_EQ(steps[3], std::make_pair(gpsEnding, 100));
}

TEST(GIFExtensions, UnregisteredLabelFailsTheLoadKeepingEarlierFrames) {
    TBytes bytes = SmallGIF();
    bytes.U8(0x21).U8(0xF8).U8(1).U8(0).U8(0);
    AppendFrame(bytes, 2, 1, {0, 0});
    bytes.U8(0x3B);
    TGIFImage image;
    EXPECT_EQ(LoadGIF(image, bytes.Data()).Error, "Unknown extension type");
    ASSERT_EQ(image.Images().Count(), 1);
    EXPECT_EQ(FramePixels(image.Images()[0]), (std::vector<uint8_t>{1, 2}));
}

TEST(GIFExtensions, ApplicationBlockSizes) {
    // 10: a short identifier, read as an unknown application extension whose
    // identifier ends with the next byte.
    TBytes ten = GIFHeader(2, 1, 1);
    AppendApplication(ten, 10, "ABCDEFGHIJ", {2, 7, 8, 0});
    AppendFrame(ten, 2, 1, {1, 2}).U8(0x3B);
    TGIFImage image;
    ASSERT_EQ(LoadGIF(image, ten.Data()).Error, "");
    ASSERT_EQ(image.Images().Count(), 1);
    ASSERT_EQ(image.Images()[0].Extensions().Count(), 1);
    auto* unknown = dynamic_cast<TGIFUnknownAppExtension*>(&image.Images()[0].Extensions()[0]);
    ASSERT_NE(unknown, nullptr);
    EXPECT_EQ(unknown->IdentifierText(), std::string("ABCDEFGHIJ\x02"));
    ASSERT_EQ(unknown->Blocks.size(), 1u);
    EXPECT_EQ(unknown->Blocks[0].Data, (std::vector<uint8_t>{7, 8}));
    EXPECT_EQ(FramePixels(image.Images()[0]), (std::vector<uint8_t>{1, 2}));

    // Below 11 otherwise, and above 11 without a registered class: refused.
    for (int size : {9, 1, 12}) {
        TBytes bytes = GIFHeader(2, 1, 1);
        AppendApplication(bytes, size, std::string(static_cast<size_t>(size), 'A'), {1, 0, 0});
        AppendFrame(bytes, 2, 1, {1, 2}).U8(0x3B);
        TGIFImage refused;
        EXPECT_EQ(LoadGIF(refused, bytes.Data()).Error, "Unsupported Application Extension block size") << size;
        EXPECT_EQ(refused.Images().Count(), 0);
    }
}

TEST(GIFExtensions, UnknownApplicationKeepsItsSubBlocks) {
    TBytes bytes = GIFHeader(2, 1, 1);
    AppendApplication(bytes, 11, "XMP DataXMP", {3, 'a', 'b', 'c', 1, 'd', 0});
    AppendFrame(bytes, 2, 1, {1, 2}).U8(0x3B);
    TGIFImage image;
    ASSERT_EQ(LoadGIF(image, bytes.Data()).Error, "");
    auto* unknown = dynamic_cast<TGIFUnknownAppExtension*>(&image.Images()[0].Extensions()[0]);
    ASSERT_NE(unknown, nullptr);
    EXPECT_EQ(unknown->IdentifierText(), "XMP DataXMP");
    ASSERT_EQ(unknown->Blocks.size(), 2u);
    EXPECT_EQ(unknown->Blocks[1].Data, (std::vector<uint8_t>{'d'}));
}

TEST(GIFExtensions, LoopingSubBlocks) {
    struct Case {
        std::vector<uint8_t> data;
        std::string error;
        int loops;
        uint32_t buffer;
    } cases[] = {
        {{3, 1, 5, 0, 0}, "", 5, 0},
        {{3, 0x09, 7, 1, 0}, "", 0x107, 0},  // only the low three bits of the id count
        {{5, 2, 1, 2, 3, 4, 0}, "", 0, 0x04030201},
        {{4, 1, 2, 0, 99, 2, 0xAB, 0x55, 0}, "", 2, 0},  // extra bytes are skipped; unknown kinds too
        {{2, 1, 5, 0}, "Invalid GIF data", 0, 0},
        {{4, 2, 1, 2, 3, 0}, "Invalid GIF data", 0, 0},
    };
    for (const char* identifier : {"NETSCAPE2.0", "ANIMEXTS1.0"}) {
        for (const Case& c : cases) {
            TBytes bytes = GIFHeader(2, 1, 1);
            AppendApplication(bytes, 11, identifier, c.data);
            AppendFrame(bytes, 2, 1, {1, 2}).U8(0x3B);
            TGIFImage image;
            EXPECT_EQ(LoadGIF(image, bytes.Data()).Error, c.error);
            if (!c.error.empty()) continue;
            auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(&image.Images()[0].Extensions()[0]);
            ASSERT_NE(loop, nullptr);
            EXPECT_EQ(loop->Loops, c.loops);
            EXPECT_EQ(loop->BufferSize, c.buffer);
            EXPECT_EQ(FramePixels(image.Images()[0]), (std::vector<uint8_t>{1, 2}));
        }
    }
}

TEST(GIFExtensions, LoopingExtensionEndingWithTheStreamLoads) {
    TBytes bytes = GIFHeader(2, 1, 1);
    AppendFrame(bytes, 2, 1, {1, 2});
    AppendApplication(bytes, 11, "NETSCAPE2.0", {3, 1, 4, 0});
    bytes.Data().resize(bytes.Size() - 3);  // ends right after the sub-block size
    TGIFImage image;
    EXPECT_EQ(LoadGIF(image, bytes.Data()).Error, "");
    ASSERT_EQ(image.Images().Count(), 2);
    EXPECT_EQ(dynamic_cast<TGIFAppExtNSLoop&>(image.Images()[1].Extensions()[0]).Loops, 0);
}

TEST(GIFExtensions, GraphicControlRecord) {
    TBytes bytes = GIFHeader(2, 1, 1);
    bytes.U8(0x21).U8(0xF9).U8(4).U8(0x0D).U16(0x1234).U8(3).U8(0);  // disposal 3, transparent
    AppendGraphicControl(bytes, false, 1);                           // a second one is kept but does not count
    AppendFrame(bytes, 2, 1, {1, 2}).U8(0x3B);
    TGIFImage image;
    ASSERT_EQ(LoadGIF(image, bytes.Data()).Error, "");
    TGIFSubImage& frame = image.Images()[0];
    ASSERT_EQ(frame.Extensions().Count(), 2);
    TGIFGraphicControlExtension* control = frame.GraphicControlExtension();
    ASSERT_EQ(control, &frame.Extensions()[0]);
    EXPECT_TRUE(frame.Transparent());
    EXPECT_EQ(control->Disposal(), 3);
    EXPECT_EQ(control->Delay(), 0x1234);
    EXPECT_EQ(control->TransparentColorIndex(), 3);
    frame.Extensions().Delete(0);
    EXPECT_FALSE(frame.Transparent());
    EXPECT_EQ(frame.GraphicControlExtension(), nullptr);
}

TEST(GIFExtensions, ShortGraphicControlRecordWarnsAndKeepsWhatArrived) {
    TBytes bytes = GIFHeader(2, 1, 1);
    bytes.U8(0x21).U8(0xF9).U8(4).U8(0x01).U8(0x20);  // 3 of 6 bytes, then the file ends
    TGIFImage image;
    const TLoadResult result = LoadGIF(image, bytes.Data());
    EXPECT_EQ(result.Error, "");
    EXPECT_EQ(result.Warnings, std::vector<std::string>{"Premature end of data"});
    ASSERT_EQ(image.Images().Count(), 1);
    TGIFGraphicControlExtension* control = image.Images()[0].GraphicControlExtension();
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->Delay(), 0x20);
    EXPECT_FALSE(image.Images()[0].Transparent());  // a cut record does not mark the frame
}

TEST(GIFExtensions, PlainTextRecordAndLines) {
    TBytes bytes = GIFHeader(2, 1, 1);
    bytes.U8(0x21).U8(0x01).U8(12).U16(1).U16(2).U16(30).U16(40).U8(5).U8(6).U8(7).U8(8);
    bytes.U8(2).Text("hi").U8(0);
    AppendFrame(bytes, 2, 1, {1, 2}).U8(0x3B);
    TGIFImage image;
    ASSERT_EQ(LoadGIF(image, bytes.Data()).Error, "");
    auto* text = dynamic_cast<TGIFTextExtension*>(&image.Images()[0].Extensions()[0]);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->Record().Width, 30);
    EXPECT_EQ(text->Record().BackgroundColorIndex, 8);
    EXPECT_EQ(text->Text, std::vector<std::string>{"hi"});

    TBytes cut = GIFHeader(2, 1, 1);
    cut.U8(0x21).U8(0x01).U8(12).U16(1);
    TGIFImage refused;
    EXPECT_EQ(LoadGIF(refused, cut.Data()).Error, "Premature end of data");
}

TEST(GIFExtensions, NonExtensionByteInsideARunWarnsAndEndsTheRun) {
    TBytes bytes = GIFHeader(2, 1, 1);
    AppendGraphicControl(bytes, false, 0);
    bytes.U8(0);  // the run ends here; the frame has no image
    AppendFrame(bytes, 2, 1, {1, 2}).U8(0x3B);
    TGIFImage image;
    const TLoadResult result = LoadGIF(image, bytes.Data());
    EXPECT_EQ(result.Error, "");
    EXPECT_EQ(result.Warnings, std::vector<std::string>{"Invalid extension introducer"});
    ASSERT_EQ(image.Images().Count(), 2);
    EXPECT_TRUE(image.Images()[0].Empty());
    EXPECT_EQ(image.Images()[0].Extensions().Count(), 1);
    EXPECT_EQ(FramePixels(image.Images()[1]), (std::vector<uint8_t>{1, 2}));
}

TEST(GIFExtensions, Registries) {
    EXPECT_EQ(FindExtensionClass(0xF9), &GIFGraphicControlExtensionClass);
    EXPECT_EQ(FindExtensionClass(0x01), &GIFTextExtensionClass);
    EXPECT_EQ(FindExtensionClass(0xFE), &GIFCommentExtensionClass);
    EXPECT_EQ(FindExtensionClass(0xFF), &GIFApplicationExtensionClass);
    EXPECT_EQ(FindExtensionClass(0xF8), nullptr);
    TGIFApplicationExtension::TIdentifier id;
    std::copy_n("ANIMEXTS1.0", 11, id.begin());
    EXPECT_EQ(FindAppExtensionClass(id), &GIFAppExtNSLoopClass);
    std::copy_n("NETSCAPE2.1", 11, id.begin());
    EXPECT_EQ(FindAppExtensionClass(id), nullptr);
}

TEST(GIFLimits, FramesBeyondTheTotalLimitFailTheLoadKeepingEarlierOnes) {
    TBytes bytes = GIFHeader(40, 40, 1);
    for (int i = 0; i < 20; ++i) AppendFrame(bytes, 40, 40, std::vector<uint8_t>(1600, 1));
    bytes.U8(0x3B);
    TGIFImage image;
    image.Limits = {10000};
    const std::string error = LoadGIF(image, bytes.Data()).Error;
    EXPECT_NE(error.find("Image too large"), std::string::npos) << error;
    EXPECT_GE(image.Images().Count(), 4);
    EXPECT_LT(image.Images().Count(), 7);
}

TEST(GIFLimits, AFrameAboveTheLimitIsRefusedBeforeAllocating) {
    TBytes bytes = GIFHeader(2, 1, 1);
    AppendDescriptor(bytes, 0, 0, 50000, 50000);
    AppendImageData(bytes, 2, LiteralCodes({1}, 2));
    TGIFImage image;
    image.Limits = {1000};
    const std::string error = LoadGIF(image, bytes.Data()).Error;
    EXPECT_NE(error.find("Image too large"), std::string::npos) << error;
    EXPECT_EQ(image.Images().Count(), 0);
}

TEST(GIFLimits, ManyEmptyFramesCannotAllocateWithoutBound) {
    TBytes bytes = GIFHeader(2, 1, 1);
    for (int i = 0; i < 5000; ++i) bytes.U8(0x21).U8(0xFE).U8(1).U8('x').U8(0);
    bytes.U8(0x3B);
    TGIFImage image;
    image.Limits = {100000};
    const std::string error = LoadGIF(image, bytes.Data()).Error;
    EXPECT_NE(error.find("Image too large"), std::string::npos) << error;
    EXPECT_LT(image.Images().Count(), 5000);
}

TEST(GIFRegistration, FormatAndClipboardFormatAreRegistered) {
    bool found = false;
    for (const auto& format : TPicture::FileFormats())
        if (format.Extension == "GIF") {
            found = true;
            EXPECT_EQ(format.Description, "GIF Image");
            EXPECT_EQ(format.ClassName, "TGIFImage");
        }
    EXPECT_TRUE(found);
    auto graphic = TPicture::CreateForExtension("gif");
    ASSERT_NE(graphic, nullptr);
    EXPECT_STREQ(graphic->ClassName(), "TGIFImage");
    bool clipboard = false;
    for (const auto& format : TPicture::ClipboardFormats())
        if (format.ClassName == "TGIFImage") {
            clipboard = true;
            EXPECT_EQ(ClipboardFormatName(format.Format), "GIF Image");
        }
    EXPECT_TRUE(clipboard);
}

TEST(GIFScreen, ScreenCannotShrinkBelowItsFrames) {
    TBytes bytes = GIFHeader(4, 3, 1);
    AppendFrame(bytes, 2, 2, {1, 2, 3, 0}, 2, 0, 1, 1);
    bytes.U8(0x3B);
    TGIFImage image;
    ASSERT_EQ(LoadGIF(image, bytes.Data()).Error, "");
    image.SetWidth(3);
    EXPECT_EQ(image.Width(), 3);
    try {
        image.SetWidth(2);
        FAIL() << "the screen became narrower than its frame";
    } catch (const GIFException& error) {
        EXPECT_STREQ(error.what(), "Image width too small for contained frames");
    }
    try {
        image.SetHeight(2);
        FAIL() << "the screen became lower than its frame";
    } catch (const GIFException& error) {
        EXPECT_STREQ(error.what(), "Image height too small for contained frames");
    }
    EXPECT_EQ(image.Height(), 3);
}
