// Building GIF content for writing: the file structure written (version,
// header, extensions), frames made from bitmaps and from other frames, frame
// placement, colour tables sorted by usage, and saving to files.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "color/reduce.hpp"
#include "formats/gif/gif_image.hpp"
#include "tests/formats/gif/gif_test_files.hpp"
#include "tests/formats/gif/gif_write_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;

namespace {

// A Px24 bitmap whose pixel (x, y) has the colour colorAt(x, y) (0x00BBGGRR).
template <class F>
void Fill24(TBitmap& bitmap, int width, int height, F colorAt) {
    bitmap.NewImage(width, height, Px24);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.RowAddress(y);
        for (int x = 0; x < width; ++x) {
            const TColor color = colorAt(x, y);
            row[3 * x] = BlueOf(color);
            row[3 * x + 1] = GreenOf(color);
            row[3 * x + 2] = RedOf(color);
        }
    }
}

std::vector<TGIFColor> TableOf(TGIFColorMap& colors) {
    return std::vector<TGIFColor>(colors.Data(), colors.Data() + colors.Count());
}

std::string SaveError(TGIFImage& image) {
    TMemoryStream stream;
    try {
        image.SaveToStream(stream);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

// A graphic no bitmap can take.
class TOpaqueGraphic : public TGraphic {
public:
    const char* ClassName() const override { return "TOpaqueGraphic"; }
    bool Empty() const override { return false; }
    int Width() const override { return 1; }
    int Height() const override { return 1; }
    void SetWidth(int) override {}
    void SetHeight(int) override {}
    void LoadFromStream(TStream&) override {}
    void SaveToStream(TStream&) override {}
};

}  // namespace

// ---------------------------------------------------------------- structure

TEST(GIFWriteStructure, VersionFollowsWhatTheFramesUse) {
    TGIFImage image;
    EXPECT_EQ(SaveError(image), "Unsupported GIF version");

    TGIFSubImage& frame = AddFrame(image, 2, 2, {0, 1, 1, 0}, TestColors(2));
    EXPECT_EQ(WalkGIF(SaveGIF(image)).Signature, "GIF87a");
    frame.Extensions().Add(std::make_unique<TGIFGraphicControlExtension>(frame));
    EXPECT_EQ(WalkGIF(SaveGIF(image)).Signature, "GIF89a");
    frame.Extensions().Clear();
    EXPECT_EQ(WalkGIF(SaveGIF(image)).Signature, "GIF87a");
    // A sorted local table has the sort flag, which GIF87a lacks.
    frame.ColorMap().Optimize();
    const TWrittenGIF sorted = WalkGIF(SaveGIF(image));
    EXPECT_EQ(sorted.Signature, "GIF89a");
    EXPECT_EQ(sorted.Frames.at(0).PackedFields, 0xA0);
}

TEST(GIFWriteStructure, GlobalTableIsPaddedToAPowerOfTwo) {
    TGIFImage image;
    image.GlobalColorMap().Assign(TestColors(3).data(), 3);
    image.Header().Descriptor.BackgroundColorIndex = 2;
    image.Header().Descriptor.AspectRatio = 49;
    AddFrame(image, 3, 1, {0, 1, 2});
    const std::vector<uint8_t> bytes = SaveGIF(image);
    const TWrittenGIF gif = WalkGIF(bytes);
    // Global table, resolution 1 (2 bits), size code 1 (4 entries).
    EXPECT_EQ(gif.PackedFields, 0x80 | 0x10 | 0x01);
    std::vector<uint8_t> expected;
    for (const TGIFColor& color : TestColors(3)) expected.insert(expected.end(), {color.Red, color.Green, color.Blue});
    expected.insert(expected.end(), {0, 0, 0});
    EXPECT_EQ(gif.GlobalTable, expected);
    EXPECT_EQ(bytes[11], 2);   // background index as stored
    EXPECT_EQ(bytes[12], 49);  // aspect ratio as stored
    EXPECT_EQ(gif.Frames.at(0).PackedFields, 0x00);
    EXPECT_EQ(gif.Frames.at(0).MinimumCodeSize, 2);
}

TEST(GIFWriteStructure, ColourResolutionIsTheLargestTable) {
    TGIFImage image;
    AddFrame(image, 1, 1, {0}, TestColors(2));
    AddFrame(image, 1, 1, {0}, TestColors(100));
    const TWrittenGIF gif = WalkGIF(SaveGIF(image));
    EXPECT_EQ(gif.PackedFields, 6 << 4);  // no global table; 7 bits
    EXPECT_EQ(gif.Frames.at(1).PackedFields, 0x86);
    EXPECT_EQ(gif.Frames.at(1).LocalColors, 128);
}

TEST(GIFWriteStructure, CommentLinesAreCutIntoSubBlocks) {
    TGIFImage image;
    TGIFSubImage& frame = AddFrame(image, 1, 1, {0}, TestColors(2));
    auto comment = std::make_unique<TGIFCommentExtension>(frame);
    comment->Comment = {std::string(300, 'c'), "", "end"};
    frame.Extensions().Add(std::move(comment));
    const std::vector<uint8_t> bytes = SaveGIF(image);
    const TWrittenGIF gif = WalkGIF(bytes);
    ASSERT_EQ(gif.Extensions.size(), 1u);
    EXPECT_EQ(gif.Extensions[0].Label, 0xFE);
    ASSERT_EQ(gif.Extensions[0].Blocks.size(), 3u);
    EXPECT_EQ(gif.Extensions[0].Blocks[0].size(), 255u);
    EXPECT_EQ(gif.Extensions[0].Blocks[1].size(), 45u);
    EXPECT_EQ(gif.Extensions[0].Blocks[2], (std::vector<uint8_t>{'e', 'n', 'd'}));
}

TEST(GIFWriteStructure, ExtensionsReadBackAsWritten) {
    TGIFImage image;
    TGIFSubImage& frame = AddFrame(image, 2, 1, {1, 0}, TestColors(2));
    auto loop = std::make_unique<TGIFAppExtNSLoop>(frame);
    loop->Loops = 7;
    loop->BufferSize = 0x01020304;
    frame.Extensions().Add(std::move(loop));
    auto control = std::make_unique<TGIFGraphicControlExtension>(frame);
    control->SetTransparent(true);
    control->SetTransparentColorIndex(1);
    control->SetDelay(250);
    control->SetDisposal(2);
    frame.Extensions().Add(std::move(control));
    auto text = std::make_unique<TGIFTextExtension>(frame);
    text->SetRecord({12, 1, 2, 30, 40, 5, 6, 1, 0});
    text->Text = {"plain", std::string(256, 't')};
    frame.Extensions().Add(std::move(text));
    auto unknown = std::make_unique<TGIFUnknownAppExtension>(frame);
    std::memcpy(unknown->Identifier.data(), "TAMBERLT1.0", 11);
    unknown->Blocks = {TGIFBlock{{1, 2, 3}}, TGIFBlock{}, TGIFBlock{std::vector<uint8_t>(300, 9)}};
    frame.Extensions().Add(std::move(unknown));
    const std::vector<uint8_t> bytes = SaveGIF(image);

    TGIFImage read;
    ASSERT_EQ(LoadGIF(read, bytes).Error, "");
    TGIFSubImage& back = read.Images()[0];
    ASSERT_EQ(back.Extensions().Count(), 4);
    auto& readLoop = dynamic_cast<TGIFAppExtNSLoop&>(back.Extensions()[0]);
    EXPECT_EQ(readLoop.Loops, 7);
    EXPECT_EQ(readLoop.BufferSize, 0x01020304u);
    auto& readControl = dynamic_cast<TGIFGraphicControlExtension&>(back.Extensions()[1]);
    EXPECT_TRUE(readControl.Transparent());
    EXPECT_EQ(readControl.TransparentColorIndex(), 1);
    EXPECT_EQ(readControl.Delay(), 250);
    EXPECT_EQ(readControl.Disposal(), 2);
    EXPECT_TRUE(back.Transparent());
    auto& readText = dynamic_cast<TGIFTextExtension&>(back.Extensions()[2]);
    EXPECT_EQ(readText.Record().Width, 30);
    EXPECT_EQ(readText.Record().CellHeight, 6);
    EXPECT_EQ(readText.Text, (std::vector<std::string>{"plain", std::string(255, 't'), "t"}));
    auto& readUnknown = dynamic_cast<TGIFUnknownAppExtension&>(back.Extensions()[3]);
    EXPECT_EQ(readUnknown.IdentifierText(), "TAMBERLT1.0");
    // The empty block is left out; the long one is cut at 255.
    ASSERT_EQ(readUnknown.Blocks.size(), 3u);
    EXPECT_EQ(readUnknown.Blocks[1].Data.size(), 255u);
    EXPECT_EQ(readUnknown.Blocks[2].Data.size(), 45u);
    if (DecodeWithGiflib(bytes)) SUCCEED();  // giflib reads the blocks without an error
}

TEST(GIFWriteStructure, DamagedRecordSizesAreWrittenAsTheFormatFixesThem) {
    // A graphic control extension with block size 5 and a non-zero terminator:
    // written back as 4 and 0, so that other decoders stay in step.
    TBytes bytes = GIFHeader(1, 1, 0);
    bytes.U8(0x21).U8(0xF9).U8(5).U8(0).U16(3).U8(0).U8(7);
    AppendFrame(bytes, 1, 1, {1});
    bytes.U8(0x3B);
    TGIFImage image;
    ASSERT_EQ(LoadGIF(image, bytes.Data()).Error, "");
    const TWrittenGIF gif = WalkGIF(SaveGIF(image));
    ASSERT_EQ(gif.Extensions.size(), 1u);
    EXPECT_EQ(gif.Extensions[0].Blocks, (std::vector<std::vector<uint8_t>>{{0, 3, 0, 0}}));
}

TEST(GIFWriteStructure, LogicalScreenContainsEveryFrame) {
    // Read from a file whose frame lies partly outside its screen.
    TBytes bytes = GIFHeader(4, 4, 1);
    AppendFrame(bytes, 3, 2, {0, 1, 2, 3, 2, 1}, 2, 0, 2, 3);
    bytes.U8(0x3B);
    TGIFImage image;
    ASSERT_EQ(LoadGIF(image, bytes.Data()).Error, "");
    const std::vector<uint8_t> written = SaveGIF(image);
    const TWrittenGIF gif = WalkGIF(written);
    EXPECT_EQ(gif.ScreenWidth, 5);
    EXPECT_EQ(gif.ScreenHeight, 5);
    if (DecodeWithGiflib(written)) SUCCEED();  // confined to the screen
}

// ---------------------------------------------------------------- frames from bitmaps

TEST(GIFFromBitmap, PaletteBitmapsKeepTheirIndices) {
    const std::vector<TPaletteEntry> entries = {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}, {1, 2, 3, 0}};
    for (TPixelFormat format : {Px1, Px4, Px8}) {
        const int colors = format == Px1 ? 2 : 4;
        TBitmap bitmap;
        bitmap.NewImage(11, 3, format);
        bitmap.SetPalette(CreatePalette(std::vector<TPaletteEntry>(entries.begin(), entries.begin() + colors)));
        std::vector<uint8_t> expected;
        for (int y = 0; y < 3; ++y) {
            uint8_t* row = bitmap.RowAddress(y);
            for (int x = 0; x < 11; ++x) {
                const uint8_t index = static_cast<uint8_t>((x * 3 + y) % colors);
                expected.push_back(index);
                if (format == Px1) row[x / 8] = static_cast<uint8_t>(row[x / 8] | index << (7 - x % 8));
                if (format == Px4) row[x / 2] = static_cast<uint8_t>(row[x / 2] | index << (x % 2 ? 0 : 4));
                if (format == Px8) row[x] = index;
            }
        }
        TGIFImage image;
        image.CopyFrom(&bitmap);
        ASSERT_EQ(image.Images().Count(), 1);
        TGIFSubImage& frame = image.Images()[0];
        EXPECT_EQ(FramePixels(frame), expected) << int(format);
        ASSERT_GE(frame.ColorMap().Count(), colors);
        for (int i = 0; i < colors; ++i)
            EXPECT_EQ(frame.ColorMap().Entry(i), (TGIFColor{entries[i].peRed, entries[i].peGreen, entries[i].peBlue}));
        EXPECT_EQ(image.Width(), 11);
        EXPECT_EQ(image.Height(), 3);
    }
}

TEST(GIFFromBitmap, TrueColourWithoutReductionKeepsExactColours) {
    // 200 colours in a pattern that keeps coming back to earlier colours.
    TBitmap bitmap;
    Fill24(bitmap, 50, 40, [](int x, int y) { return RGBColor(uint8_t(x * 5), uint8_t(y % 4), 77); });
    TGIFImage image;
    image.ColorReduction = rmNone;
    image.CopyFrom(&bitmap);
    TGIFSubImage& frame = image.Images()[0];
    EXPECT_EQ(frame.ColorMap().Count(), 200);
    // Colours are numbered in the order they first appear.
    EXPECT_EQ(frame.ColorMap().Entry(0), (TGIFColor{0, 0, 77}));
    EXPECT_EQ(frame.ColorMap().Entry(1), (TGIFColor{5, 0, 77}));
    EXPECT_EQ(frame.ColorMap().Entry(50), (TGIFColor{0, 1, 77}));
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 50; ++x)
            ASSERT_EQ(ToTColor(frame.ColorMap().Entry(frame.Pixel(x, y))),
                      RGBColor(uint8_t(x * 5), uint8_t(y % 4), 77));
    EXPECT_EQ(bitmap.PixelFormat(), Px24);
}

TEST(GIFFromBitmap, MoreThan256ColoursWithoutReductionOverflow) {
    TBitmap bitmap;
    Fill24(bitmap, 257, 2, [](int x, int) { return RGBColor(uint8_t(x), uint8_t(x >> 8), 0); });
    TGIFImage image;
    image.ColorReduction = rmNone;
    try {
        image.CopyFrom(&bitmap);
        FAIL() << "257 colours fit a GIF table";
    } catch (const GIFException& error) {
        EXPECT_STREQ(error.what(), "Color table overflow");
    }
    EXPECT_EQ(image.Images().Count(), 0);
}

TEST(GIFFromBitmap, TrueColourIsReducedWithTheImageSettings) {
    TBitmap bitmap;
    Fill24(bitmap, 64, 8, [](int x, int y) { return RGBColor(uint8_t(x * 4), uint8_t(y * 30), 200); });
    TGIFImage image;  // the 216-colour cube by default
    image.CopyFrom(&bitmap);
    TGIFSubImage& frame = image.Images()[0];
    EXPECT_EQ(frame.ColorMap().Count(), 256);  // the cube, then black
    EXPECT_EQ(frame.ColorMap().Entry(36 * 5 + 6 * 1 + 4), (TGIFColor{255, 51, 204}));
    TBitmap reference;
    reference.CopyFrom(&bitmap);
    const auto reduced = ReduceBitmapColors(reference, rmNetscape, dmNearest, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 64; ++x) ASSERT_EQ(frame.Pixel(x, y), reduced->ConstRowAddress(y)[x]);

    image.ColorReduction = 42;
    try {
        image.Images()[0].CopyFrom(&bitmap);
        FAIL() << "an unknown reduction method was used";
    } catch (const GIFException& error) {
        EXPECT_STREQ(error.what(), "Invalid reduction method");
    }
}

TEST(GIFFromBitmap, SourceBitmapKeepsItsFormatAndAlpha) {
    TBitmap bitmap;
    bitmap.NewImage(3, 1, Px32);
    uint8_t* row = bitmap.RowAddress(0);
    for (int i = 0; i < 12; ++i) row[i] = static_cast<uint8_t>(i * 20 + 3);
    TGIFImage image;
    image.CopyFrom(&bitmap);
    EXPECT_EQ(bitmap.PixelFormat(), Px32);
    EXPECT_EQ(bitmap.ConstRowAddress(0)[3], 63);
    EXPECT_EQ(bitmap.ConstRowAddress(0)[11], 223);
}

TEST(GIFFromBitmap, TransparentColourBecomesATransparentIndex) {
    // Blue is most used, then green and red; the bottom-left pixel is red.
    const TColor red = RGBColor(255, 0, 0), green = RGBColor(0, 255, 0), blue = RGBColor(0, 0, 255);
    TBitmap bitmap;
    Fill24(bitmap, 4, 2, [&](int x, int y) {
        static const TColor pattern[2][4] = {{green, blue, blue, red}, {red, green, blue, blue}};
        return pattern[y][x];
    });
    for (bool byDefault : {true, false}) {
        bitmap.Transparent = true;
        // The default stands for the bottom-left pixel's colour.
        bitmap.TransparentColor = byDefault ? 0x1FFFFFFF : green;
        TGIFImage image;
        image.ColorReduction = rmNone;
        image.CopyFrom(&bitmap);
        TGIFSubImage& frame = image.Images()[0];
        // Sorted by usage (blue 4, green 2, red 2), then the transparent entry.
        EXPECT_EQ(TableOf(frame.ColorMap()),
                  (std::vector<TGIFColor>{ToGIFColor(blue), ToGIFColor(green), ToGIFColor(red), ToGIFColor(clBlack)}));
        EXPECT_TRUE(frame.ColorMap().Optimized);
        ASSERT_NE(frame.GraphicControlExtension(), nullptr);
        EXPECT_TRUE(frame.GraphicControlExtension()->Transparent());
        EXPECT_EQ(frame.GraphicControlExtension()->TransparentColorIndex(), 3);
        EXPECT_TRUE(frame.Transparent());
        const std::vector<uint8_t> pixels = FramePixels(frame);
        if (byDefault) EXPECT_EQ(pixels, (std::vector<uint8_t>{1, 0, 0, 3, 3, 1, 0, 0}));
        else EXPECT_EQ(pixels, (std::vector<uint8_t>{3, 0, 0, 2, 2, 3, 0, 0}));
        const std::vector<uint8_t> bytes = SaveGIF(image);
        EXPECT_EQ(WalkGIF(bytes).Signature, "GIF89a");
        TGIFImage read;
        ASSERT_EQ(LoadGIF(read, bytes).Error, "");
        EXPECT_EQ(FramePixels(read.Images()[0]), pixels);
        EXPECT_EQ(read.Images()[0].GraphicControlExtension()->TransparentColorIndex(), 3);
    }

    // No pixel of the transparent colour: no extension, no extra entry.
    TBitmap plain;
    Fill24(plain, 2, 1, [&](int x, int) { return x ? green : blue; });
    plain.Transparent = true;
    plain.TransparentColor = red;
    TGIFImage image;
    image.ColorReduction = rmNone;
    image.CopyFrom(&plain);
    EXPECT_EQ(image.Images()[0].ColorMap().Count(), 2);
    EXPECT_EQ(image.Images()[0].Extensions().Count(), 0);
}

TEST(GIFFromBitmap, LargePictureRoundTripsWithBothEncoders) {
    // 1000 x 600: above the 500000 pixels where frame bitmaps start small.
    TBitmap bitmap;
    Fill24(bitmap, 1000, 600,
           [](int x, int y) { return RGBColor(uint8_t(x / 4), uint8_t(y / 3), uint8_t((x / 100 + y / 100) * 40)); });
    for (int compression : {0, 1}) {
        TGIFImage image;
        image.Compression = compression;
        image.CopyFrom(&bitmap);
        TGIFSubImage& frame = image.Images()[0];
        ASSERT_EQ(frame.DataSize(), 600000u);
        const std::vector<uint8_t> expected = FramePixels(frame);
        const std::vector<uint8_t> bytes = SaveGIF(image);
        TGIFImage read;
        ASSERT_EQ(LoadGIF(read, bytes).Error, "");
        EXPECT_EQ(FramePixels(read.Images()[0]), expected);
        TBitmap picture;
        picture.CopyFrom(&read);
        EXPECT_EQ(picture.PixelFormat(), Px8);
        EXPECT_EQ(picture.Width(), 1000);
        if (const auto giflib = DecodeWithGiflib(bytes)) {
            EXPECT_EQ(giflib->at(0).Pixels, expected);
        }
    }
}

// ---------------------------------------------------------------- frames, images

TEST(GIFFramePlacement, FramesEnlargeTheLogicalScreen) {
    TGIFImage image;
    std::vector<std::string> warnings;
    image.OnGIFWarning = [&](TGIFImage&, const TGIFItem*, TGIFSeverity, const std::string& text) {
        warnings.push_back(text);
    };
    TGIFSubImage& frame = AddFrame(image, 4, 3, {});
    EXPECT_EQ(image.Width(), 4);
    EXPECT_EQ(image.Height(), 3);
    EXPECT_TRUE(warnings.empty());  // an empty screen grows silently

    frame.SetLeft(2);
    EXPECT_EQ(image.Width(), 6);
    EXPECT_EQ(warnings, (std::vector<std::string>{"Image width too small for contained frames",
                                                  "Image exceeds Logical Screen size"}));
    warnings.clear();
    frame.Data()[0] = 1;
    frame.SetTop(1);
    EXPECT_EQ(frame.Data()[0], 1);  // moving keeps the pixels
    frame.SetWidth(5);
    EXPECT_EQ(frame.DataSize(), 15u);
    EXPECT_EQ(frame.Data()[0], 0);  // a new size starts with zero pixels
    EXPECT_EQ(image.Width(), 7);
    EXPECT_EQ(image.Height(), 4);

    try {
        image.SetWidth(6);
        FAIL() << "the screen shrank below a frame";
    } catch (const GIFException& error) {
        EXPECT_STREQ(error.what(), "Image width too small for contained frames");
    }
    EXPECT_THROW(frame.SetBounds(65000, 0, 1000, 1), GIFException);
    EXPECT_EQ(frame.Left(), 2);
}

TEST(GIFImageCopy, ImagesCopyHeaderSettingsAndFrames) {
    TGIFImage source;
    source.GlobalColorMap().Assign(TestColors(4).data(), 4);
    source.ColorReduction = 3;
    source.DitherMode = 1;
    TGIFSubImage& first = AddFrame(source, 2, 2, {0, 1, 2, 3});
    first.SetInterlaced(true);
    auto comment = std::make_unique<TGIFCommentExtension>(first);
    comment->Comment = {"hello"};
    first.Extensions().Add(std::move(comment));
    AddFrame(source, 1, 1, {1}, TestColors(2), 1, 1);
    // An extension run at the end makes a frame without image.
    auto trailing = std::make_unique<TGIFSubImage>(source);
    auto note = std::make_unique<TGIFCommentExtension>(*trailing);
    note->Comment = {"last words"};
    trailing->Extensions().Add(std::move(note));
    source.Images().Add(std::move(trailing));

    TGIFImage copy;
    copy.CopyFrom(&source);
    EXPECT_EQ(copy.ColorReduction, 3);
    EXPECT_EQ(copy.DitherMode, 1);
    ASSERT_EQ(copy.Images().Count(), 3);
    EXPECT_EQ(SaveGIF(copy), SaveGIF(source));
    EXPECT_EQ(&copy.Images()[0].Extensions()[0].Image(), &copy);
    auto& copied = dynamic_cast<TGIFCommentExtension&>(copy.Images()[2].Extensions()[0]);
    EXPECT_EQ(copied.Comment, (std::vector<std::string>{"last words"}));

    copy.CopyFrom(&copy);
    EXPECT_EQ(copy.Images().Count(), 3);
    copy.CopyFrom(static_cast<TGraphic*>(nullptr));
    EXPECT_TRUE(copy.Empty());
}

TEST(GIFImageCopy, AddingFramesAndRefusals) {
    TGIFImage image;
    try {
        image.Add(static_cast<TGraphic*>(nullptr));
        FAIL() << "nothing was added";
    } catch (const GIFException& error) {
        EXPECT_STREQ(error.what(), "Object type not supported for operation");
    }
    TOpaqueGraphic opaque;
    try {
        image.CopyFrom(&opaque);
        FAIL() << "an unassignable graphic was taken";
    } catch (const EConvertError& error) {
        EXPECT_STREQ(error.what(), "Cannot assign a TOpaqueGraphic to a TGIFImage");
    }

    TGIFImage other;
    TGIFSubImage& frame = AddFrame(other, 3, 2, {0, 1, 0, 1, 0, 1}, TestColors(2), 4, 5);
    TGIFSubImage& added = image.Add(frame);
    EXPECT_EQ(FramePixels(added), FramePixels(frame));
    EXPECT_EQ(image.Width(), 7);
    EXPECT_EQ(image.Height(), 7);
    TBitmap bitmap;
    Fill24(bitmap, 2, 2, [](int x, int y) { return RGBColor(uint8_t(x * 255), uint8_t(y * 255), 0); });
    image.Add(&bitmap);
    EXPECT_EQ(image.Images().Count(), 2);
    const std::vector<uint8_t> bytes = SaveGIF(image);
    TGIFImage read;
    ASSERT_EQ(LoadGIF(read, bytes).Error, "");
    EXPECT_EQ(FramePixels(read.Images()[1]), FramePixels(image.Images()[1]));
}

TEST(GIFColorTableSort, MostUsedColoursComeFirstAndUnusedGo) {
    TGIFImage image;
    image.GlobalColorMap().Assign(TestColors(5).data(), 5);
    TGIFSubImage& first = AddFrame(image, 4, 1, {3, 3, 1, 3});
    AddFrame(image, 3, 1, {1, 0, 0}, TestColors(2));  // has its own table: not counted
    TGIFSubImage& third = AddFrame(image, 2, 1, {0, 3});
    auto control = std::make_unique<TGIFGraphicControlExtension>(third);
    control->SetTransparent(true);
    control->SetTransparentColorIndex(1);
    third.Extensions().Add(std::move(control));

    image.GlobalColorMap().Optimize();
    const std::vector<TGIFColor> before = TestColors(5);
    EXPECT_EQ(TableOf(image.GlobalColorMap()), (std::vector<TGIFColor>{before[3], before[0], before[1]}));
    EXPECT_EQ(FramePixels(first), (std::vector<uint8_t>{0, 0, 2, 0}));
    EXPECT_EQ(FramePixels(third), (std::vector<uint8_t>{1, 0}));
    EXPECT_EQ(third.GraphicControlExtension()->TransparentColorIndex(), 2);
    EXPECT_EQ(FramePixels(image.Images()[1]), (std::vector<uint8_t>{1, 0, 0}));
    const TWrittenGIF gif = WalkGIF(SaveGIF(image));
    EXPECT_EQ(gif.PackedFields & 0x08, 0x08);  // sort flag
}

TEST(GIFSaveFile, FailedSaveLeavesTheOldFile) {
    TTempFolder folder;
    const std::string path = folder / "picture.gif";
    WriteFileBytes(path, {'o', 'l', 'd'});
    TGIFImage empty;
    EXPECT_THROW(empty.SaveFile(path), GIFException);
    EXPECT_EQ(ReadFileBytes(path), (std::vector<uint8_t>{'o', 'l', 'd'}));

    TGIFImage image;
    AddFrame(image, 2, 1, {0, 1}, TestColors(2));
    image.SaveFile(path);
    TGIFImage read;
    read.LoadFile(path);
    EXPECT_EQ(FramePixels(read.Images()[0]), (std::vector<uint8_t>{0, 1}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 1);
}

TEST(GIFIndependentDecoder, AnimationWithExtensionsReadsThroughGiflib) {
    TGIFImage image;
    image.GlobalColorMap().Assign(TestColors(16).data(), 16);
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 4; ++i) {
        std::vector<uint8_t> pixels(30 * 20);
        for (size_t p = 0; p < pixels.size(); ++p)
            pixels[p] = static_cast<uint8_t>((p / 7 + static_cast<size_t>(i)) % 16);
        TGIFSubImage& frame =
            i == 2 ? AddFrame(image, 30, 20, pixels, TestColors(200), i, i) : AddFrame(image, 30, 20, pixels, {}, i, i);
        frame.SetInterlaced(i % 2 == 1);
        auto control = std::make_unique<TGIFGraphicControlExtension>(frame);
        control->SetDelay(10 * i);
        frame.Extensions().Add(std::move(control));
        frames.push_back(pixels);
    }
    image.Images()[0].Extensions().Add(std::make_unique<TGIFAppExtNSLoop>(image.Images()[0]));
    for (int compression : {0, 1}) {
        image.Compression = compression;
        const std::vector<uint8_t> bytes = SaveGIF(image);
        const auto giflib = DecodeWithGiflib(bytes);
        if (!giflib) GTEST_SKIP() << "giflib (libgif-dev) was not found at build time: no independent decoder";
        ASSERT_EQ(giflib->size(), 4u);
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ((*giflib)[i].Pixels, frames[i]) << "frame " << i;
            EXPECT_EQ((*giflib)[i].Left, static_cast<int>(i));
        }
    }
}
