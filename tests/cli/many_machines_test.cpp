// The command line on a farm: work lists, shards, incremental runs and the
// report, run as a user would run them.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "tests/cli/cli_test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
namespace fs = std::filesystem;

namespace {

// A tree in which some sources share a target: tN.tga in three folders, and
// beside every third a tN.bmp of other pixels (both become tN.png).
fs::path MakeTree(const fs::path& root, int perFolder = 9) {
    for (int folder = 0; folder < 3; ++folder) {
        const fs::path path = root / ("f" + std::to_string(folder));
        fs::create_directories(path);
        for (int i = 0; i < perFolder; ++i) {
            TBitmap picture;
            PaintPicture(picture, 5, 4, folder * 40 + i);
            SaveTgaFile(picture, (path / ("t" + std::to_string(i) + ".tga")).string());
            if (i % 3 == 0) {
                PaintPicture(picture, 5, 4, folder * 40 + i + 1);
                picture.SaveFile((path / ("t" + std::to_string(i) + ".bmp")).string());
            }
        }
    }
    return root;
}

// The PNG files below a folder by path, with their bytes.
std::map<std::string, std::vector<uint8_t>> Outputs(const fs::path& root) {
    std::map<std::string, std::vector<uint8_t>> outputs;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.path().extension() == ".png")
            outputs[entry.path().lexically_relative(root).string()] = ReadFileBytes(entry.path().string());
    return outputs;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// The value of a string field of a report line (no escapes in the tests' names).
std::string Field(const std::string& line, const std::string& name) {
    const std::string key = "\"" + name + "\": \"";
    const size_t start = line.find(key);
    if (start == std::string::npos) return "";
    const size_t from = start + key.size();
    return line.substr(from, line.find('"', from) - from);
}

}  // namespace

TEST(Shards, TogetherTheyWriteTheFilesOfOneRunEachFileOnce) {
    TTempFolder folder;
    MakeTree(folder.Path() / "once");
    ASSERT_EQ(RunCliMeasured({"-q", "-j", "1", (folder.Path() / "once").string()}).ExitCode, 0);
    const auto expected = Outputs(folder.Path() / "once");
    ASSERT_EQ(expected.size(), 27u);
    for (uint32_t count = 1; count <= 5; ++count) {
        SCOPED_TRACE(std::to_string(count) + " shards");
        const fs::path farm = folder.Path() / ("farm" + std::to_string(count));
        MakeTree(farm);
        const std::string list = RunCliMeasured({"--list", "-0", farm.string()}).Output;
        WriteFileBytes(folder / "work.lst", std::vector<uint8_t>(list.begin(), list.end()));
        std::multiset<std::string> converted;
        for (uint32_t shard = 0; shard < count; ++shard) {
            const std::string report = folder / ("report" + std::to_string(shard));
            const TCliRun run =
                RunCliMeasured({"-q", "--files-from", folder / "work.lst", "-0", "--shard",
                                std::to_string(shard) + "/" + std::to_string(count), "--report", report});
            ASSERT_EQ(run.ExitCode, 0) << run.Output;
            const std::vector<uint8_t> bytes = ReadFileBytes(report);
            for (const auto& line : Lines(std::string(bytes.begin(), bytes.end()))) {
                EXPECT_EQ(Field(line, "outcome"), "converted") << line;
                converted.insert(Field(line, "source"));
            }
        }
        EXPECT_EQ(converted.size(), 36u);
        EXPECT_EQ(std::set<std::string>(converted.begin(), converted.end()).size(), 36u) << "a file converted twice";
        EXPECT_EQ(Outputs(farm), expected);
    }
}

TEST(WorkLists, LinesNulsAndStandardInputGiveTheWorkOfTheFolder) {
    TTempFolder folder;
    MakeTree(folder.Path() / "tree", 3);
    const std::string tree = (folder.Path() / "tree").string();
    const TCliRun listed = RunCliMeasured({"--list", tree});
    ASSERT_EQ(listed.ExitCode, 0) << listed.Output;
    const std::vector<std::string> lines = Lines(listed.Output);
    ASSERT_EQ(lines.size(), 12u);
    // BMP sources first, as a run takes them; each with its target.
    EXPECT_EQ(lines[0], tree + "/f0/t0.bmp\t" + tree + "/f0/t0.png");
    EXPECT_EQ(lines[3], tree + "/f0/t0.tga\t" + tree + "/f0/t0.png");

    std::string sources, nul;
    for (const auto& line : lines) {
        sources += line.substr(0, line.find('\t')) + "\n";
        nul += line.substr(0, line.find('\t')) + '\0';
    }
    EXPECT_EQ(RunCliMeasured({"--list", "-0", tree}).Output, nul);
    WriteFileBytes(folder / "work.txt", std::vector<uint8_t>(sources.begin(), sources.end()));
    EXPECT_EQ(RunCliMeasured({"--list", "--files-from", folder / "work.txt"}).Output, listed.Output);
    EXPECT_EQ(RunCliMeasured({"--list", "-0", "--files-from", "-"}, nul).Output, nul);
    // A missing entry is named, as a missing PATH is.
    const TCliRun missing = RunCliMeasured({"--files-from", "-"}, folder / "nothing.tga" + "\n");
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_NE(missing.Output.find("nothing.tga: no such file or folder"), std::string::npos) << missing.Output;
}

TEST(Update, OnlyChangedGroupsAreConvertedAgainAndTheReportAgrees) {
    TTempFolder folder;
    const fs::path tree = MakeTree(folder.Path() / "tree", 3);
    ASSERT_EQ(RunCliMeasured({"-q", tree.string()}).ExitCode, 0);
    // A target older than the BMP of its group (t0.bmp, then t0.tga): the
    // group is converted again, so the PNG is still the TGA's, the later
    // source.
    const fs::path bmp = tree / "f1/t0.bmp", png = tree / "f1/t0.png";
    const auto before = ReadFileBytes(png.string());
    fs::last_write_time(png, fs::last_write_time(bmp) - std::chrono::seconds(5));
    const TCliRun run = RunCliMeasured({"-u", "--report", folder / "report", tree.string()});
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    EXPECT_NE(run.Output.find("converted 2, skipped as not 32-bit 0, unreadable 0, failed 0, up to date 10"),
              std::string::npos)
        << run.Output;
    EXPECT_EQ(ReadFileBytes(png.string()), before);
    const auto report = ReadFileBytes(folder / "report");
    std::map<std::string, int> outcomes;
    for (const auto& line : Lines(std::string(report.begin(), report.end()))) ++outcomes[Field(line, "outcome")];
    EXPECT_EQ(outcomes, (std::map<std::string, int>{{"converted", 2}, {"up to date", 10}}));
    // Unchanged now: nothing to do, no picture read.
    EXPECT_NE(RunCliMeasured({"-u", tree.string()})
                  .Output.find("converted 0, skipped as not 32-bit 0, unreadable 0, "
                               "failed 0, up to date 12"),
              std::string::npos);
}

TEST(Report, AKilledRunLeavesOnlyWholeLines) {
    TTempFolder folder;
    const fs::path tree = MakeTree(folder.Path() / "tree", 150);
    const std::string report = folder / "report";
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl(TAMBERLIT_CLI_PATH, TAMBERLIT_CLI_PATH, "-q", "-j", "2", "--report", report.c_str(), tree.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Killed once some lines are there, in the middle of the run.
    for (int i = 0; i < 5000 && (!fs::exists(report) || fs::file_size(report) < 2000); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before the kill";
    const auto bytes = ReadFileBytes(report);
    const std::string text(bytes.begin(), bytes.end());
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    for (const auto& line : Lines(text)) {
        EXPECT_EQ(line.front(), '{') << line;
        EXPECT_EQ(line.back(), '}') << line;
    }
}

TEST(MemoryBudget, EightWorkersKeepWithinTheBudget) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's shadow memory and quarantine, not the pictures, make the peak there.
    GTEST_SKIP() << "the peak resident size is measured only in builds without AddressSanitizer";
#endif
    TTempFolder folder;
    // Eight pictures of 4 MiB decoded (a budget share of 8 MiB each).
    for (int i = 0; i < 8; ++i) {
        TBitmap picture;
        PaintPicture(picture, 1024, 1024, i);
        SaveTgaFile(picture, folder / ("p" + std::to_string(i) + ".tga"));
    }
    auto peak = [&](const std::string& budget) {
        const TCliRun run = RunCliMeasured({"-q", "-j", "8", "--max-memory", budget, folder.Path().string()});
        EXPECT_EQ(run.ExitCode, 0) << run.Output;
        return run.PeakResidentBytes >> 20;
    };
    const int64_t tight = peak("16M");
    const int64_t loose = peak("1G");
    // Two at a time within 16 MiB, and the program's own few MiB besides;
    // all eight at once when the budget is large.
    EXPECT_LE(tight, 16 + 8) << "MiB at the peak with --max-memory 16M";
    EXPECT_GT(loose, tight + 8) << "MiB at the peak with --max-memory 1G";
}
