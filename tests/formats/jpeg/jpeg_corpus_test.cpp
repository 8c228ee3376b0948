// Every JPEG of the public corpus through the dispatcher's road (LoadFile,
// assignment to a TBitmap, widening to Px24) against the manifest's pixels.

#include <gtest/gtest.h>

#include <set>

#include "image/exceptions.hpp"
#include "formats/jpeg/jpeg_image.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;

namespace {

// Files we refuse although the manifest's decoder gives a picture: four
// components (CMYK, YCCK), which the library converts to nothing but CMYK.
const std::set<std::string> refused = {"jpeg/pillow/pil_sample_cmyk.jpg"};

}  // namespace

TEST(JPEGCorpus, EveryFileDecodesToTheExpectedPixelsOrIsRefusedCleanly) {
    if (!CorpusAvailable()) GTEST_SKIP() << "corpus not found at " << CorpusFolder();
    const auto entries = CorpusEntries("jpeg/");
    ASSERT_FALSE(entries.empty());
    int decoded = 0;
    for (const auto& entry : entries) {
        SCOPED_TRACE(entry.Path);
        // Where the manifest's decoder fails but the library's rules give a
        // picture (a truncated file), the alt columns hold it. Grey files are
        // decoded exactly, so Pillow's columns apply to them, not the alt
        // columns of a 236-level quantiser.
        const bool alt = entry.Get("note").find("pillow-fails") != std::string::npos;
        const std::string prefix = alt ? "alt_" : "";
        const bool expectPicture = !refused.count(entry.Path) && entry.Get(prefix + "decodes") == "yes";

        TJPEGImage jpeg;
        TBitmap bitmap;
        try {
            jpeg.LoadFile(CorpusFolder() + "/" + entry.Path);
            bitmap.CopyFrom(&jpeg);
        } catch (const Exception& error) {
            EXPECT_FALSE(expectPicture) << "refused: " << error.what();
            continue;
        }
        ASSERT_TRUE(expectPicture) << "decoded a file that should be refused";
        ASSERT_TRUE(bitmap.PixelFormat() == Px24 || bitmap.PixelFormat() == Px8);
        if (bitmap.PixelFormat() != Px32) bitmap.SetPixelFormat(Px24);
        EXPECT_EQ(std::to_string(bitmap.Width()), entry.Get(prefix + "width"));
        EXPECT_EQ(std::to_string(bitmap.Height()), entry.Get(prefix + "height"));
        EXPECT_EQ(Sha256Hex(RgbPixels(bitmap)), entry.Get(prefix + "rgb_sha256"));
        ++decoded;
    }
    EXPECT_GE(decoded, 20);
}
