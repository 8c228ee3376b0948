#include "formats/jpeg/jpeg_image.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
#include <jerror.h>

#include "image/exceptions.hpp"
#include "image/limits.hpp"
#include "image/picture_registry.hpp"
#include "tests/formats/jpeg/jpeg_reference.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;

namespace {

void Load(TJPEGImage& jpeg, const std::vector<uint8_t>& bytes) {
    TMemoryViewStream stream(bytes.data(), bytes.size());
    jpeg.LoadFromStream(stream);
}

// The dispatcher's road: load, then assign to a bitmap.
void Decode(const std::vector<uint8_t>& bytes, TBitmap& bitmap) {
    TJPEGImage jpeg;
    Load(jpeg, bytes);
    bitmap.CopyFrom(&jpeg);
}

std::vector<uint8_t> Save(TJPEGImage& jpeg) {
    TMemoryStream stream;
    jpeg.SaveToStream(stream);
    return {stream.Memory(), stream.Memory() + stream.ByteCount()};
}

int MaxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    EXPECT_EQ(a.size(), b.size());
    int largest = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) largest = std::max(largest, std::abs(a[i] - b[i]));
    return largest;
}

// The indices of a Px8 bitmap, top row first.
std::vector<uint8_t> Indices(const TBitmap& bitmap) {
    std::vector<uint8_t> indices;
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.ConstRowAddress(y);
        indices.insert(indices.end(), row, row + bitmap.Width());
    }
    return indices;
}

std::vector<uint8_t> Tripled(const std::vector<uint8_t>& grey) {
    std::vector<uint8_t> rgb;
    for (uint8_t value : grey) rgb.insert(rgb.end(), {value, value, value});
    return rgb;
}

bool IsGreyRamp(const HPALETTE& palette) {
    if (PaletteEntryCount(palette) != 256) return false;
    for (int i = 0; i < 256; ++i) {
        const TPaletteEntry& entry = palette->Entries[i];
        if (entry.peRed != i || entry.peGreen != i || entry.peBlue != i) return false;
    }
    return true;
}

template <typename Error>
int CodeOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& error) {
        if constexpr (std::is_same_v<Error, EJPEG>) {
            EXPECT_EQ(error.what(), "JPEG error #" + std::to_string(error.MessageCode()));
            return error.MessageCode();
        }
        return 0;
    }
    ADD_FAILURE() << "no error";
    return -1;
}

// Sets the frame's height and width (big-endian, after length and precision).
void PatchFrameSize(std::vector<uint8_t>& jpeg, int width, int height) {
    const size_t sof = FindMarker(jpeg, static_cast<uint8_t>(0xC0 + FrameType(jpeg)));
    ASSERT_NE(sof, std::string::npos);
    jpeg[sof + 5] = static_cast<uint8_t>(height >> 8);
    jpeg[sof + 6] = static_cast<uint8_t>(height);
    jpeg[sof + 7] = static_cast<uint8_t>(width >> 8);
    jpeg[sof + 8] = static_cast<uint8_t>(width);
}

constexpr int W = 61, H = 37;  // not multiples of the 16-pixel MCU

}  // namespace

// ---------------------------------------------------------------- decoding

TEST(JPEGDecode, ColourBaselineIsPx24OfTheFileSizeTopRowFirst) {
    const auto input = GradientRgb(W, H);
    const auto file = EncodeReference(W, H, input);
    TJPEGImage jpeg;
    Load(jpeg, file);
    EXPECT_EQ(jpeg.Width(), W);  // from the header, before any decoding
    EXPECT_EQ(jpeg.Height(), H);
    EXPECT_FALSE(jpeg.Data().Grayscale);
    EXPECT_FALSE(jpeg.ProgressiveEncoding());
    TBitmap bitmap;
    bitmap.CopyFrom(&jpeg);
    ASSERT_EQ(bitmap.PixelFormat(), Px24);
    ASSERT_EQ(bitmap.Width(), W);
    ASSERT_EQ(bitmap.Height(), H);
    const auto rgb = RgbPixels(bitmap);
    EXPECT_LE(MaxDifference(rgb, input), 12);
    EXPECT_EQ(rgb, DecodeReference(file).Samples);  // the library's own default decode, exactly
    // Rows are blue, green, red; the top-left pixel is blue, green grows downwards.
    const uint8_t* top = bitmap.ConstRowAddress(0);
    EXPECT_NEAR(top[0], 255, 8);
    EXPECT_NEAR(top[2], 0, 8);
    const uint8_t* bottom = bitmap.ConstRowAddress(H - 1);
    EXPECT_NEAR(bottom[1], 4 * (H - 1), 8);
}

TEST(JPEGDecode, GreyIsExactPx8WithTheFullGreyRamp) {
    const int width = 45, height = 23;
    const auto input = GradientGrey(width, height);
    const auto file = EncodeReference(width, height, input, {.Input = TJpegInput::Grey});
    TJPEGImage jpeg;
    Load(jpeg, file);
    EXPECT_TRUE(jpeg.Data().Grayscale);
    TBitmap bitmap;
    bitmap.CopyFrom(&jpeg);
    ASSERT_EQ(bitmap.PixelFormat(), Px8);
    EXPECT_TRUE(IsGreyRamp(bitmap.Palette()));
    // No quantisation, no dither: the library's grey levels as they are.
    const auto reference = DecodeReference(file);
    ASSERT_EQ(reference.Components, 1);
    EXPECT_EQ(Indices(bitmap), reference.Samples);
    EXPECT_LE(MaxDifference(Indices(bitmap), input), 6);
    // What the dispatcher makes of it: 24-bit grey.
    TBitmap widened;
    widened.CopyFrom(&bitmap);
    widened.SetPixelFormat(Px24);
    EXPECT_EQ(RgbPixels(widened), Tripled(reference.Samples));
}

TEST(JPEGDecode, ProgressiveFilesDecodeInOnePassAndScanByScan) {
    const auto input = GradientRgb(W, H);
    const auto file = EncodeReference(W, H, input, {.Progressive = true});
    ASSERT_EQ(FrameType(file), 2);
    TJPEGImage jpeg;
    Load(jpeg, file);
    EXPECT_TRUE(jpeg.ProgressiveEncoding());
    TBitmap onePass;
    onePass.CopyFrom(&jpeg);
    ASSERT_EQ(onePass.PixelFormat(), Px24);
    EXPECT_EQ(RgbPixels(onePass), DecodeReference(file).Samples);
    EXPECT_LE(MaxDifference(RgbPixels(onePass), input), 12);

    TJPEGImage display;
    display.SetProgressiveDisplay(true);
    Load(display, file);
    TBitmap scanByScan;
    scanByScan.CopyFrom(&display);
    EXPECT_EQ(RgbPixels(scanByScan), RgbPixels(onePass));  // the final pass is the whole picture
}

TEST(JPEGDecode, ArithmeticCodedFilesDecodeLikeHuffmanCodedOnes) {
    // The entropy coding is lossless: the same picture and tables give the same pixels.
    const auto input = GradientRgb(W, H);
    const auto arithmetic = EncodeReference(W, H, input, {.Arithmetic = true});
    ASSERT_EQ(FrameType(arithmetic), 9);
    TBitmap decoded, huffman;
    Decode(arithmetic, decoded);
    Decode(EncodeReference(W, H, input), huffman);
    EXPECT_EQ(RgbPixels(decoded), RgbPixels(huffman));
}

TEST(JPEGDecode, TruncatedDataDecodesAsFarAsItGoes) {
    const int size = 64;
    const auto input = GradientRgb(size, size);
    for (bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "baseline");
        const auto file = EncodeReference(size, size, input, {.Progressive = progressive});
        const size_t scan = FindMarker(file, 0xDA);
        std::vector<uint8_t> cut(file.begin(),
                                 file.begin() + static_cast<ptrdiff_t>(scan + (file.size() - scan) * 6 / 10));
        TBitmap whole, truncated;
        Decode(file, whole);
        ASSERT_NO_THROW(Decode(cut, truncated));
        ASSERT_EQ(truncated.Width(), size);
        ASSERT_EQ(truncated.Height(), size);
        EXPECT_EQ(RgbPixels(truncated), DecodeReference(cut).Samples);
        if (!progressive) {
            // The first row of MCUs (16 rows) was complete in the data.
            const size_t bytes = 16 * size * 3;
            const auto a = RgbPixels(whole), b = RgbPixels(truncated);
            EXPECT_TRUE(std::equal(a.begin(), a.begin() + bytes, b.begin()));
            EXPECT_NE(a, b);
        }
    }
}

TEST(JPEGDecode, OneRowPicturesDecode) {
    struct Case {
        int width;
        TJpegInput input;
    } cases[] = {{1, TJpegInput::Rgb}, {5, TJpegInput::Rgb}, {1, TJpegInput::Grey}, {9, TJpegInput::Grey}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        const bool grey = c.input == TJpegInput::Grey;
        const auto samples = grey ? GradientGrey(c.width, 1) : GradientRgb(c.width, 1);
        const auto file = EncodeReference(c.width, 1, samples, {.Input = c.input});
        TBitmap bitmap;
        Decode(file, bitmap);
        ASSERT_EQ(bitmap.Width(), c.width);
        ASSERT_EQ(bitmap.Height(), 1);
        ASSERT_EQ(bitmap.PixelFormat(), grey ? Px8 : Px24);
        const auto reference = DecodeReference(file).Samples;
        EXPECT_EQ(grey ? Indices(bitmap) : RgbPixels(bitmap), reference);
        EXPECT_LE(MaxDifference(reference, samples), 12);
    }
}

// ---------------------------------------------------------------- failures

TEST(JPEGFailures, EmptyFileLoadsAndFailsWithMessage42WhenDecoded) {
    TTempFolder folder;
    WriteFileBytes(folder / "empty.jpg", {});
    TJPEGImage jpeg;
    ASSERT_NO_THROW(jpeg.LoadFile(folder / "empty.jpg"));
    EXPECT_TRUE(jpeg.Empty());
    EXPECT_EQ(jpeg.Width(), 0);
    TBitmap bitmap;
    EXPECT_EQ(CodeOf<EJPEG>([&] { bitmap.CopyFrom(&jpeg); }), 42);
    EXPECT_TRUE(bitmap.Empty());
}

TEST(JPEGFailures, TextFileNamedJpgFailsWhileLoadingAndAgainWhenDecoded) {
    TTempFolder folder;
    TBytes text;
    text.Text("This is not a picture, only a note with the wrong name.\n");
    WriteFileBytes(folder / "notes.jpg", text.Data());
    TJPEGImage jpeg;
    EXPECT_EQ(CodeOf<EJPEG>([&] { jpeg.LoadFile(folder / "notes.jpg"); }), JERR_NO_SOI);
    TBitmap bitmap;
    EXPECT_EQ(CodeOf<EJPEG>([&] { bitmap.CopyFrom(&jpeg); }), JERR_NO_SOI);
}

TEST(JPEGFailures, DamagedHeadersFailWhileLoading) {
    const auto file = EncodeReference(W, H, GradientRgb(W, H));
    // Cut inside the tables, before the first scan: the library meets the end
    // marker our source supplies where the frame should be.
    const std::vector<uint8_t> headOnly(file.begin(), file.begin() + static_cast<ptrdiff_t>(FindMarker(file, 0xC0)));
    TJPEGImage jpeg;
    EXPECT_EQ(CodeOf<EJPEG>([&] { Load(jpeg, headOnly); }), JERR_NO_IMAGE);
    const std::vector<uint8_t> soiOnly = {0xFF, 0xD8};
    EXPECT_GT(CodeOf<EJPEG>([&] { Load(jpeg, soiOnly); }), 0);
}

TEST(JPEGFailures, FilesTheLibraryCannotGiveAsBgrOrGreyAreRefusedCleanly) {
    // CMYK: the library converts four components to nothing but CMYK. The
    // header reads; decoding is refused.
    std::vector<uint8_t> cmyk;
    for (int i = 0; i < 16 * 8; ++i) cmyk.insert(cmyk.end(), {uint8_t(i), 40, 80, 0});
    const auto cmykFile = EncodeReference(16, 8, cmyk, {.Input = TJpegInput::Cmyk});
    for (bool grey : {false, true}) {
        TJPEGImage jpeg;
        jpeg.SetGrayscale(grey);
        ASSERT_NO_THROW(Load(jpeg, cmykFile));
        EXPECT_EQ(jpeg.Width(), 16);
        TBitmap bitmap;
        EXPECT_EQ(CodeOf<EJPEG>([&] { bitmap.CopyFrom(&jpeg); }), JERR_CONVERSION_NOTIMPL);
        EXPECT_TRUE(bitmap.Empty());
    }
    // 12-bit samples: this build of the library handles 8-bit samples only.
    auto twelveBit = EncodeReference(W, H, GradientRgb(W, H));
    twelveBit[FindMarker(twelveBit, 0xC0) + 4] = 12;
    TJPEGImage jpeg;
    EXPECT_EQ(CodeOf<EJPEG>([&] { Load(jpeg, twelveBit); }), JERR_BAD_PRECISION);
}

// ---------------------------------------------------------------- limits

TEST(JPEGLimits, DecodedSizeLimitIsCheckedAfterTheHeaderBeforeDecoding) {
    const auto file = EncodeReference(W, H, GradientRgb(W, H));
    TJPEGImage jpeg;
    jpeg.Limits = {W * H - 1};
    ASSERT_NO_THROW(Load(jpeg, file));
    TBitmap bitmap;
    EXPECT_THROW(bitmap.CopyFrom(&jpeg), EImageTooLarge);
    EXPECT_TRUE(bitmap.Empty());
    // Scaling does not help: a multi-scan file keeps the full-size coefficients.
    jpeg.SetScale(jsEighth);
    EXPECT_THROW(bitmap.CopyFrom(&jpeg), EImageTooLarge);
}

TEST(JPEGLimits, HugeProgressiveHeaderCannotTakeGigabytes) {
    // A tiny progressive file whose frame claims 16000 x 16000 full-chroma
    // pixels: within the decoded-size limit, but the coefficient buffer would
    // be 1.5 GB. It is refused before that memory is taken.
    auto file = EncodeReference(16, 16, GradientRgb(16, 16), {.Progressive = true, .FullChroma = true});
    PatchFrameSize(file, 16000, 16000);
    TJPEGImage jpeg;
    Load(jpeg, file);
    ASSERT_EQ(jpeg.Width(), 16000);
    TBitmap bitmap;
    const auto start = std::chrono::steady_clock::now();
    try {
        bitmap.CopyFrom(&jpeg);
        FAIL() << "decoded";
    } catch (const EImageTooLarge& error) {
        EXPECT_NE(std::string(error.what()).find("MiB of decoder memory"), std::string::npos) << error.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(bitmap.Empty());
}

TEST(JPEGLimits, FilesWithTooManyScansAreRefused) {
    // Repeating the last scan is only a warning for the library (a bogus
    // progression), so a small file could make it run scan after scan.
    const auto file = EncodeReference(16, 16, GradientRgb(16, 16), {.Progressive = true});
    ASSERT_LT(FindLastMarker(file, 0xDA), FindLastMarker(file, 0xD9));
    auto withScans = [&](int total) { return WithScans(file, total); };
    for (bool display : {false, true}) {
        SCOPED_TRACE(display ? "scan by scan" : "one pass");
        TJPEGImage atLimit, beyond;
        atLimit.SetProgressiveDisplay(display);
        beyond.SetProgressiveDisplay(display);
        Load(atLimit, withScans(500));
        Load(beyond, withScans(501));
        TBitmap bitmap;
        EXPECT_NO_THROW(bitmap.CopyFrom(&atLimit));
        EXPECT_EQ(bitmap.Width(), 16);
        EXPECT_THROW(bitmap.CopyFrom(&beyond), EInvalidGraphic);
    }
}

// ---------------------------------------------------------------- saving

TEST(JPEGSave, Px32BitmapIsWrittenAsThreeComponentsAtQuality90WithoutAlpha) {
    const int width = 40, height = 24;
    const auto rgb = GradientRgb(width, height);
    TBitmap bitmap;
    bitmap.NewImage(width, height, Px32);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.RowAddress(y);
        for (int x = 0; x < width; ++x) {
            const uint8_t* pixel = &rgb[3 * (size_t(y) * width + x)];
            row[4 * x] = pixel[2];
            row[4 * x + 1] = pixel[1];
            row[4 * x + 2] = pixel[0];
            row[4 * x + 3] = static_cast<uint8_t>(6 * x);  // alpha, not premultiplied
        }
    }
    TJPEGImage jpeg;
    jpeg.CopyFrom(&bitmap);
    const auto file = Save(jpeg);
    EXPECT_EQ(FrameType(file), 0);  // baseline
    EXPECT_EQ(FrameComponents(file), 3);
    EXPECT_EQ(FileTables(file), QualityTables(90));
    EXPECT_EQ(bitmap.ConstRowAddress(0)[4 * 7 + 3], 42);  // the source keeps its alpha

    TBitmap back;
    Decode(file, back);
    ASSERT_EQ(back.PixelFormat(), Px24);
    EXPECT_LE(MaxDifference(RgbPixels(back), rgb), 16);
    EXPECT_EQ(jpeg.Data().Width, width);
    EXPECT_EQ(jpeg.Data().Height, height);
}

TEST(JPEGSave, PaletteAndSixteenBitBitmapsAreExpandedBeforeCompressing) {
    TBitmap bitmap;
    bitmap.NewImage(16, 16, Px8);
    bitmap.SetPalette(CreatePalette({{200, 30, 10, 0}, {10, 30, 200, 0}}));
    for (int y = 0; y < 16; ++y) std::fill_n(bitmap.RowAddress(y), 16, uint8_t(y < 8 ? 0 : 1));
    TJPEGImage jpeg;
    jpeg.CopyFrom(&bitmap);
    TBitmap back;
    Decode(Save(jpeg), back);
    const uint8_t* top = back.ConstRowAddress(2);
    const uint8_t* bottom = back.ConstRowAddress(13);
    EXPECT_NEAR(top[2], 200, 12);     // red
    EXPECT_NEAR(bottom[0], 200, 12);  // blue
}

TEST(JPEGSave, BitmapsWithoutPixelsWriteEmptyFiles) {
    TTempFolder folder;
    for (auto [width, height] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{0, 0}}) {
        const std::string path = folder / "empty.jpg";
        WriteFileBytes(path, {1, 2, 3});  // an old file is replaced
        TBitmap bitmap;
        bitmap.NewImage(width, height, Px24);
        TJPEGImage jpeg;
        jpeg.CopyFrom(&bitmap);
        jpeg.SaveFile(path);
        EXPECT_TRUE(ReadFileBytes(path).empty()) << width << " x " << height;
    }
    TJPEGImage fresh;
    EXPECT_TRUE(Save(fresh).empty());
}

TEST(JPEGSave, OneRowPicturesEncode) {
    for (int width : {1, 7}) {
        TBitmap bitmap;
        bitmap.NewImage(width, 1, Px24);
        std::fill_n(bitmap.RowAddress(0), 3 * width, uint8_t(0));
        for (int x = 0; x < width; ++x) bitmap.RowAddress(0)[3 * x + 2] = 220;  // red
        TJPEGImage jpeg;
        jpeg.CopyFrom(&bitmap);
        const auto reference = DecodeReference(Save(jpeg));
        ASSERT_EQ(reference.Width, width);
        ASSERT_EQ(reference.Height, 1);
        for (int x = 0; x < width; ++x) {
            EXPECT_NEAR(reference.Samples[3 * x], 220, 10);
            EXPECT_NEAR(reference.Samples[3 * x + 2], 0, 10);
        }
    }
}

TEST(JPEGSave, GrayscaleAndProgressiveEncoding) {
    const auto rgb = GradientRgb(W, H);
    TBitmap bitmap;
    Decode(EncodeReference(W, H, rgb), bitmap);

    TJPEGImage grey;
    grey.CopyFrom(&bitmap);
    grey.SetGrayscale(true);
    const auto greyFile = Save(grey);
    EXPECT_EQ(FrameComponents(greyFile), 1);
    EXPECT_TRUE(grey.Data().Grayscale);
    TBitmap greyBack;
    Decode(greyFile, greyBack);
    EXPECT_EQ(greyBack.PixelFormat(), Px8);

    TJPEGImage progressive;
    progressive.CopyFrom(&bitmap);
    progressive.SetProgressiveEncoding(true);
    const auto progressiveFile = Save(progressive);
    EXPECT_EQ(FrameType(progressiveFile), 2);
    TBitmap back;
    Decode(progressiveFile, back);
    EXPECT_LE(MaxDifference(RgbPixels(back), rgb), 16);
}

TEST(JPEGSave, LoadedDataAreWrittenUnchanged) {
    const auto file = EncodeReference(W, H, GradientRgb(W, H), {.Quality = 50});
    TJPEGImage jpeg;
    Load(jpeg, file);
    TBitmap bitmap;
    bitmap.CopyFrom(&jpeg);  // decoding does not replace the data
    EXPECT_EQ(Save(jpeg), file);
}

// ---------------------------------------------------------------- the object

TEST(JPEGImageObject, SizeCannotBeChanged) {
    TJPEGImage jpeg;
    Load(jpeg, EncodeReference(W, H, GradientRgb(W, H)));
    for (auto change : {&TJPEGImage::SetWidth, &TJPEGImage::SetHeight}) {
        try {
            (jpeg.*change)(10);
            FAIL();
        } catch (const EInvalidGraphicOperation& error) {
            EXPECT_STREQ(error.what(), "Cannot change the size of a JPEG image");
        }
    }
    EXPECT_EQ(jpeg.Width(), W);
}

TEST(JPEGImageObject, AssignmentWithClassesOtherThanBitmapsIsRefused) {
    TJPEGImage jpeg;
    Load(jpeg, EncodeReference(W, H, GradientRgb(W, H)));
    TOtherGraphic other;
    try {
        jpeg.AssignTo(other);
        FAIL();
    } catch (const EConvertError& error) {
        EXPECT_STREQ(error.what(), "Cannot assign a TJPEGImage to a TOtherGraphic");
    }
    try {
        jpeg.CopyFrom(&other);
        FAIL();
    } catch (const EConvertError& error) {
        EXPECT_STREQ(error.what(), "Cannot assign a TOtherGraphic to a TJPEGImage");
    }
    EXPECT_EQ(jpeg.Width(), W);  // unharmed
}

TEST(JPEGImageObject, CopiesShareTheCompressedDataAndTheDecodedPicture) {
    const auto first = EncodeReference(W, H, GradientRgb(W, H));
    TJPEGImage source;
    Load(source, first);
    TBitmap decoded;
    decoded.CopyFrom(&source);
    TJPEGImage copy;
    copy.CopyFrom(&source);
    EXPECT_EQ(&copy.Data(), &source.Data());  // shared, not copied
    // A new load into the source leaves the copy as it was.
    Load(source, EncodeReference(8, 8, GradientRgb(8, 8)));
    EXPECT_EQ(source.Width(), 8);
    EXPECT_EQ(copy.Width(), W);
    TBitmap fromCopy;
    fromCopy.CopyFrom(&copy);
    EXPECT_EQ(RgbPixels(fromCopy), RgbPixels(decoded));
    EXPECT_EQ(Save(copy), first);
}

TEST(JPEGImageObject, LoadingNewDataDropsTheDecodedPicture) {
    TJPEGImage jpeg;
    Load(jpeg, EncodeReference(W, H, GradientRgb(W, H)));
    TBitmap bitmap;
    bitmap.CopyFrom(&jpeg);
    Load(jpeg, EncodeReference(9, 4, GradientGrey(9, 4), {.Input = TJpegInput::Grey}));
    bitmap.CopyFrom(&jpeg);
    EXPECT_EQ(bitmap.Width(), 9);
    EXPECT_EQ(bitmap.PixelFormat(), Px8);
}

TEST(JPEGImageObject, DecodingSettings) {
    const auto input = GradientRgb(W, H);
    const auto file = EncodeReference(W, H, input);
    {
        TJPEGImage jpeg;
        jpeg.SetScale(jsHalf);
        Load(jpeg, file);
        EXPECT_EQ(jpeg.Width(), 31);  // rounded up, as the library does
        TBitmap bitmap;
        bitmap.CopyFrom(&jpeg);
        EXPECT_EQ(bitmap.Width(), 31);
        EXPECT_EQ(bitmap.Height(), 19);
        // A decoding setting changed after decoding takes effect at the next assignment.
        jpeg.SetScale(jsFullSize);
        bitmap.CopyFrom(&jpeg);
        EXPECT_EQ(bitmap.Width(), W);
    }
    {
        TJPEGImage jpeg;
        jpeg.SetGrayscale(true);
        Load(jpeg, file);
        TBitmap bitmap;
        bitmap.CopyFrom(&jpeg);
        EXPECT_EQ(bitmap.PixelFormat(), Px8);
        EXPECT_TRUE(IsGreyRamp(bitmap.Palette()));
    }
    {
        TJPEGImage jpeg;
        jpeg.SetPixelFormat(jf8Bit);
        Load(jpeg, file);
        TBitmap bitmap;
        bitmap.CopyFrom(&jpeg);
        EXPECT_EQ(bitmap.PixelFormat(), Px8);
        EXPECT_LE(PaletteEntryCount(bitmap.Palette()), 236u);
        EXPECT_GT(PaletteEntryCount(bitmap.Palette()), 16u);
        EXPECT_LE(MaxDifference(RgbPixels(bitmap), input), 48);
    }
    {
        TJPEGImage jpeg;
        jpeg.SetPerformance(jpBestSpeed);
        Load(jpeg, file);
        TBitmap bitmap;
        bitmap.CopyFrom(&jpeg);
        EXPECT_LE(MaxDifference(RgbPixels(bitmap), input), 16);
    }
}

TEST(JPEGImageObject, DefaultsFollowTheScreen) {
    const TJPEGSettings& defaults = JPEGDefaults();
    EXPECT_EQ(defaults.CompressionQuality, 90);
    EXPECT_EQ(defaults.PixelFormat, jf24Bit);  // our screen has 32 bits per pixel
    EXPECT_FALSE(defaults.Grayscale);
    EXPECT_EQ(defaults.Performance, jpBestQuality);
    EXPECT_FALSE(defaults.ProgressiveDisplay);
    EXPECT_FALSE(defaults.ProgressiveEncoding);
    EXPECT_EQ(defaults.Scale, jsFullSize);
    EXPECT_TRUE(defaults.Smoothing);
    TJPEGImage jpeg;
    EXPECT_EQ(jpeg.CompressionQuality(), 90);
    EXPECT_TRUE(jpeg.Empty());
}

TEST(JPEGImageObject, RegisteredForJpegAndJpg) {
    int found = 0;
    for (const auto& format : TPicture::FileFormats()) {
        if (format.ClassName != "TJPEGImage") continue;
        ++found;
        EXPECT_TRUE(format.Extension == "jpeg" || format.Extension == "jpg") << format.Extension;
        EXPECT_EQ(format.Description, "JPEG Image File");
    }
    EXPECT_EQ(found, 2);
    auto created = TPicture::CreateForExtension("JPG");
    ASSERT_TRUE(created);
    EXPECT_STREQ(created->ClassName(), "TJPEGImage");
}
