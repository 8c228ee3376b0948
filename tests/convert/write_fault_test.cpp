// Files that change under a conversion: the target or the source replaced
// between load and save, and the target's place taken while its new content
// is being written. The rule: the target ends as one whole picture or as it
// was, a source is never written, and no temporary file stays behind.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "convert/batch_conversion.hpp"
#include "formats/tga/tga_file.hpp"
#include "image/exceptions.hpp"
#include "convert/image_format_conversions.hpp"
#include "image/stream.hpp"
#include "tests/convert/recording_host.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
namespace fs = std::filesystem;

namespace {

void Paint(TBitmap& bitmap, int width, int height, int seed) {
    PaintPixels(bitmap, width, height, Px32, [seed](int x, int y, int c) { return x * (c + 3) + y * 5 + seed; });
}

std::vector<uint8_t> Pixels(const std::string& path) {
    TBitmap bitmap;
    if (!LoadImageFile(path, bitmap)) return {};
    return RgbaPixels(bitmap);
}

size_t Temporaries(const fs::path& folder) {
    size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.path().filename().string().find(".tmp-") != std::string::npos) ++count;
    return count;
}

}  // namespace

TEST(ChangedUnderTheConversion, ATargetReplacedBetweenLoadAndSaveIsReplacedWhole) {
    TTempFolder folder;
    TBitmap source, theirs;
    Paint(source, 40, 30, 1);
    Paint(theirs, 13, 9, 2);
    ASSERT_EQ(SaveImageFile(source, folder / "a.tga"), TSaveResult::Written);
    const auto sourceBytes = ReadFileBytes(folder / "a.tga");

    TBitmap loaded;
    ASSERT_TRUE(LoadImageFile(folder / "a.tga", loaded));
    // Another program writes the target meanwhile: the last whole file wins.
    ASSERT_EQ(SaveImageFile(theirs, folder / "a.png"), TSaveResult::Written);
    ASSERT_EQ(SaveImageFile(loaded, folder / "a.png"), TSaveResult::Written);
    EXPECT_EQ(Pixels(folder / "a.png"), RgbaPixels(source));
    // ... or makes it read-only: then it is left to them.
    ASSERT_EQ(SaveImageFile(theirs, folder / "b.png"), TSaveResult::Written);
    fs::permissions(folder.Path() / "b.png", fs::perms::owner_read);
    const auto theirBytes = ReadFileBytes(folder / "b.png");
    EXPECT_EQ(SaveImageFile(loaded, folder / "b.png"), TSaveResult::Unwritable);
    EXPECT_EQ(ReadFileBytes(folder / "b.png"), theirBytes);
    // ... or puts a folder there: an error, and the folder stays.
    fs::create_directories(folder.Path() / "c.png/inner");
    EXPECT_THROW(SaveImageFile(loaded, folder / "c.png"), EStreamError);
    EXPECT_TRUE(fs::is_directory(folder.Path() / "c.png/inner"));

    EXPECT_EQ(ReadFileBytes(folder / "a.tga"), sourceBytes);
    EXPECT_EQ(Temporaries(folder.Path()), 0u);
}

TEST(ChangedUnderTheConversion, ASourceReplacedAfterLoadingIsNeverWritten) {
    TTempFolder folder;
    TBitmap first, second;
    Paint(first, 21, 8, 3);
    Paint(second, 8, 21, 4);
    ASSERT_EQ(SaveImageFile(first, folder / "a.tga"), TSaveResult::Written);
    TBitmap loaded;
    ASSERT_TRUE(LoadImageFile(folder / "a.tga", loaded));
    ASSERT_EQ(SaveImageFile(second, folder / "a.tga"), TSaveResult::Written);
    const auto replaced = ReadFileBytes(folder / "a.tga");
    ASSERT_EQ(SaveImageFile(loaded, folder / "a.bmp"), TSaveResult::Written);
    EXPECT_EQ(ReadFileBytes(folder / "a.tga"), replaced);
    EXPECT_EQ(Pixels(folder / "a.bmp"), RgbaPixels(first));
}

// The window between making the temporary file and renaming it over the
// target: what stands in the target's place at the rename decides.
TEST(ChangedUnderTheConversion, TheTargetsPlaceTakenWhileItsNewContentIsWritten) {
    TTempFolder folder;
    const std::vector<uint8_t> ours(100000, 0x42);

    {  // A folder: the rename fails, the folder stays, the temporary goes.
        TAtomicFileWriter writer(folder / "a.png");
        writer.WriteBuffer(ours.data(), ours.size());
        fs::create_directories(folder.Path() / "a.png/inner");
        EXPECT_THROW(writer.Commit(), EFCreateError);
    }
    EXPECT_TRUE(fs::is_directory(folder.Path() / "a.png/inner"));

    {  // Another file: replaced whole by ours.
        TAtomicFileWriter writer(folder / "b.png");
        writer.WriteBuffer(ours.data(), ours.size());
        WriteFileBytes(folder / "b.png", {1, 2, 3});
        writer.Commit();
    }
    EXPECT_EQ(ReadFileBytes(folder / "b.png"), ours);
    EXPECT_EQ(Temporaries(folder.Path()), 0u);

    {  // The target's folder moved away: an error, no target written anywhere.
        // The temporary file moved with the folder, under a "." name.
        fs::create_directory(folder.Path() / "gone");
        TAtomicFileWriter writer(folder / "gone/c.png");
        writer.WriteBuffer(ours.data(), ours.size());
        fs::rename(folder.Path() / "gone", folder.Path() / "moved");
        EXPECT_THROW(writer.Commit(), EFCreateError);
    }
    EXPECT_FALSE(fs::exists(folder.Path() / "gone"));
    EXPECT_FALSE(fs::exists(folder.Path() / "moved/c.png"));
    EXPECT_LE(Temporaries(folder.Path()), 1u);
}

TEST(ChangedUnderTheConversion, DevicesFifosAndSocketsInTheTargetsPlaceAreNeverReplaced) {
    TTempFolder folder;
    TBitmap picture;
    Paint(picture, 5, 5, 9);
    ASSERT_EQ(::mkfifo((folder / "pipe.png").c_str(), 0644), 0);
    EXPECT_THROW(SaveImageFile(picture, folder / "pipe.png"), EStreamError);
    EXPECT_TRUE(fs::is_fifo(folder.Path() / "pipe.png"));
    // Through a link too: the link and the FIFO stay.
    fs::create_symlink("pipe.png", folder.Path() / "link.bmp");
    EXPECT_THROW(SaveImageFile(picture, folder / "link.bmp"), EStreamError);
    EXPECT_TRUE(fs::is_symlink(folder.Path() / "link.bmp"));
    EXPECT_EQ(Temporaries(folder.Path()), 0u);
}

TEST(ChangedUnderTheConversion, AFileRemovedBetweenScanAndLoadIsReportedAndTheBatchGoesOn) {
    TTempFolder folder;
    TBitmap picture;
    Paint(picture, 6, 4, 7);
    for (const char* name : {"a.tga", "b.tga", "c.tga"})
        ASSERT_EQ(SaveImageFile(picture, folder / name), TSaveResult::Written);
    TRecordingHost host;
    host.onProcessMessages = [&] {
        // While a.tga is about to be loaded, b.tga goes.
        if (host.statusTexts.size() == 2 && host.statusTexts[1] == "Converting: \na.tga")
            fs::remove(folder.Path() / "b.tga");
    };
    ConvertPath(host, folder.Path().string());
    ASSERT_EQ(host.done.size(), 3u);
    EXPECT_EQ(host.done[0].outcome, TFileOutcome::Converted);
    EXPECT_EQ(host.done[1].outcome, TFileOutcome::Unreadable);
    EXPECT_NE(host.done[1].detail.find("b.tga\". No such file or directory"), std::string::npos) << host.done[1].detail;
    EXPECT_EQ(host.done[2].outcome, TFileOutcome::Converted);
    EXPECT_TRUE(host.errors.empty());
    EXPECT_EQ(Pixels(folder / "c.png"), RgbaPixels(picture));
    EXPECT_FALSE(fs::exists(folder.Path() / "b.png"));
}
