// libpng refuses to create its state when it runs out of memory (or, for an
// unknown version text, always). The refusal is provoked here by standing in
// for the two creation functions: the executable's definitions take precedence
// over the shared library's, and pass every other call on to it.

#include <dlfcn.h>
#include <png.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "formats/png/png_bitmap.hpp"
#include "image/exceptions.hpp"
#include "tests/formats/png/png_test_files.hpp"
#include "tests/support/test_support.hpp"

namespace {

std::atomic<bool> refuseReadState{false};
std::atomic<bool> refuseWriteState{false};
std::atomic<int> readStatesAsked{0};

template <typename Function>
Function Real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

struct TRefusal {
    std::atomic<bool>& flag;
    explicit TRefusal(std::atomic<bool>& f) : flag(f) { flag = true; }
    ~TRefusal() { flag = false; }
};

}  // namespace

extern "C" png_structp png_create_read_struct(png_const_charp version, png_voidp errorPointer, png_error_ptr error,
                                              png_error_ptr warning) {
    using TCreate = png_structp (*)(png_const_charp, png_voidp, png_error_ptr, png_error_ptr);
    static const TCreate real = Real<TCreate>("png_create_read_struct");
    ++readStatesAsked;
    return refuseReadState ? nullptr : real(version, errorPointer, error, warning);
}

extern "C" png_structp png_create_write_struct(png_const_charp version, png_voidp errorPointer, png_error_ptr error,
                                               png_error_ptr warning) {
    using TCreate = png_structp (*)(png_const_charp, png_voidp, png_error_ptr, png_error_ptr);
    static const TCreate real = Real<TCreate>("png_create_write_struct");
    return refuseWriteState ? nullptr : real(version, errorPointer, error, warning);
}

using namespace tamberlit;
using namespace tamberlit::testing;

TEST(PngLibraryState, ARefusedWriteStateIsAWritingErrorAndTheOldFileStays) {
    TTempFolder folder;
    const std::string path = folder / "target.png";
    WriteFileBytes(path, {9, 8, 7});
    TPNGBitmap bitmap;
    bitmap.NewImage(3, 3, Px32);
    {
        TRefusal refusal(refuseWriteState);
        try {
            bitmap.SaveFile(path);
            ADD_FAILURE() << "saved";
        } catch (const Exception& error) {
            EXPECT_EQ(error.Message(), "Error Writing PNG File!");
        }
    }
    EXPECT_EQ(ReadFileBytes(path), (std::vector<uint8_t>{9, 8, 7}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), std::filesystem::directory_iterator()),
              1);
    bitmap.SaveFile(path);  // and the next save works
    EXPECT_EQ(DecodePng(ReadFileBytes(path)).Width, 3u);
}

TEST(PngLibraryState, ARefusedReadStateIsAReadingErrorNotAnEmptyPicture) {
    TTempFolder folder;
    const std::string path = folder / "picture.png";
    TPngLayout layout{2, 2, 8, PNG_COLOR_TYPE_RGB};
    layout.Pixels.assign(12, 40);
    WriteFileBytes(path, EncodePng(layout));
    TPNGBitmap bitmap;
    {
        TRefusal refusal(refuseReadState);
        try {
            bitmap.LoadFile(path);
            ADD_FAILURE() << "loaded";
        } catch (const Exception& error) {
            EXPECT_EQ(error.Message(), "Error Reading File!");
        }
    }
    bitmap.LoadFile(path);
    EXPECT_EQ(bitmap.Width(), 2);
}

TEST(PngLibraryState, AFileThatCannotBeOpenedCreatesNoLibraryState) {
    TTempFolder folder;
    const int before = readStatesAsked;
    TPNGBitmap bitmap;
    EXPECT_THROW(bitmap.LoadFile(folder / "missing.png"), EFOpenError);
    EXPECT_EQ(readStatesAsked, before);
}
