// Folder scans of trees a user may hand over: symbolic-link loops, links out
// of the tree, folders that cannot be read, trees deeper than a path can be
// long, FIFOs and devices named like images, and names that are not UTF-8.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>

#include "convert/batch_conversion.hpp"
#include "convert/image_format_conversions.hpp"
#include "tests/convert/recording_host.hpp"
#include "tests/support/deep_tree.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> PictureFile(int seed) {
    TTempFolder folder;
    TBitmap bitmap;
    bitmap.NewImage(3, 2, Px32);
    for (int y = 0; y < 2; ++y) std::memset(bitmap.RowAddress(y), seed + y, 12);
    SaveImageFile(bitmap, folder / "p.tga");
    return ReadFileBytes(folder / "p.tga");
}

std::vector<std::string> Relative(const std::vector<std::string>& paths, const fs::path& base) {
    std::vector<std::string> result;
    for (const auto& path : paths) result.push_back(fs::path(path).lexically_relative(base).string());
    return result;
}

}  // namespace

TEST(FolderScanOfOddTrees, SymbolicLinkLoopsEndTheScanAndLoopingNamesAreUnreadable) {
    TTempFolder folder;
    const fs::path root = folder.Path();
    WriteFileBytes((root / "real.tga").string(), PictureFile(1));
    fs::create_directory(root / "sub");
    WriteFileBytes((root / "sub/deep.tga").string(), PictureFile(2));
    fs::create_directory_symlink(".", root / "self");
    fs::create_directory_symlink("..", root / "sub/up");
    fs::create_directory_symlink("../sub", root / "sub/again.tga");
    fs::create_symlink("self.tga", root / "self.tga");
    fs::create_symlink("y.tga", root / "x.tga");
    fs::create_symlink("x.tga", root / "y.tga");

    TRecordingHost host;
    EXPECT_EQ(Relative(ListSourceFiles(host, root.string()), root),
              (std::vector<std::string>{"real.tga", "self.tga", "x.tga", "y.tga", "sub/deep.tga"}));
    EXPECT_TRUE(host.unreadableFolders.empty());

    ConvertPath(host, root.string());
    ASSERT_EQ(host.done.size(), 5u);
    for (const auto& done : host.done) {
        const bool loops = !done.source.ends_with("real.tga") && !done.source.ends_with("deep.tga");
        EXPECT_EQ(done.outcome, loops ? TFileOutcome::Unreadable : TFileOutcome::Converted) << done.source;
        if (loops) {
            EXPECT_NE(done.detail.find("Too many levels of symbolic links"), std::string::npos) << done.detail;
        }
    }
    EXPECT_TRUE(host.errors.empty());
}

TEST(FolderScanOfOddTrees, LinksToFoldersOutsideAreNotEnteredAndLinkedFilesConvertBesideTheLink) {
    TTempFolder folder, outside;
    WriteFileBytes(outside / "a.tga", PictureFile(3));
    const auto outsideBefore = ReadFileBytes(outside / "a.tga");
    fs::create_directory_symlink(outside.Path(), folder.Path() / "elsewhere");
    fs::create_symlink(outside.Path() / "a.tga", folder.Path() / "linked.tga");

    TRecordingHost host;
    EXPECT_EQ(Relative(ListSourceFiles(host, folder.Path().string()), folder.Path()),
              (std::vector<std::string>{"linked.tga"}));
    ConvertPath(host, folder.Path().string());
    ASSERT_EQ(host.done.size(), 1u);
    EXPECT_EQ(host.done[0].outcome, TFileOutcome::Converted);
    EXPECT_TRUE(fs::is_regular_file(folder.Path() / "linked.png"));
    EXPECT_EQ(std::distance(fs::directory_iterator(outside.Path()), fs::directory_iterator()), 1);
    EXPECT_EQ(ReadFileBytes(outside / "a.tga"), outsideBefore);
}

// A folder that goes between being listed and being entered cannot be read,
// whoever runs the scan; root included.
TEST(FolderScanOfOddTrees, AFolderThatCannotBeReadIsReportedOnceAndTheRestIsListed) {
    TTempFolder folder;
    const fs::path root = folder.Path();
    WriteFileBytes((root / "a.tga").string(), PictureFile(4));
    fs::create_directories(root / "gone");
    WriteFileBytes((root / "gone/b.tga").string(), PictureFile(5));
    fs::create_directories(root / "later");
    WriteFileBytes((root / "later/c.tga").string(), PictureFile(6));

    TRecordingHost host;
    int calls = 0;
    host.onProcessMessages = [&] {
        // The first pass: the root, then "gone/" is about to be entered.
        if (++calls == 2) {
            fs::rename(root / "gone", root / ".moved");
            WriteFileBytes((root / "gone").string(), {0});
        }
    };
    EXPECT_EQ(Relative(ListSourceFiles(host, root.string()), root), (std::vector<std::string>{"a.tga", "later/c.tga"}));
    EXPECT_EQ(host.unreadableFolders, (std::vector<std::string>{(root / "gone/").string() + ": Not a directory"}));
}

// The same moment used to put a link to a folder elsewhere in its place:
// the link is not followed.
TEST(FolderScanOfOddTrees, AFolderSwappedForALinkAfterListingIsNotEntered) {
    TTempFolder folder, outside;
    const fs::path root = folder.Path();
    WriteFileBytes(outside / "far.bmp", {0});
    WriteFileBytes(outside / "far.tga", {0});
    fs::create_directories(root / "sub");
    WriteFileBytes((root / "sub/near.tga").string(), {0});

    TRecordingHost host;
    int calls = 0;
    host.onProcessMessages = [&] {
        if (++calls == 2) {
            fs::rename(root / "sub", root / ".moved");
            fs::create_directory_symlink(outside.Path(), root / "sub");
        }
    };
    EXPECT_TRUE(ListSourceFiles(host, root.string()).empty());
    EXPECT_EQ(host.unreadableFolders, (std::vector<std::string>{(root / "sub/").string() + ": Not a directory"}));
}

TEST(FolderScanOfOddTrees, AFolderWithoutReadPermissionIsReported) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder (the command-line test drops that right to try it)";
    TTempFolder folder;
    fs::create_directories(folder.Path() / "closed");
    WriteFileBytes(folder / "closed/a.tga", PictureFile(7));
    WriteFileBytes(folder / "open.tga", PictureFile(8));
    fs::permissions(folder.Path() / "closed", fs::perms::none);
    TRecordingHost host;
    EXPECT_EQ(Relative(ListSourceFiles(host, folder.Path().string()), folder.Path()),
              (std::vector<std::string>{"open.tga"}));
    EXPECT_EQ(host.unreadableFolders,
              (std::vector<std::string>{(folder.Path() / "closed/").string() + ": Permission denied"}));
}

// Each level adds three bytes to the path: the scan lists every file whose
// folder can be opened and reports the first folder past PATH_MAX, without
// going deeper or running out of stack.
TEST(FolderScanOfOddTrees, ATreeTwoThousandLevelsDeepIsListedUpToPathMaxAndTheRestReported) {
    const TDeepTree tree(2000, "dd", {0, 1, 1000, 2000}, "x.tga", PictureFile(9));
    ASSERT_TRUE(tree.Made());
    const std::string root = tree.Root().string();

    TRecordingHost host;
    const auto list = ListSourceFiles(host, root);
    std::vector<size_t> depths;
    for (const auto& path : list) {
        EXPECT_LT(path.size(), size_t{PATH_MAX});
        EXPECT_TRUE(path.ends_with("/x.tga"));
        depths.push_back((path.size() - root.size() - 6) / 3);
    }
    EXPECT_EQ(depths, (std::vector<size_t>{0, 1, 1000}));
    ASSERT_EQ(host.unreadableFolders.size(), 1u);
    const std::string& report = host.unreadableFolders[0];
    EXPECT_TRUE(report.ends_with("dd/: File name too long")) << report.substr(report.size() - 40);
    EXPECT_GE(report.size(), size_t{PATH_MAX - 4});

    // The files that were listed convert.
    host.unreadableFolders.clear();
    ConvertPath(host, root);
    ASSERT_EQ(host.done.size(), 3u);
    for (const auto& done : host.done) EXPECT_EQ(done.outcome, TFileOutcome::Converted) << done.source.size();
    EXPECT_EQ(host.unreadableFolders.size(), 1u);
}

TEST(FolderScanOfOddTrees, FifosAndDevicesNamedLikeImagesAreUnreadableWithoutBlocking) {
    TTempFolder folder;
    ASSERT_EQ(::mkfifo((folder / "pipe.tga").c_str(), 0644), 0);
    const bool device = ::mknod((folder / "device.tga").c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0;
    const std::string mknodError = device ? "" : std::strerror(errno);
    WriteFileBytes(folder / "real.tga", PictureFile(10));

    TRecordingHost host;
    ConvertPath(host, folder.Path().string());
    ASSERT_EQ(host.done.size(), device ? 3u : 2u);
    for (const auto& done : host.done) {
        if (done.source.ends_with("real.tga")) {
            EXPECT_EQ(done.outcome, TFileOutcome::Converted);
        } else {
            EXPECT_EQ(done.outcome, TFileOutcome::Unreadable) << done.source;
            EXPECT_NE(done.detail.find("Not a regular file"), std::string::npos) << done.detail;
        }
    }
    EXPECT_FALSE(fs::exists(folder.Path() / "pipe.png"));
    EXPECT_FALSE(fs::exists(folder.Path() / "device.png"));
    if (!device) GTEST_SKIP() << "device nodes need root (mknod: " << mknodError << "); FIFOs were tried";
}

TEST(FolderScanOfOddTrees, NamesThatAreNotUtf8OrHoldNewlinesConvert) {
    TTempFolder folder;
    const std::vector<std::string> names = {"bad\xff\xfe.tga", "new\nline.tga", "tab\tand\x1b[31m.tga",
                                            "\xe6\x97\xa5\xe6\x9c\xac.tga"};
    for (const auto& name : names) WriteFileBytes(folder / name, PictureFile(11));
    TRecordingHost host;
    ConvertPath(host, folder.Path().string());
    ASSERT_EQ(host.done.size(), names.size());
    for (const auto& done : host.done) EXPECT_EQ(done.outcome, TFileOutcome::Converted) << done.source;
    for (const auto& name : names) {
        const std::string target = name.substr(0, name.size() - 4) + ".png";
        EXPECT_TRUE(fs::is_regular_file(folder.Path() / target)) << target;
    }
}
