#include "convert/batch_conversion.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/convert/recording_host.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
namespace fs = std::filesystem;

namespace {

void Touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    WriteFileBytes(path.string(), {0});
}

std::vector<std::string> Relative(const std::vector<std::string>& paths, const fs::path& base) {
    std::vector<std::string> result;
    for (const auto& path : paths) result.push_back(fs::path(path).lexically_relative(base).string());
    return result;
}

}  // namespace

TEST(WildcardMasks, MatchWithoutRegardToLetterCase) {
    EXPECT_TRUE(MatchesMask("a.png", "*.png"));
    EXPECT_TRUE(MatchesMask("A.PNG", "*.png"));
    EXPECT_TRUE(MatchesMask(".png", "*.png"));
    EXPECT_FALSE(MatchesMask("a.png.txt", "*.png"));
    EXPECT_FALSE(MatchesMask("apng", "*.png"));
    EXPECT_TRUE(MatchesMask("x.y.png", "*.png"));
    EXPECT_TRUE(MatchesMask("ab", "a?"));
    EXPECT_FALSE(MatchesMask("abc", "a?"));
    EXPECT_TRUE(MatchesMask("anything", "*"));
}

TEST(FolderScan, ListsEachKindAcrossTheTreeInTurnLeavingOutTheTarget) {
    TTempFolder folder;
    for (const char* name : {"b.tga", "a.bmp", "sub/c.png", "sub/d.BMP", "a.png", "z.jpg", "sub/deeper/e.tga"})
        Touch(folder.Path() / name);
    TRecordingHost host;
    host.target = ".png";
    const auto list = ListSourceFiles(host, folder.Path().string());
    EXPECT_EQ(Relative(list, folder.Path()),
              (std::vector<std::string>{"a.bmp", "sub/d.BMP", "b.tga", "sub/deeper/e.tga"}));
    host.target = ".tga";
    EXPECT_EQ(Relative(ListSourceFiles(host, folder.Path().string() + "/"), folder.Path()),
              (std::vector<std::string>{"a.bmp", "sub/d.BMP", "a.png", "sub/c.png"}));
}

TEST(FolderScan, DotNamesAreNeverListedOrEntered) {
    TTempFolder folder;
    Touch(folder.Path() / ".hidden.bmp");
    Touch(folder.Path() / ".git/x.bmp");
    Touch(folder.Path() / "ok/.y.bmp");
    Touch(folder.Path() / "ok/y.bmp");
    TRecordingHost host;
    EXPECT_EQ(Relative(ListSourceFiles(host, folder.Path().string()), folder.Path()),
              (std::vector<std::string>{"ok/y.bmp"}));
}

TEST(FolderScan, LinksToFoldersAreNeitherListedNorEntered) {
    TTempFolder folder;
    Touch(folder.Path() / "real/a.bmp");
    fs::create_directory_symlink(folder.Path(), folder.Path() / "real/loop");
    fs::create_directory_symlink(folder.Path() / "real", folder.Path() / "link.bmp");
    fs::create_symlink(folder.Path() / "real/a.bmp", folder.Path() / "filelink.bmp");
    TRecordingHost host;
    EXPECT_EQ(Relative(ListSourceFiles(host, folder.Path().string()), folder.Path()),
              (std::vector<std::string>{"filelink.bmp", "real/a.bmp"}));
}

TEST(FolderScan, AFolderNamedLikeASourceIsEnteredOnceAndNeverListed) {
    TTempFolder folder;
    Touch(folder.Path() / "x.bmp/inner.bmp");
    Touch(folder.Path() / "y.png/inner.tga");
    TRecordingHost host;
    EXPECT_EQ(Relative(ListSourceFiles(host, folder.Path().string()), folder.Path()),
              (std::vector<std::string>{"x.bmp/inner.bmp", "y.png/inner.tga"}));
}

TEST(FolderScan, UnreadableFoldersAddNothingAndTheRestIsListed) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
    TTempFolder folder;
    Touch(folder.Path() / "closed/a.bmp");
    Touch(folder.Path() / "open/b.bmp");
    fs::permissions(folder.Path() / "closed", fs::perms::none);
    TRecordingHost host;
    EXPECT_EQ(Relative(ListSourceFiles(host, folder.Path().string()), folder.Path()),
              (std::vector<std::string>{"open/b.bmp"}));
}

TEST(FolderScan, MissingFolderListsNothing) {
    TRecordingHost host;
    std::vector<std::string> list;
    ListFiles(host, "/no/such/folder/", "*.bmp", list, true, true);
    EXPECT_TRUE(list.empty());
}

TEST(FolderScan, RelativePathsWithoutFullPaths) {
    TTempFolder folder;
    Touch(folder.Path() / "a/b.tga");
    TRecordingHost host;
    std::vector<std::string> list;
    ListFiles(host, folder.Path().string() + "/", "*.tga", list, false, true);
    EXPECT_EQ(list, (std::vector<std::string>{"a/b.tga"}));
    list.clear();
    ListFiles(host, folder.Path().string() + "/", "*.tga", list, true, false);
    EXPECT_TRUE(list.empty());
}

TEST(BatchDriver, FolderShowsItsStatusAndProgressAndHidesItAtTheEnd) {
    TTempFolder folder;
    Touch(folder.Path() / "a.tga");
    Touch(folder.Path() / "b.tga");
    TRecordingHost host;
    ConvertPath(host, folder.Path().string());
    ASSERT_GE(host.statusTexts.size(), 3u);
    EXPECT_EQ(host.statusTexts[0], "Preparing list of files inside: \n" + folder.Path().string());
    EXPECT_EQ(host.statusTexts[1], "Converting: \na.tga");
    EXPECT_EQ(host.statusTexts[2], "Converting: \nb.tga");
    EXPECT_EQ(host.events, (std::vector<std::string>{"range 0 2", "show", "position 0", "position 1", "hide"}));
}

TEST(BatchDriver, StopRequestEndsTheFolderAfterTheCurrentFile) {
    // Pressed during the scan (one status text so far): no file starts;
    // pressed while the first file converts: that file is the only one.
    for (const size_t texts : {size_t{1}, size_t{2}}) {
        TTempFolder folder;
        for (const char* name : {"a.tga", "b.tga", "c.tga"}) Touch(folder.Path() / name);
        TRecordingHost host;
        host.onProcessMessages = [&] {
            if (host.statusTexts.size() >= texts) host.stop = true;
        };
        ConvertPath(host, folder.Path().string());
        EXPECT_EQ(host.done.size(), texts - 1) << "stopped after " << texts << " status texts";
        EXPECT_EQ(host.events.back(), "hide");
    }
}

TEST(BatchDriver, EmptyFolderShowsAndHidesTheProgressBar) {
    TTempFolder folder;
    TRecordingHost host;
    ConvertPath(host, folder.Path().string());
    EXPECT_EQ(host.events, (std::vector<std::string>{"range 0 0", "show", "hide"}));
}

TEST(BatchDriver, UnknownAndUnreadableFilesAreSkippedWithoutOutput) {
    TTempFolder folder;
    Touch(folder.Path() / "notes.txt");
    Touch(folder.Path() / "broken.tga");
    TRecordingHost host;
    ConvertPath(host, folder / "notes.txt");
    ConvertPath(host, folder / "broken.tga");
    ConvertPath(host, folder / "missing.png");
    ASSERT_EQ(host.done.size(), 3u);
    for (const auto& done : host.done) EXPECT_EQ(done.outcome, TFileOutcome::Unreadable);
    EXPECT_FALSE(fs::exists(folder.Path() / "notes.png"));
    EXPECT_FALSE(fs::exists(folder.Path() / "broken.png"));
    EXPECT_TRUE(host.errors.empty());
}
