// Inputs the fuzz targets (fuzz/) found to break a reader or the dispatcher,
// minimised; each is also in fuzz/regression/<target>/. Every case asserts
// what the input gives now: refused with which message, or loaded with which
// size.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/bitmap.hpp"
#include "convert/image_format_conversions.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;

namespace {

struct TDispatchResult {
    bool Loaded = false;
    std::string Failure;
    bool Empty = true;
    int Width = 0;
    int Height = 0;
    TPixelFormat Format = PxDevice;
};

// Loads the bytes through the dispatcher as a file of the given name.
TDispatchResult LoadThroughDispatcher(const std::string& name, const std::vector<uint8_t>& bytes) {
    TTempFolder folder;
    WriteFileBytes(folder / name, bytes);
    TBitmap bitmap;
    TDispatchResult result;
    result.Loaded = LoadImageFile(folder / name, bitmap, &result.Failure);
    result.Empty = bitmap.Empty();
    result.Width = bitmap.Width();
    result.Height = bitmap.Height();
    result.Format = bitmap.PixelFormat();
    return result;
}

}  // namespace

// round_trip: a GIF whose logical screen is 0 pixels wide (and 18433 high)
// with a frame of 59 x 769 pixels. The frame is drawn on the screen, which
// gives a picture of 0 x 18433 pixels and no pixel memory; the dispatcher's
// conversion of it to Px24 handed that null block to memcpy (undefined
// behaviour, reported by the sanitizers). The frame holds no data, so it is
// now refused as cut short before it is drawn; the test below keeps the
// conversion of a block without columns covered.
TEST(FuzzFindings, GifWithAScreenZeroPixelsWideHoldsNoPicture) {
    const std::vector<uint8_t> file = {0x47, 0x49, 0x46, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x48,
                                       0x80, 0x00, 0x00, 0x3B, 0x01, 0x00, 0x01, 0x03, 0x3B, 0x2C,
                                       0x00, 0x00, 0x01, 0x03, 0x3B, 0x00, 0x01, 0x03, 0x3B};
    const TDispatchResult result = LoadThroughDispatcher("zero-wide.gif", file);
    EXPECT_FALSE(result.Loaded);
    EXPECT_EQ(result.Failure, "cut short: 0 of 769 rows present");
    EXPECT_TRUE(result.Empty);
}

// The same as a bitmap of any format: converting a block without columns
// copies nothing.
TEST(FuzzFindings, PixelFormatOfABitmapWithoutColumnsChanges) {
    for (TPixelFormat from : {PxDevice, Px8, Px24, Px32}) {
        TBitmap bitmap;
        bitmap.NewImage(0, 5, from == PxDevice ? Px32 : from);
        if (from == PxDevice) bitmap.SetHandleType(THandleType::bmDDB);
        bitmap.SetPixelFormat(from == Px24 ? Px32 : Px24);
        EXPECT_EQ(bitmap.Width(), 0);
        EXPECT_EQ(bitmap.Height(), 5);
        EXPECT_TRUE(bitmap.Empty());
    }
}
