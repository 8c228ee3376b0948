// Hostile JPEG files: empty and cut files, frames of 65500 x 65500 behind a
// few hundred bytes, thousands of scans, and the kinds the library cannot give
// us as colour (CMYK, 12-bit) next to the arithmetic-coded ones it can. The
// files are made with the JPEG library itself and then taken apart.

#include <gtest/gtest.h>

#include <jpeglib.h>
#include <jerror.h>

#include "tests/hostile/hostile_support.hpp"
#include "tests/formats/jpeg/jpeg_reference.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
using namespace tamberlit::testing::hostile;

namespace {

TOutcome LibraryError(int code) { return Refused("EJPEG", "JPEG error #" + std::to_string(code)); }

constexpr int W = 48, H = 32;

std::vector<uint8_t> Plain(TReferenceEncoding encoding = {}) {
    if (encoding.Input == TJpegInput::Grey) return EncodeReference(W, H, GradientGrey(W, H), encoding);
    if (encoding.Input == TJpegInput::Cmyk) {
        std::vector<uint8_t> cmyk;
        for (int i = 0; i < W * H; ++i) cmyk.insert(cmyk.end(), {uint8_t(i), 40, 80, 0});
        return EncodeReference(W, H, cmyk, encoding);
    }
    return EncodeReference(W, H, GradientRgb(W, H), encoding);
}

// The frame's size (big-endian, after the marker, length and precision).
std::vector<uint8_t> WithFrameSize(std::vector<uint8_t> file, int width, int height) {
    const size_t sof = FindMarker(file, static_cast<uint8_t>(0xC0 + FrameType(file)));
    file[sof + 5] = static_cast<uint8_t>(height >> 8);
    file[sof + 6] = static_cast<uint8_t>(height);
    file[sof + 7] = static_cast<uint8_t>(width >> 8);
    file[sof + 8] = static_cast<uint8_t>(width);
    return file;
}

std::vector<uint8_t> Cut(std::vector<uint8_t> file, size_t size) {
    file.resize(size);
    return file;
}

// The table keeps a case to a line where it fits, as written.
// clang-format off
std::vector<TCase> Cases() {
    std::vector<TCase> cases;
    auto add = [&cases](const std::string& name, std::function<std::vector<uint8_t>()> make, TOutcome expected,
                        bool readerOnly = false) { cases.push_back({name, TReader::JPEG, make, expected, readerOnly}); };

    // ---- empty and cut
    add("EmptyFile", [] { return std::vector<uint8_t>{}; }, LibraryError(JERR_INPUT_EMPTY));
    add("StartMarkerOnly", [] { return std::vector<uint8_t>{0xFF, 0xD8}; }, LibraryError(JERR_NO_IMAGE));
    add("NoStartMarker", [] { return std::vector<uint8_t>{0x00, 0xD8, 0xFF, 0xE0}; }, LibraryError(JERR_NO_SOI));
    add("CutInsideTheFrameHeader",
        [] {
            const auto file = Plain();
            return Cut(file, FindMarker(file, 0xC0) + 6);
        },
        LibraryError(JERR_BAD_LENGTH));
    add("CutBeforeTheFirstScan",
        [] {
            const auto file = Plain();
            return Cut(file, FindMarker(file, 0xDA));
        },
        LibraryError(JERR_SOF_NO_SOS));
    // Data that end early decode as far as they go, when they hold at least
    // half of the rows.
    add("CutInsideTheScan",
        [] {
            const auto file = Plain();
            return Cut(file, FindMarker(file, 0xDA) + 40);
        },
        CutShort(0, H));
    add("CutInsideTheProgressiveScans",
        [] {
            const auto file = Plain({.Progressive = true});
            return Cut(file, file.size() / 2);
        },
        Loaded(W, H, Px24));
    add("CutArithmeticCoded",
        [] {
            const auto file = Plain({.Arithmetic = true});
            return Cut(file, file.size() * 2 / 3);
        },
        CutShort(0, H));
    // A frame of 12000 x 12000 that holds the data of 48 x 32 pixels and its
    // end marker, then the same cut short: refused where the data end,
    // without decoding a row more.
    add("Frame12000x12000HoldingTheDataOf48x32", [] { return WithFrameSize(Plain(), 12000, 12000); },
        CutShort(0, 12000));
    add("Frame12000x12000HoldingTheDataOf48x32CutShort",
        [] { return Cut(WithFrameSize(Plain(), 12000, 12000), Plain().size() - 100); }, CutShort(0, 12000));
    add("Frame12000x12000ProgressiveHoldingTheDataOf48x32",
        [] { return WithFrameSize(Plain({.Progressive = true}), 12000, 12000); }, CutShort(0, 12000));
    AddCuts(cases, "Baseline256x256", TReader::JPEG, [] { return EncodeReference(256, 256, GradientRgb(256, 256)); },
            {{1000, CutShort(0, 256)}, {4000, CutShort(48, 256)}, {8000, Loaded(256, 256, Px24)}});
    add("EndMarkerMissing", [] { return Cut(Plain(), Plain().size() - 2); }, Loaded(W, H, Px24));

    // ---- huge frames behind small files
    add("Progressive65500x65500", [] { return WithFrameSize(Plain({.Progressive = true}), 65500, 65500); },
        Refused("EImageTooLarge", TooLarge(65500, 65500)));
    add("Baseline65500x65500", [] { return WithFrameSize(Plain(), 65500, 65500); },
        Refused("EImageTooLarge", TooLarge(65500, 65500)));
    add("ArithmeticProgressive65500x65500",
        [] { return WithFrameSize(Plain({.Progressive = true, .Arithmetic = true}), 65500, 65500); },
        Refused("EImageTooLarge", TooLarge(65500, 65500)));
    add("Progressive65500x4096", [] { return WithFrameSize(Plain({.Progressive = true}), 65500, 4096); },
        Refused("EImageTooLarge", "JPEG image needs more than 512 MiB of decoder memory"));
    add("ProgressiveGrey65500x4096", [] { return WithFrameSize(Plain({.Input = TJpegInput::Grey, .Progressive = true}), 65500, 4096); },
        Refused("EImageTooLarge", "JPEG image needs more than 512 MiB of decoder memory"));
    add("FrameOfZeroWidth", [] { return WithFrameSize(Plain(), 0, H); }, LibraryError(JERR_EMPTY_IMAGE));

    // ---- thousands of scans
    add("FiveHundredAndOneScans", [] { return WithScans(Plain({.Progressive = true}), 501); },
        Refused("EInvalidGraphic", "JPEG file has more than 500 scans"));
    add("FiveThousandScans", [] { return WithScans(Plain({.Progressive = true}), 5000); },
        Refused("EInvalidGraphic", "JPEG file has more than 500 scans"));
    add("FiveThousandArithmeticScans", [] { return WithScans(Plain({.Progressive = true, .Arithmetic = true}), 5000); },
        Refused("EInvalidGraphic", "JPEG file has more than 500 scans"));
    add("FiveThousandScansOfAGreyFile",
        [] { return WithScans(Plain({.Input = TJpegInput::Grey, .Progressive = true}), 5000); },
        Refused("EInvalidGraphic", "JPEG file has more than 500 scans"));

    // ---- kinds the library can and cannot give as colour
    add("Cmyk", [] { return Plain({.Input = TJpegInput::Cmyk}); }, LibraryError(JERR_CONVERSION_NOTIMPL));
    add("CmykProgressive", [] { return Plain({.Input = TJpegInput::Cmyk, .Progressive = true}); },
        LibraryError(JERR_CONVERSION_NOTIMPL));
    add("TwelveBitSamples",
        [] {
            auto file = Plain();
            file[FindMarker(file, 0xC0) + 4] = 12;
            file[FindMarker(file, 0xC0) + 1] = 0xC1;  // extended sequential, as 12-bit files are
            return file;
        },
        LibraryError(JERR_BAD_PRECISION));
    add("TwelveBitProgressive",
        [] {
            auto file = Plain({.Progressive = true});
            file[FindMarker(file, 0xC2) + 4] = 12;
            return file;
        },
        LibraryError(JERR_BAD_PRECISION));
    add("SixteenBitLossless",
        [] {
            auto file = Plain();
            file[FindMarker(file, 0xC0) + 4] = 16;
            file[FindMarker(file, 0xC0) + 1] = 0xC3;
            return file;
        },
        LibraryError(JERR_SOF_UNSUPPORTED));
    // ---- damaged tables and frames
    add("FrameOf255Components",
        [] {
            auto file = Plain();
            file[FindMarker(file, 0xC0) + 9] = 255;
            return file;
        },
        LibraryError(JERR_BAD_LENGTH));
    add("SamplingFactorZero",
        [] {
            auto file = Plain();
            file[FindMarker(file, 0xC0) + 11] = 0x00;
            return file;
        },
        LibraryError(JERR_BAD_SAMPLING));
    // Forty-eight blocks in an MCU: beyond the ten the library allows.
    add("SamplingFactors4x4Everywhere",
        [] {
            auto file = Plain();
            const size_t sof = FindMarker(file, 0xC0);
            for (int c = 0; c < 3; ++c) file[sof + 11 + 3 * size_t(c)] = 0x44;
            return file;
        },
        LibraryError(JERR_BAD_MCU_SIZE));
    add("HuffmanTableOfTooManyCodes",
        [] {
            auto file = Plain();
            const size_t dht = FindMarker(file, 0xC4);
            for (int i = 0; i < 16; ++i) file[dht + 5 + size_t(i)] = 255;
            return file;
        },
        LibraryError(JERR_BAD_HUFF_TABLE));
    add("QuantisationTableIndex9",
        [] {
            auto file = Plain();
            file[FindMarker(file, 0xDB) + 4] = 9;
            return file;
        },
        LibraryError(JERR_DQT_INDEX));
    add("ScanOfAnUnknownComponent",
        [] {
            auto file = Plain();
            file[FindMarker(file, 0xDA) + 5] = 77;
            return file;
        },
        LibraryError(JERR_BAD_COMPONENT_ID));
    add("MarkerLengthZero",
        [] {
            auto file = Plain();
            const size_t dqt = FindMarker(file, 0xDB);
            file[dqt + 2] = 0;
            file[dqt + 3] = 0;
            return file;
        },
        LibraryError(JERR_BAD_LENGTH));
    add("ArithmeticCoded", [] { return Plain({.Arithmetic = true}); }, Loaded(W, H, Px24));
    add("ArithmeticProgressive", [] { return Plain({.Progressive = true, .Arithmetic = true}); }, Loaded(W, H, Px24));
    add("ArithmeticGrey", [] { return Plain({.Input = TJpegInput::Grey, .Arithmetic = true}); }, Loaded(W, H, Px8));
    return cases;
}
// clang-format on

class HostileJPEG : public ::testing::TestWithParam<TCase> {};

TEST_P(HostileJPEG, HandledWithinBounds) { CheckCase(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Files, HostileJPEG, ::testing::ValuesIn(Cases()), CaseName);

}  // namespace
