// Every GIF of the public corpus through the converter's road: load the file,
// assign it to a bitmap, bring it to 24 bits, compare with the manifest.

#include <gtest/gtest.h>

#include "formats/gif/gif_image.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;

namespace {

struct TOutcome {
    bool picture = false;
    int width = 0, height = 0;
    std::string rgba;
    std::string failure;
};

// What the dispatcher does with a GIF file: a load error is swallowed and the
// frames read before it still give a picture; the hand-over may raise.
TOutcome Convert(const std::string& path) {
    TOutcome outcome;
    TGIFImage image;
    try {
        image.LoadFile(path);
    } catch (const std::exception& error) {
        outcome.failure = error.what();
    }
    TBitmap bitmap;
    try {
        bitmap.CopyFrom(&image);
    } catch (const std::exception& error) {
        outcome.failure = error.what();
        return outcome;
    }
    if (bitmap.Empty()) return outcome;
    if (bitmap.PixelFormat() != Px32) bitmap.SetPixelFormat(Px24);
    outcome.picture = true;
    outcome.width = bitmap.Width();
    outcome.height = bitmap.Height();
    outcome.rgba = Sha256Hex(RgbaPixels(bitmap));
    return outcome;
}

}  // namespace

TEST(GIFCorpus, FirstFramesMatchTheManifest) {
    if (!CorpusAvailable()) GTEST_SKIP() << "corpus not found at " << CorpusFolder();
    const auto entries = CorpusEntries("gif/");
    ASSERT_GE(entries.size(), 100u);
    int pictures = 0, refusals = 0;
    for (const auto& entry : entries) {
        SCOPED_TRACE(entry.Path);
        // The alternative columns hold the result under our reading rules where
        // it differs from the reference decoder's (transparency, frames smaller
        // than the screen, refusals).
        const bool alternative = !entry.Get("alt_decodes").empty();
        const std::string prefix = alternative ? "alt_" : "";
        const bool decodes = entry.Get(prefix + "decodes") == "yes";
        const TOutcome outcome = Convert(CorpusFolder() + "/" + entry.Path);
        if (!decodes) {
            EXPECT_FALSE(outcome.picture);
            ++refusals;
            continue;
        }
        ASSERT_TRUE(outcome.picture) << outcome.failure;
        EXPECT_EQ(outcome.width, std::stoi(entry.Get(prefix + "width")));
        EXPECT_EQ(outcome.height, std::stoi(entry.Get(prefix + "height")));
        EXPECT_EQ(outcome.rgba, entry.Get(prefix + "rgba_sha256"));
        ++pictures;
    }
    std::printf("GIF corpus: %d pictures, %d refused\n", pictures, refusals);
}
