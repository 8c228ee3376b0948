#include "convert/image_format_conversions.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "image/exceptions.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
namespace fs = std::filesystem;

TEST(ImageKind, EndingsInTheirOrder) {
    struct Case {
        const char* path;
        TImageKind kind;
    } cases[] = {
        {"a.bmp", ikBMP},
        {"A.BMP", ikBMP},
        {"x.tga", ikTGA},
        {"photo.PNG", ikPNG},
        {"scan.dat", ikPNG},
        {"anim.gif", ikGIF},
        {"PHOTO.JPEG", ikJPEG},
        {"photo.jfif", ikJPEG},
        {"p.jpg", ikJPEG},
        {"p.jpe", ikJPEG},
        {"p.jif", ikJPEG},
        {"x.xtga", ikUnknown},
        {".tga", ikTGA},
        {"tga", ikUnknown},
        {"a.png.txt", ikUnknown},
        {"", ikUnknown},
        {"dir.bmp/file", ikUnknown},
        {"a.jpeg.bmp", ikBMP},
        {"noext", ikUnknown},
        {"a.tif", ikUnknown},
    };
    for (const auto& c : cases) EXPECT_EQ(GetImageKind(c.path), c.kind) << c.path;
}

TEST(LoadImageFile, UnknownKindLeavesTheBitmapAsItWas) {
    TBitmap bitmap;
    bitmap.NewImage(3, 2, Px32);
    std::string failure;
    EXPECT_FALSE(LoadImageFile("/tmp/whatever.txt", bitmap, &failure));
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(bitmap.PixelFormat(), Px32);
    EXPECT_FALSE(failure.empty());
}

TEST(LoadImageFile, AFailedReadEmptiesTheBitmapAndReportsWhy) {
    TTempFolder folder;
    WriteFileBytes(folder / "bad.bmp", {'n', 'o', 't', ' ', 'b', 'm', 'p'});
    TBitmap bitmap;
    bitmap.NewImage(3, 2, Px32);
    std::string failure;
    EXPECT_FALSE(LoadImageFile(folder / "bad.bmp", bitmap, &failure));
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_EQ(bitmap.PixelFormat(), Px24);
    EXPECT_FALSE(failure.empty());
    EXPECT_FALSE(LoadImageFile(folder / "missing.bmp", bitmap, &failure));
}

TEST(LoadImageFile, AJpegThatFailsToDecodeIsAFailedRead) {
    // An empty JPEG loads (its data are kept) and fails only when decoded, as
    // the bitmap takes the picture: still a failure to read, not an error for
    // the caller.
    TTempFolder folder;
    WriteFileBytes(folder / "empty.jpg", {});
    TBitmap bitmap;
    bitmap.NewImage(3, 2, Px32);
    std::string failure;
    EXPECT_FALSE(LoadImageFile(folder / "empty.jpg", bitmap, &failure));
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_EQ(bitmap.PixelFormat(), Px24);
    EXPECT_EQ(failure, "JPEG error #42");
}

TEST(SaveImageFile, KindsWithoutWriterChangeNothing) {
    TTempFolder folder;
    TBitmap bitmap;
    bitmap.NewImage(1, 1, Px32);
    WriteFileBytes(folder / "old.txt", {1, 2, 3});
    EXPECT_EQ(SaveImageFile(bitmap, folder / "old.txt"), TSaveResult::NoWriter);
    EXPECT_EQ(ReadFileBytes(folder / "old.txt"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(SaveImageFile(bitmap, folder / "new.jpx"), TSaveResult::NoWriter);
    EXPECT_FALSE(fs::exists(folder.Path() / "new.jpx"));
}

TEST(SaveImageFile, ReadOnlyTargetIsLeftAsItIsWithoutError) {
    TTempFolder folder;
    const std::string target = folder / "keep.bmp";
    WriteFileBytes(target, {4, 5, 6});
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    TBitmap bitmap;
    bitmap.NewImage(1, 1, Px32);
    EXPECT_EQ(SaveImageFile(bitmap, target), TSaveResult::Unwritable);
    EXPECT_EQ(ReadFileBytes(target), (std::vector<uint8_t>{4, 5, 6}));
}

namespace {

// A picture whose writer fails halfway, as a full disk would make it.
class TFailingGraphic : public TBitmap {
public:
    void SaveToStream(TStream& stream) override {
        stream.WriteBuffer("half a file", 11);
        throw EWriteError("disk full");
    }
};

}  // namespace

TEST(SaveImageFile, AWriterThatFailsLeavesTheOldTargetIntact) {
    TTempFolder folder;
    const std::string target = folder / "x.bmp";
    WriteFileBytes(target, {7, 7, 7});
    TFailingGraphic graphic;
    EXPECT_THROW(graphic.SaveFile(target), EWriteError);
    EXPECT_EQ(ReadFileBytes(target), (std::vector<uint8_t>{7, 7, 7}));
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder.Path())) ++entries;
    EXPECT_EQ(entries, 1u);
}
