// Every PNG of the public corpus against its reference decoding (expected.tsv,
// see the corpus README). The reference columns are Pillow's; the alt_*
// columns hold the result of our reading rules where a note says they differ.
// Notes marked "implementer:" (grey, grey with alpha, 16-bit samples) are read
// the sound way, which is Pillow's, so those rows use the reference columns.

#include <gtest/gtest.h>

#include <map>

#include "formats/png/png_bitmap.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;

namespace {

struct TExpectation {
    bool Decodes = false;
    int Width = 0, Height = 0;
    bool HasAlpha = false;
    std::string RgbaSha256, RgbSha256;
};

TExpectation ExpectationFor(const TCorpusEntry& entry) {
    const std::string note = entry.Get("note");
    const bool alternative =
        note.rfind("differs:", 0) == 0 || note.rfind("rejects:", 0) == 0 || note.rfind("pillow-fails:", 0) == 0;
    const bool soundIsReference = note.find("(likely fault)") != std::string::npos;
    const std::string prefix = alternative && !soundIsReference ? "alt_" : "";
    auto get = [&](const std::string& column) {
        const std::string value = entry.Get(prefix + column);
        // An empty alt cell means "as the reference".
        return value.empty() && !prefix.empty() ? entry.Get(column) : value;
    };
    TExpectation expected;
    expected.Decodes = get("decodes") == "yes";
    if (expected.Decodes) {
        expected.Width = std::stoi(get("width"));
        expected.Height = std::stoi(get("height"));
        expected.HasAlpha = get("has_alpha") == "yes";
        expected.RgbaSha256 = get("rgba_sha256");
        expected.RgbSha256 = get("rgb_sha256");
    }
    return expected;
}

// Rows where the reference itself is wrong. tbbn0g04 is 4-bit grey with a tRNS
// grey level of 15: by the PNG standard (11.3.2.1) the key is compared with the
// sample at the image's bit depth, so the white pixels (sample 15) are
// transparent. Pillow 9.4 compares the unscaled key with the scaled samples
// (255), finds no match and gives an opaque picture. The hash below is of the
// picture by the standard, from a decode of the IDAT data with zlib alone.
const std::map<std::string, std::string> referenceFaults = {
    {"png/pngsuite/tbbn0g04.png", "1c36e9d46fe44582f94be4db7d79d58ea259b0b2a59c7f3328974d0222bfaa97"},
};

}  // namespace

TEST(PngCorpus, EveryFileDecodesToItsReferencePixels) {
    if (!CorpusAvailable()) GTEST_SKIP() << "corpus not found at " << CorpusFolder();
    const auto entries = CorpusEntries("png/");
    ASSERT_GT(entries.size(), 150u);
    int decoded = 0, refused = 0;
    for (const TCorpusEntry& entry : entries) {
        SCOPED_TRACE(entry.Path);
        TExpectation expected = ExpectationFor(entry);
        if (auto fault = referenceFaults.find(entry.Path); fault != referenceFaults.end())
            expected.RgbaSha256 = fault->second;
        TPNGBitmap bitmap;
        std::string failure;
        try {
            bitmap.LoadFile(CorpusFolder() + "/" + entry.Path);
        } catch (const std::exception& error) {
            failure = error.what();
        }
        if (!expected.Decodes) {
            EXPECT_EQ(failure, "Error Reading File!");
            ++refused;
            continue;
        }
        ASSERT_EQ(failure, "");
        // As the dispatcher does: everything but Px32 is brought to Px24.
        TBitmap result;
        result.CopyFrom(&bitmap);
        if (result.PixelFormat() != Px32) result.SetPixelFormat(Px24);
        EXPECT_EQ(result.Width(), expected.Width);
        EXPECT_EQ(result.Height(), expected.Height);
        EXPECT_EQ(result.PixelFormat() == Px32, expected.HasAlpha);
        if (expected.HasAlpha) EXPECT_EQ(Sha256Hex(RgbaPixels(result)), expected.RgbaSha256);
        else EXPECT_EQ(Sha256Hex(RgbPixels(result)), expected.RgbSha256);
        ++decoded;
    }
    std::printf("PNG corpus: %d decoded, %d refused\n", decoded, refused);
}
