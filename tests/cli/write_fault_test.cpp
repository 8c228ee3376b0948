// Runs tamberlit-cli while its writes fail: a full disk, failures injected
// into write, fsync, close and rename, the program killed at every write, and
// targets that are not plain files. After each run every source is as it was,
// an old target is either untouched or wholly replaced by a valid picture, no
// half-written file stands in a target's place, and the run reports what
// failed.

#include <errno.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/cli/cli_test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
namespace fs = std::filesystem;

namespace {

// A conversion road: sources of one kind, targets of another.
struct TRoad {
    const char* source;
    const char* target;
};

void PrintTo(const TRoad& road, std::ostream* out) { *out << road.source << " to " << road.target; }

std::string PrintRoad(const ::testing::TestParamInfo<TRoad>& info) {
    return std::string(info.param.source + 1) + "_to_" + (info.param.target + 1);
}

// Two sources: "keep" whose target already holds an older picture, and
// "fresh" whose target does not exist yet. keep's picture takes several
// writes of the writer's 64 KiB buffer, fresh's one.
class TScene {
public:
    explicit TScene(const TRoad& road) : road_(road) {
        PaintPicture(keep_, 384, 256, 11);
        PaintPicture(fresh_, 61, 37, 99);
        TBitmap old;
        PaintPicture(old, 9, 5, 200);
        Save(keep_, Source("keep"));
        Save(fresh_, Source("fresh"));
        EXPECT_EQ(SaveImageFile(old, Target("keep")), TSaveResult::Written);
        oldTarget_ = ReadFileBytes(Target("keep"));
        sources_ = {{"keep", Sha256Hex(ReadFileBytes(Source("keep")))},
                    {"fresh", Sha256Hex(ReadFileBytes(Source("fresh")))}};
    }

    std::string Folder() const { return folder_.Path().string(); }
    std::string Source(const std::string& name) const { return folder_ / (name + road_.source); }
    std::string Target(const std::string& name) const { return folder_ / (name + road_.target); }
    std::vector<std::string> Arguments() const { return {"--to", road_.target, "-j", "1", "--quiet", Folder()}; }

    bool KeepReplaced() const { return ReadFileBytes(Target("keep")) != oldTarget_; }
    bool FreshWritten() const { return fs::exists(Target("fresh")); }

    // What must hold after any run, whatever happened to it. Returns the
    // number of temporary files left.
    size_t CheckAftermath(const TCommandRun& run, const std::string& what) const {
        SCOPED_TRACE(what + "\n" + run.output);
        for (const auto& [name, hash] : sources_) EXPECT_EQ(Sha256Hex(ReadFileBytes(Source(name))), hash) << name;
        // The old target: its own bytes, or the whole new picture.
        if (KeepReplaced()) {
            EXPECT_EQ(PicturePixels(Target("keep")), RgbaPixels(keep_));
        }
        if (FreshWritten()) {
            EXPECT_EQ(PicturePixels(Target("fresh")), RgbaPixels(fresh_));
        }
        // A run that ended by itself says which files failed, and only those.
        if (run.signal == 0) {
            const bool allWritten = KeepReplaced() && FreshWritten();
            EXPECT_EQ(run.exitCode, allWritten ? 0 : 1);
            EXPECT_EQ(run.output.find("keep" + std::string(road_.source) + ":") != std::string::npos, !KeepReplaced());
            EXPECT_EQ(run.output.find("fresh" + std::string(road_.source) + ":") != std::string::npos, !FreshWritten());
        }
        return StrayTemporaries(folder_.Path()).size();
    }

private:
    void Save(TBitmap& bitmap, const std::string& path) {
        if (std::string(road_.source) == ".png") SavePngFile(bitmap, path);
        else EXPECT_EQ(SaveImageFile(bitmap, path), TSaveResult::Written);
    }

    TRoad road_;
    TTempFolder folder_;
    TBitmap keep_, fresh_;
    std::vector<uint8_t> oldTarget_;
    std::map<std::string, std::string> sources_;
};

class WriteFaults : public ::testing::TestWithParam<TRoad> {};

INSTANTIATE_TEST_SUITE_P(Roads, WriteFaults,
                         ::testing::Values(TRoad{".tga", ".bmp"}, TRoad{".tga", ".png"}, TRoad{".png", ".tga"}),
                         PrintRoad);

// ---------------------------------------------------------------- libfiu

struct TInjected {
    const char* point;
    int error;
    bool keepFails;   // the replacement of an existing target fails
    bool freshFails;  // the writing of a new target fails
};

TEST_P(WriteFaults, FailuresInjectedIntoWriteFsyncCloseAndRenameAreReportedAndLeaveNothingBehind) {
    if (!HaveTool("fiu-run")) GTEST_SKIP() << "fiu-run is missing (Debian: fiu-utils)";
    // A build with sanitizers refuses a library preloaded before its own.
    const TCommandRun probe = RunShell("fiu-run -x -f '' " + CliCommand({"--version"}));
    if (probe.exitCode != 0 || probe.output.find("tamberlit-cli ") != 0)
        GTEST_SKIP() << "fiu-run cannot preload its library into this build:\n" << probe.output;
    const TInjected faults[] = {
        {"posix/io/rw/write", ENOSPC, true, true},
        {"posix/io/rw/write", EIO, true, true},
        // Only a file that replaces another is synced before the rename.
        {"posix/io/sync/fsync", EIO, true, false},
        {"posix/io/oc/close", EIO, true, true},
        {"posix/io/dir/rename", EACCES, true, true},
        {"posix/io/dir/rename", EXDEV, true, true},
    };
    for (const auto& fault : faults) {
        TScene scene(GetParam());
        const std::string command =
            "fiu-run -x -f '' -c " +
            ShellQuote(std::string("enable name=") + fault.point + ",failinfo=" + std::to_string(fault.error)) + " " +
            CliCommand(scene.Arguments());
        const TCommandRun run = RunShell(command);
        const std::string what = std::string(fault.point) + " failing with " + std::strerror(fault.error);
        EXPECT_EQ(scene.CheckAftermath(run, what), 0u) << what << ": a temporary file was left";
        EXPECT_EQ(scene.KeepReplaced(), !fault.keepFails) << what << "\n" << run.output;
        EXPECT_EQ(scene.FreshWritten(), !fault.freshFails) << what << "\n" << run.output;
        EXPECT_EQ(run.exitCode, 1) << what;
    }
}

// ---------------------------------------------------------------- strace

// Runs the conversion under strace with the given injection into the Nth
// of the calls, for N = 1, 2... until a run no longer reaches its Nth call.
// Returns how many of those calls the whole conversion makes.
template <typename Check>
int InjectAtEveryCall(const TRoad& road, const std::string& calls, const std::string& action, Check check) {
    for (int n = 1; n <= 64; ++n) {
        TScene scene(road);
        const std::string command = Strace("-f -qq -o /dev/null -e trace=" + calls + " -e inject=" + calls + ":") +
                                    action + ":when=" + std::to_string(n) + " " + CliCommand(scene.Arguments());
        const TCommandRun run = RunShell(command);
        const std::string what = action + " at " + calls + " call " + std::to_string(n);
        const size_t temporaries = scene.CheckAftermath(run, what);
        if (run.signal == 0 && run.exitCode == 0) {
            EXPECT_TRUE(scene.KeepReplaced() && scene.FreshWritten()) << what;
            EXPECT_EQ(temporaries, 0u) << what;
            return n - 1;
        }
        check(run, scene, temporaries, what);
        if (::testing::Test::HasFailure()) return -1;
    }
    ADD_FAILURE() << "the conversion never finished";
    return -1;
}

TEST_P(WriteFaults, KilledAtEveryWriteSyncAndRenameTheOldTargetIsWholeAndAtMostOneTemporaryAFileRemains) {
    if (const std::string why = StraceUnavailable(); !why.empty()) GTEST_SKIP() << why;
    auto killed = [](const TCommandRun& run, const TScene&, size_t temporaries, const std::string& what) {
        EXPECT_EQ(run.signal, 9) << what << "\n" << run.output;
        // The file in progress keeps its temporary file: nobody is left to
        // remove it. Its name begins with "." so no folder scan lists it. A
        // file that replaces another waits for its sync beside the next
        // file's work, so each of the two may have left one.
        EXPECT_LE(temporaries, 2u) << what;
    };
    const int writes = InjectAtEveryCall(GetParam(), "write", "signal=KILL", killed);
    RecordProperty("writes", writes);
    EXPECT_GE(writes, 2);
    // Only the file that replaces another is synced; each file is renamed,
    // the one that replaces another by a commit thread. strace counts the
    // calls of each thread: one rename in each.
    EXPECT_EQ(InjectAtEveryCall(GetParam(), "fsync", "signal=KILL", killed), 1);
    EXPECT_EQ(InjectAtEveryCall(GetParam(), "rename,renameat,renameat2", "signal=KILL", killed), 1);
}

TEST_P(WriteFaults, ADiskFullAtEveryWriteIsReportedAndCleanedUp) {
    if (const std::string why = StraceUnavailable(); !why.empty()) GTEST_SKIP() << why;
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer's runtime probes memory with write calls of its own and
    // stops on an error it did not expect, so the Nth write is not the program's.
    GTEST_SKIP() << "a failed write is injected only into builds without AddressSanitizer";
#endif
    const int writes =
        InjectAtEveryCall(GetParam(), "write", "error=ENOSPC",
                          [](const TCommandRun& run, const TScene&, size_t temporaries, const std::string& what) {
                              EXPECT_EQ(run.exitCode, 1) << what;
                              // One file failed, with one message (--quiet prints only errors).
                              size_t messages = 0;
                              for (size_t at = run.output.find("tamberlit-cli: "); at != std::string::npos;
                                   at = run.output.find("tamberlit-cli: ", at + 1))
                                  ++messages;
                              EXPECT_EQ(messages, 1u) << what << "\n" << run.output;
                              // The PNG writer reports its own text, without the system's reason.
                              EXPECT_TRUE(run.output.find("No space left on device") != std::string::npos ||
                                          run.output.find("Error Writing PNG File!") != std::string::npos)
                                  << what << "\n"
                                  << run.output;
                              EXPECT_EQ(temporaries, 0u) << what;
                          });
    RecordProperty("writes", writes);
    EXPECT_GE(writes, 2);
}

// ---------------------------------------------------------------- a real full disk

class TTmpfsMount {
public:
    TTmpfsMount(const fs::path& where, const char* options) : where_(where) {
        fs::create_directory(where);
        if (::mount("tamberlit-test", where.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options) == 0) mounted_ = true;
        else error_ = std::strerror(errno);
    }
    ~TTmpfsMount() {
        if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }
    const std::string& Error() const { return error_; }

private:
    fs::path where_;
    bool mounted_ = false;
    std::string error_;
};

uint64_t FreeBytes(const fs::path& where) {
    struct statvfs status {};
    ::statvfs(where.c_str(), &status);
    return static_cast<uint64_t>(status.f_bavail) * status.f_frsize;
}

TEST(FullDisk, ATargetThatDoesNotFitFailsLeavingTheOldOneAndTheRestOfTheBatchConverts) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    TTempFolder folder;
    const fs::path disk = folder.Path() / "disk";
    TTmpfsMount mount(disk, "size=256k,mode=0755");
    if (!mount.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << mount.Error();

    // A flat 512 x 512 picture is a small PNG and a 1 MiB BMP.
    TBitmap flat;
    flat.NewImage(512, 512, Px32);
    for (int y = 0; y < 512; ++y) std::memset(flat.RowAddress(y), 0x5a, 512 * 4);
    TBitmap small, old;
    PaintPicture(small, 8, 8, 1);
    PaintPicture(old, 4, 4, 2);
    SavePngFile(flat, (disk / "flat.png").string());
    SavePngFile(small, (disk / "small.png").string());
    ASSERT_EQ(SaveImageFile(old, (disk / "flat.bmp").string()), TSaveResult::Written);
    const auto before = FolderSnapshot(disk);

    for (bool oldTarget : {true, false}) {
        SCOPED_TRACE(oldTarget ? "replacing an old target" : "writing a new target");
        if (!oldTarget) fs::remove(disk / "flat.bmp");
        fs::remove(disk / "small.bmp");
        const uint64_t freeBefore = FreeBytes(disk);
        const TCommandRun run = RunShell(CliCommand({"--to", ".bmp", "-j", "1", disk.string()}));
        EXPECT_EQ(run.exitCode, 1) << run.output;
        EXPECT_NE(run.output.find("flat.png: "), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("No space left on device"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("converted 1, skipped as not 32-bit 0, unreadable 0, failed 1"), std::string::npos)
            << run.output;

        auto after = FolderSnapshot(disk);
        EXPECT_EQ(after.at("flat.png"), before.at("flat.png"));
        EXPECT_EQ(after.at("small.png"), before.at("small.png"));
        if (oldTarget) EXPECT_EQ(after.at("flat.bmp"), before.at("flat.bmp"));
        else EXPECT_FALSE(after.contains("flat.bmp"));
        EXPECT_EQ(PicturePixels((disk / "small.bmp").string()), RgbaPixels(small));
        EXPECT_TRUE(StrayTemporaries(disk).empty());
        // The space the failed file took is given back; only small.bmp stays.
        EXPECT_GE(FreeBytes(disk) + 8192, freeBefore);
    }
}

// ---------------------------------------------------------------- targets that are not plain files

TEST(OddTargets, ReadOnlyFilesFoldersLinksAndFifosInTheTargetsPlace) {
    TTempFolder folder, outside;
    const fs::path root = folder.Path();
    TBitmap picture, old;
    PaintPicture(picture, 23, 17, 5);
    PaintPicture(old, 7, 3, 77);
    for (const char* name : {"ro", "dir", "inlink", "outlink", "rolink", "dangling", "fifo"})
        SaveTgaFile(picture, (root / (std::string(name) + ".tga")).string());

    SavePngFile(old, (root / "ro.png").string());
    fs::permissions(root / "ro.png", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::create_directory(root / "dir.png");
    WriteFileBytes((root / "dir.png/inner.txt").string(), {1, 2, 3});
    fs::create_directory(root / "inside");
    SavePngFile(old, (root / "inside/keep.png").string());
    fs::create_symlink("inside/keep.png", root / "inlink.png");
    SavePngFile(old, outside / "keep.png");
    fs::create_symlink(outside.Path() / "keep.png", root / "outlink.png");
    SavePngFile(old, outside / "readonly.png");
    fs::permissions(outside.Path() / "readonly.png", fs::perms::owner_read);
    fs::create_symlink(outside.Path() / "readonly.png", root / "rolink.png");
    fs::create_symlink(outside.Path() / "nothing-here.png", root / "dangling.png");
    ASSERT_EQ(::mkfifo((root / "fifo.png").c_str(), 0644), 0);
    const auto before = FolderSnapshot(root);
    const auto outsideBefore = FolderSnapshot(outside.Path());

    const TCommandRun run = RunShell("timeout 60 " + CliCommand({"--to", ".png", "-j", "1", root.string()}));
    ASSERT_NE(run.exitCode, 124) << "the run hung";
    // A folder and a FIFO are never replaced: two failures, named.
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("dir.tga: "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("fifo.tga: "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("converted 3, skipped as not 32-bit 0, unreadable 0, failed 2, read-only targets left 2"),
              std::string::npos)
        << run.output;

    const auto after = FolderSnapshot(root);
    for (const auto& [name, content] : before)
        if (name.ends_with(".tga") || name.starts_with("dir.png") || name.starts_with("inside") || name == "ro.png" ||
            name == "rolink.png" || name == "fifo.png") {
            EXPECT_EQ(after.at(name), content) << name;
        }
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(root / "fifo.png")));
    // A link in the target's place is replaced by the new file; what it
    // pointed to, inside the folder or outside, is left as it was.
    for (const char* name : {"inlink.png", "outlink.png", "dangling.png"}) {
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(root / name))) << name;
        EXPECT_EQ(PicturePixels((root / name).string()), RgbaPixels(picture)) << name;
    }
    EXPECT_EQ(FolderSnapshot(outside.Path()), outsideBefore);
    EXPECT_FALSE(fs::exists(outside.Path() / "nothing-here.png"));
    EXPECT_TRUE(StrayTemporaries(root).empty());
}

// Two programs converting into the same target at once: each writes its own
// temporary file, and the target is at every moment one whole picture.
TEST(OddTargets, TwoRunsWritingOneTargetAtOnceLeaveOneWholePicture) {
    TTempFolder folder;
    TBitmap first, second;
    PaintPicture(first, 300, 200, 1);
    PaintPicture(second, 200, 300, 2);
    SaveTgaFile(first, folder / "a.tga");
    ASSERT_EQ(SaveImageFile(second, folder / "a.bmp"), TSaveResult::Written);
    const auto sources = FolderSnapshot(folder.Path());
    for (int round = 0; round < 8; ++round) {
        std::thread other([&] { EXPECT_EQ(RunShell(CliCommand({"-j", "1", folder / "a.bmp"})).exitCode, 0); });
        EXPECT_EQ(RunShell(CliCommand({"-j", "1", folder / "a.tga"})).exitCode, 0);
        // Read while the other run may still be writing.
        const auto pixels = PicturePixels(folder / "a.png");
        EXPECT_TRUE(pixels == RgbaPixels(first) || pixels == RgbaPixels(second)) << "round " << round;
        other.join();
    }
    auto after = FolderSnapshot(folder.Path());
    after.erase("a.png");
    EXPECT_EQ(after, sources);
}

}  // namespace
