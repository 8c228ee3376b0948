#include "image/stream.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>

#include "image/commit_queue.hpp"
#include "image/exceptions.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
namespace fs = std::filesystem;

namespace {

size_t CountEntries(const fs::path& folder) {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++count;
    return count;
}

}  // namespace

TEST(MemoryStream, WritesGrowAndSeeksPastTheEndLeaveZeros) {
    TMemoryStream stream;
    stream.WriteBuffer("abc", 3);
    stream.Seek(2, TSeekOrigin::End);
    stream.WriteBuffer("z", 1);
    ASSERT_EQ(stream.Size(), 6);
    const std::string bytes(reinterpret_cast<const char*>(stream.Memory()), 6);
    EXPECT_EQ(bytes, std::string("abc\0\0z", 6));
    stream.SetPosition(1);
    char two[2];
    stream.ReadBuffer(two, 2);
    EXPECT_EQ(std::string(two, 2), "bc");
}

TEST(MemoryStream, ShortReadBufferIsAStreamReadError) {
    TMemoryViewStream stream("ab", 2);
    char three[3];
    try {
        stream.ReadBuffer(three, 3);
        FAIL();
    } catch (const EReadError& error) {
        EXPECT_STREQ(error.what(), "Stream read error");
    }
    EXPECT_EQ(stream.Write("x", 1), 0u);  // a view is read-only
}

TEST(FileStream, MissingFileNamesTheAbsolutePathAndTheSystemText) {
    TTempFolder folder;
    const fs::path previous = fs::current_path();
    fs::current_path(folder.Path());
    try {
        TFileStream stream("missing.bmp");
        FAIL();
    } catch (const EFOpenError& error) {
        const std::string expected =
            "Cannot open file \"" + (folder.Path() / "missing.bmp").string() + "\". No such file or directory";
        EXPECT_EQ(error.what(), expected);
    }
    fs::current_path(previous);
}

TEST(FileStream, FifosAndFoldersAreRefusedWithoutBlocking) {
    TTempFolder folder;
    const std::string fifo = folder / "pipe.png";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(TFileStream stream(fifo), EFOpenError);
    EXPECT_THROW(TFileStream stream(folder.Path().string()), EFOpenError);
}

TEST(AtomicFileWriter, CommitReplacesTheTargetAndKeepsItsMode) {
    TTempFolder folder;
    const std::string target = folder / "out.tga";
    WriteFileBytes(target, {1, 2, 3});
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    {
        TAtomicFileWriter writer(target);
        EXPECT_EQ(ReadFileBytes(target), (std::vector<uint8_t>{1, 2, 3}));  // untouched until Commit
        std::vector<uint8_t> big(200000, 7);
        writer.WriteBuffer(big.data(), big.size());
        writer.WriteBuffer("!", 1);
        writer.Commit();
    }
    const auto bytes = ReadFileBytes(target);
    ASSERT_EQ(bytes.size(), 200001u);
    EXPECT_EQ(bytes.back(), '!');
    struct stat status {};
    ASSERT_EQ(::stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(CountEntries(folder.Path()), 1u);
}

TEST(AtomicFileWriter, AbandonedWriterLeavesOldFileAndNoTemporary) {
    TTempFolder folder;
    const std::string target = folder / "out.png";
    WriteFileBytes(target, {9, 9});
    {
        TAtomicFileWriter writer(target);
        writer.WriteBuffer("partial", 7);
        EXPECT_EQ(fs::path(writer.TemporaryPath()).parent_path(), folder.Path());
        EXPECT_EQ(fs::path(writer.TemporaryPath()).filename().string()[0], '.');
    }
    EXPECT_EQ(ReadFileBytes(target), (std::vector<uint8_t>{9, 9}));
    EXPECT_EQ(CountEntries(folder.Path()), 1u);
}

TEST(AtomicFileWriter, NewFilesFollowTheUmask) {
    TTempFolder folder;
    const std::string target = folder / "new.bmp";
    TAtomicFileWriter writer(target);
    writer.Commit();
    struct stat status {};
    ASSERT_EQ(::stat(target.c_str(), &status), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(status.st_mode & 07777, 0666u & ~mask);
}

TEST(AtomicFileWriter, ErrorsNameTheTargetNotTheTemporaryFile) {
    TTempFolder folder;
    const std::string target = folder / "no-such-folder/x.png";
    try {
        TAtomicFileWriter writer(target);
        FAIL();
    } catch (const EFCreateError& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot create file \"" + target + "\". No such file or directory");
    }
    fs::create_directory(folder / "dir.png");
    EXPECT_THROW(TAtomicFileWriter writer(folder / "dir.png"), EFCreateError);
}

TEST(AtomicFileWriter, NamesAtTheLengthLimitAreWrittenThroughAShortenedTemporaryName) {
    TTempFolder folder;
    for (size_t length : {size_t{243}, size_t{244}, size_t{255}}) {
        const std::string target = folder / (std::string(length - 4, 'n') + ".png");
        {
            TAtomicFileWriter writer(target);
            EXPECT_LE(fs::path(writer.TemporaryPath()).filename().string().size(), 255u);
            writer.WriteBuffer("whole", 5);
            writer.Commit();
        }
        EXPECT_EQ(ReadFileBytes(target), (std::vector<uint8_t>{'w', 'h', 'o', 'l', 'e'})) << length;
        fs::remove(target);
    }
    EXPECT_EQ(CountEntries(folder.Path()), 0u);
}

// Saves under a TDeferredCommit hand a file that replaces another to the
// queue (a new file is committed in place); the commits of one target land in
// the order they were submitted; a commit that fails reports its error and
// leaves no temporary file.
TEST(CommitQueue, ReplacingSavesLandInOrderAndAFailedCommitIsReported) {
    TTempFolder folder;
    const std::string target = folder / "out.png";
    const std::string other = folder / "other.png";
    const std::string fresh = folder / "new.png";
    WriteFileBytes(target, {0});
    WriteFileBytes(other, {0});
    auto save = [](const std::string& path, uint8_t byte) {
        TDeferredCommit scope;
        SaveFileAtomically(path, [byte](TStream& stream) { stream.WriteBuffer(&byte, 1); }, {"", "commit failed"});
        return scope.Take();
    };
    std::mutex mutex;
    std::vector<std::string> errors;
    auto done = [&](std::exception_ptr error) {
        std::lock_guard lock(mutex);
        try {
            if (error) std::rethrow_exception(error);
            errors.push_back("");
        } catch (const std::exception& failure) {
            errors.push_back(failure.what());
        }
    };
    TCommitQueue queue(3, 2);
    for (uint8_t i = 1; i <= 40; ++i) {
        TPendingCommit pending = save(i % 2 ? target : other, i);
        ASSERT_TRUE(pending.File);
        queue.Submit(std::move(pending), done);
    }
    EXPECT_FALSE(save(fresh, 5).File);
    EXPECT_EQ(ReadFileBytes(fresh), std::vector<uint8_t>{5});
    queue.Wait();
    EXPECT_EQ(errors, std::vector<std::string>(40, ""));
    EXPECT_EQ(ReadFileBytes(target), std::vector<uint8_t>{39});
    EXPECT_EQ(ReadFileBytes(other), std::vector<uint8_t>{40});

    // The target turns into a folder while its commit waits: the rename fails.
    TPendingCommit pending = save(target, 1);
    fs::remove(target);
    fs::create_directories(fs::path(target) / "inside");
    queue.Submit(std::move(pending), done);
    queue.Wait();
    EXPECT_EQ(errors.back(), "commit failed");
    EXPECT_EQ(CountEntries(folder.Path()), 3u);
}
