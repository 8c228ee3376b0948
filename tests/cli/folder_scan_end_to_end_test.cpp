// tamberlit-cli on trees a user may hand over: a folder it may not read, a
// tree deeper than a path can be long, FIFOs and devices named like images,
// link loops and names that are not UTF-8 or hold newlines. The run ends,
// converts what it can and says, one line per message, what it could not.

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "tests/cli/cli_test_support.hpp"
#include "tests/support/deep_tree.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> TgaPicture(TBitmap& picture, int seed) {
    TTempFolder folder;
    PaintPicture(picture, 5, 4, seed);
    SaveTgaFile(picture, folder / "p.tga");
    return ReadFileBytes(folder / "p.tga");
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

bool HasLine(const std::string& output, const std::string& line) {
    const auto lines = Lines(output);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace

TEST(FolderScanEndToEnd, AFolderThatCannotBeReadIsReportedAndTheRestConverts) {
    TTempFolder folder;
    TBitmap picture;
    const auto bytes = TgaPicture(picture, 1);
    fs::create_directories(folder.Path() / "closed");
    fs::create_directories(folder.Path() / "open");
    WriteFileBytes(folder / "closed/a.tga", bytes);
    WriteFileBytes(folder / "open/b.tga", bytes);
    WriteFileBytes(folder / "c.tga", bytes);
    fs::permissions(folder.Path() / "closed", fs::perms::none);

    std::string prefix;
    if (::geteuid() == 0) {
        // Root reads every folder; without these two capabilities it is held
        // to the permissions like anybody else.
        if (!HaveTool("setpriv")) GTEST_SKIP() << "running as root and setpriv (util-linux) is missing";
        prefix = "setpriv --inh-caps=-dac_override,-dac_read_search --bounding-set=-dac_override,-dac_read_search ";
        const TCommandRun probe = RunShell(prefix + "true");
        if (probe.exitCode != 0)
            GTEST_SKIP() << "running as root and cannot drop the right to read every folder: " << probe.output;
    }
    const TCommandRun run = RunShell(prefix + CliCommand({"-j", "1", folder.Path().string()}));
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_TRUE(HasLine(
        run.output, "tamberlit-cli: " + (folder.Path() / "closed/").string() + ": folder not read: Permission denied"))
        << run.output;
    EXPECT_TRUE(HasLine(run.output, "converted 2, skipped as not 32-bit 0, unreadable 0, failed 0, folders not read 1"))
        << run.output;
    EXPECT_EQ(PicturePixels(folder / "open/b.png"), RgbaPixels(picture));
    EXPECT_EQ(PicturePixels(folder / "c.png"), RgbaPixels(picture));
}

TEST(FolderScanEndToEnd, ATreeTwoThousandLevelsDeepConvertsUpToPathMaxAndReportsTheRest) {
    TBitmap picture;
    const auto bytes = TgaPicture(picture, 2);
    // The deepest paths are ~6,000 bytes.
    const TDeepTree tree(2000, "dd", {1, 1000, 2000}, "x.tga", bytes);
    ASSERT_TRUE(tree.Made());
    const fs::path root = tree.Root();

    const TCommandRun run = RunShell("timeout 60 " + CliCommand({root.string()}));
    EXPECT_EQ(run.exitCode, 1) << run.output.substr(0, 300);
    EXPECT_NE(run.output.find("dd/: folder not read: File name too long"), std::string::npos);
    EXPECT_TRUE(HasLine(run.output, "converted 2, skipped as not 32-bit 0, unreadable 0, failed 0, folders not read 1"))
        << run.output.substr(run.output.size() - std::min<size_t>(run.output.size(), 300));
    EXPECT_EQ(PicturePixels((root / "dd/x.png").string()), RgbaPixels(picture));
}

TEST(FolderScanEndToEnd, FifosAndDevicesNamedLikeImagesAreNeverOpened) {
    TTempFolder folder;
    TBitmap picture;
    WriteFileBytes(folder / "real.tga", TgaPicture(picture, 3));
    ASSERT_EQ(::mkfifo((folder / "pipe.tga").c_str(), 0644), 0);
    const bool device = ::mknod((folder / "device.tga").c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0;
    const std::string mknodError = device ? "" : std::strerror(errno);
    const std::string straceMissing = StraceUnavailable();
    const bool strace = straceMissing.empty();
    const std::string trace = folder / "trace.txt";

    const TCommandRun run = RunShell(
        "timeout 60 " +
        (strace ? Strace("-f -qq -e trace=open,openat,openat2 -o " + ShellQuote(trace) + " ") : std::string()) +
        CliCommand({"--verbose", folder.Path().string()}));
    ASSERT_NE(run.exitCode, 124) << "the run hung";
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(HasLine(run.output, "unreadable " + (folder.Path() / "pipe.tga").string() + ": Cannot open file \"" +
                                        (folder.Path() / "pipe.tga").string() + "\". Not a regular file"))
        << run.output;
    EXPECT_EQ(PicturePixels(folder / "real.png"), RgbaPixels(picture));
    if (strace) {
        const auto text = ReadFileBytes(trace);
        const std::string calls(text.begin(), text.end());
        EXPECT_NE(calls.find("real.tga"), std::string::npos);
        EXPECT_EQ(calls.find("pipe.tga"), std::string::npos) << calls;
        EXPECT_EQ(calls.find("device.tga"), std::string::npos) << calls;
    }
    if (!device) GTEST_SKIP() << "device nodes need root (mknod: " << mknodError << "); a FIFO was tried";
    if (!strace) GTEST_SKIP() << straceMissing << ": the files were refused; whether they were opened is unchecked";
}

TEST(FolderScanEndToEnd, LinkLoopsAndLinksOutOfTheTreeEndTheRun) {
    TTempFolder folder, outside;
    TBitmap picture;
    const auto bytes = TgaPicture(picture, 4);
    WriteFileBytes(outside / "far.tga", bytes);
    WriteFileBytes(folder / "near.tga", bytes);
    fs::create_directory_symlink(".", folder.Path() / "loop");
    fs::create_directory_symlink(outside.Path(), folder.Path() / "out");
    fs::create_symlink("self.tga", folder.Path() / "self.tga");
    const TCommandRun run = RunShell("timeout 60 " + CliCommand({folder.Path().string()}));
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(
        HasLine(run.output, "converted 1, skipped as not 32-bit 0, unreadable 1, failed 0 (--verbose lists them)"))
        << run.output;
    EXPECT_FALSE(fs::exists(outside.Path() / "far.png"));
}

TEST(FolderScanEndToEnd, NamesThatAreNotUtf8OrHoldNewlinesConvertAndAreReportedOnOneLineEach) {
    TTempFolder folder;
    TBitmap picture;
    const auto bytes = TgaPicture(picture, 5);
    const std::string root = folder.Path().string() + "/";
    WriteFileBytes(root + "bad\xff\xfe.tga", bytes);
    WriteFileBytes(root + "new\nline.tga", bytes);
    WriteFileBytes(root + "esc\x1b[31m.tga", bytes);
    WriteFileBytes(root + "\xe6\x97\xa5\xe6\x9c\xac.tga", bytes);
    // One that fails, so that an error message carries such a name too.
    WriteFileBytes(root + "dir\xc0.tga", bytes);
    fs::create_directories(root + "dir\xc0.png/inner");

    const TCommandRun run = RunShell(CliCommand({"--verbose", "-j", "2", folder.Path().string()}));
    EXPECT_EQ(run.exitCode, 1) << run.output;
    for (const char* name : {"bad\\xff\\xfe", "new\\nline", "esc\\x1b[31m", "\xe6\x97\xa5\xe6\x9c\xac"})
        EXPECT_TRUE(HasLine(run.output, "converted " + root + name + ".tga -> " + root + name + ".png")) << name << "\n"
                                                                                                         << run.output;
    bool errorLine = false;
    for (const auto& line : Lines(run.output))
        if (line.starts_with("tamberlit-cli: " + root + "dir\\xc0.tga: ")) errorLine = true;
    EXPECT_TRUE(errorLine) << run.output;
    EXPECT_EQ(Lines(run.output).size(), 6u) << run.output;
    EXPECT_EQ(run.output.find('\x1b'), std::string::npos);
    for (const char* name : {"bad\xff\xfe", "new\nline", "esc\x1b[31m", "\xe6\x97\xa5\xe6\x9c\xac"})
        EXPECT_EQ(PicturePixels(root + name + ".png"), RgbaPixels(picture)) << name;
}
