// Every BMP of the public corpus, loaded the way the dispatcher loads a .bmp
// file, against the reference decodings of expected.tsv.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "image/bitmap.hpp"
#include "image/bmp_fallback.hpp"
#include "image/exceptions.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;

namespace {

struct TOutcome {
    bool Loaded = false;
    bool Fallback = false;  // the strict reader refused and the lenient loader was asked
    std::string Error;
    int Width = 0;
    int Height = 0;
    std::string Rgba;
};

// The dispatcher's road: the strict reader; when it refuses, the lenient
// loader, brought to 24 bits; then every format but Px32 brought to 24 bits.
TOutcome LoadLikeTheDispatcher(const std::string& path) {
    TOutcome outcome;
    TBitmap reader;
    try {
        reader.LoadFile(path);
    } catch (const std::exception& error) {
        outcome.Fallback = true;
        outcome.Error = error.what();
        try {
            reader.SetHandle(LoadBitmapFileLeniently(path));
        } catch (const std::exception& second) {
            outcome.Error += std::string(" / ") + second.what();
            reader.CopyFrom(nullptr);
        }
        if (!reader.Empty()) reader.SetPixelFormat(Px24);
    }
    TBitmap bitmap;
    bitmap.CopyFrom(&reader);
    outcome.Loaded = !bitmap.Empty();
    if (!outcome.Loaded) return outcome;
    if (bitmap.PixelFormat() != Px32) bitmap.SetPixelFormat(Px24);
    outcome.Width = bitmap.Width();
    outcome.Height = bitmap.Height();
    outcome.Rgba = Sha256Hex(RgbaPixels(bitmap));
    return outcome;
}

bool NoteSays(const TCorpusEntry& entry, const std::string& text) {
    return entry.Get("note").find(text) != std::string::npos;
}

// Rows where the reading rules are mended, so that the reference decoder's
// columns apply rather than the alt columns: the pixel offset is honoured, and
// 32-bit files whose masks are exactly blue, green, red, alpha keep their alpha.
bool MendedRow(const TCorpusEntry& entry) {
    static const char* const maskedAlpha[] = {"bmp/image-rs/V4_A8_R8_G8_B8.bmp", "bmp/zigimg/windows_rgba_v5.bmp"};
    if (NoteSays(entry, "pixel-offset field")) return true;
    for (const char* path : maskedAlpha)
        if (entry.Path == path) return true;
    return false;
}

// Our choices where expected.tsv leaves the result to the implementer and
// gives no picture to compare with ("" = refused; otherwise the path of a row
// whose reference picture the file must give, or "loads" when none fits).
const std::map<std::string, std::string>& ImplementerChoices() {
    static const std::map<std::string, std::string> choices = {
        // Refused: bit counts and compressions nobody decodes here.
        {"bmp/bmpsuite/b/badbitcount.bmp", ""},
        {"bmp/bmpsuite/q/rgb24jpeg.bmp", ""},
        {"bmp/bmpsuite/q/rgb24png.bmp", ""},
        {"bmp/bmpsuite/q/rgba32abf.bmp", ""},
        {"bmp/image-rs/rgb24rle24.bmp", ""},
        // Refused: a negative width, and sizes beyond the decoded-size limit.
        {"bmp/bmpsuite/b/badwidth.bmp", ""},
        {"bmp/bmpsuite/b/reallybig.bmp", ""},
        {"bmp/image-rs/bad/Bad_height.bmp", ""},
        {"bmp/image-rs/bad/Bad_width.bmp", ""},
        {"bmp/pillow/l2rgb_read.bmp", ""},
        // Refused as the reference decoder refuses it: 13 of its 64 rows are
        // in the file, too little to convert.
        {"bmp/bmpsuite/b/shortfile.bmp", ""},
        // A hostile colour count is clamped and the pixel offset ends the
        // table: the pictures of the well-formed twins.
        {"bmp/bmpsuite/b/badpalettesize.bmp", "bmp/bmpsuite/g/pal8.bmp"},
        {"bmp/image-rs/bad/Bad_clrsUsed.bmp", "bmp/image-rs/Info_8_Bit.bmp"},
        // Two bits per pixel: the lenient loader decodes them.
        {"bmp/bmpsuite/q/pal2.bmp", "loads"},
        {"bmp/image-rs/pal2color.bmp", "loads"},
        // RLE4 data that reaches 4 of its 18,803 rows (read from its pixel
        // offset, 120): refused as cut short, as the reference decoder
        // refuses it.
        {"bmp/image-rs/bad/Bad_unusual_extend_buffer_usage.bmp", ""},
    };
    return choices;
}

}  // namespace

TEST(BmpCorpus, EveryFileLoadsAsExpectedOrIsRefused) {
    if (!CorpusAvailable()) GTEST_SKIP() << "corpus not found at " << CorpusFolder();
    const auto entries = CorpusEntries("bmp/");
    ASSERT_GE(entries.size(), 100u);
    std::map<std::string, std::string> referenceHashes;
    for (const auto& entry : entries) referenceHashes[entry.Path] = entry.Get("rgba_sha256");

    int compared = 0;
    for (const auto& entry : entries) {
        SCOPED_TRACE(entry.Path + " (" + entry.Get("note") + ")");
        const TOutcome outcome = LoadLikeTheDispatcher(CorpusFolder() + "/" + entry.Path);
        if (!outcome.Loaded) {
            EXPECT_FALSE(outcome.Error.empty());
        }

        auto choice = ImplementerChoices().find(entry.Path);
        if (choice != ImplementerChoices().end()) {
            EXPECT_EQ(outcome.Loaded, !choice->second.empty()) << outcome.Error;
            if (outcome.Loaded && choice->second != "loads") {
                EXPECT_EQ(outcome.Rgba, referenceHashes[choice->second]);
            }
            continue;
        }

        // Which columns hold the picture: the reference decoder's, or the alt
        // ones where the notes say the reading rules give another result (and
        // where an implementer's choice is written down, either).
        std::vector<std::pair<std::string, std::string>> pictures;  // decodes, hash
        const bool alt = !MendedRow(entry) && (NoteSays(entry, "differs:") || NoteSays(entry, "pillow-fails:") ||
                                               NoteSays(entry, "pillow-wrong:"));
        if (alt) {
            pictures.emplace_back(entry.Get("alt_decodes"), entry.Get("alt_rgba_sha256"));
        } else {
            pictures.emplace_back(entry.Get("decodes"), entry.Get("rgba_sha256"));
            if (NoteSays(entry, "implementer:") && !entry.Get("alt_decodes").empty())
                pictures.emplace_back(entry.Get("alt_decodes"), entry.Get("alt_rgba_sha256"));
        }
        const std::string width = entry.Get(alt ? "alt_width" : "width");
        const std::string height = entry.Get(alt ? "alt_height" : "height");
        ASSERT_EQ(pictures.front().first, "yes") << "a row without a picture needs a written-down choice";
        ASSERT_TRUE(outcome.Loaded) << outcome.Error;
        EXPECT_EQ(std::to_string(outcome.Width), width);
        EXPECT_EQ(std::to_string(outcome.Height), height);
        bool matched = false;
        for (const auto& picture : pictures) matched = matched || outcome.Rgba == picture.second;
        EXPECT_TRUE(matched) << "RGBA SHA-256 " << outcome.Rgba;
        ++compared;
    }
    EXPECT_GE(compared, 90);
}

// The lenient loader stands behind the strict reader: on every file both read
// it must give the same colours.
TEST(BmpCorpus, LenientLoaderAgreesWithTheStrictReader) {
    if (!CorpusAvailable()) GTEST_SKIP() << "corpus not found at " << CorpusFolder();
    int compared = 0;
    for (const auto& entry : CorpusEntries("bmp/")) {
        SCOPED_TRACE(entry.Path);
        const std::string path = CorpusFolder() + "/" + entry.Path;
        TBitmap strict, lenient;
        try {
            strict.LoadFile(path);
            lenient.SetHandle(LoadBitmapFileLeniently(path));
        } catch (const Exception&) {
            continue;
        }
        EXPECT_EQ(RgbPixels(lenient), RgbPixels(strict));
        ++compared;
    }
    EXPECT_GE(compared, 90);
}
