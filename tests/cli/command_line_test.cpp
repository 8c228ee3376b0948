#include "cli/command_line.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "cli/batch_plan.hpp"
#include "tests/app/recording_host.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
namespace fs = std::filesystem;

TEST(CommandLineOptions, DefaultsAreTheWindowsStartState) {
    const auto options = ParseCommandLine({"a"});
    EXPECT_EQ(options.TargetExtension, ".png");
    EXPECT_TRUE(options.AlphaOnly);
    EXPECT_EQ(options.Jobs, 0u);
    EXPECT_EQ(options.Paths, (std::vector<std::string>{"a"}));
}

TEST(CommandLineOptions, EveryOptionAndItsSpellings) {
    const auto options =
        ParseCommandLine({"--to", "TGA", "--all", "-j3", "--verbose", "--max-pixels=100", "--", "--odd-name", "b"});
    EXPECT_EQ(options.TargetExtension, ".tga");
    EXPECT_FALSE(options.AlphaOnly);
    EXPECT_EQ(options.Jobs, 3u);
    EXPECT_EQ(options.Verbosity, TVerbosity::Verbose);
    EXPECT_EQ(options.MaxPixels, 100u);
    EXPECT_EQ(options.Paths, (std::vector<std::string>{"--odd-name", "b"}));
    EXPECT_EQ(ParseCommandLine({"--to=.bmp", "-j", "2"}).TargetExtension, ".bmp");
    EXPECT_EQ(ParseCommandLine({"--jobs", "2"}).Jobs, 2u);
}

TEST(CommandLineOptions, BadOptionsAreUsageErrors) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"--to", ".gif", "a"}, {"--to"}, {"-j0", "a"}, {"-jx", "a"}, {"--max-pixels", "0"}, {"--frobnicate"}}) {
        EXPECT_THROW(ParseCommandLine(arguments), std::invalid_argument) << arguments[0];
        std::ostringstream out, err;
        EXPECT_EQ(RunCommandLine(arguments, out, err), 2);
        EXPECT_NE(err.str().find("tamberlit-cli: "), std::string::npos);
    }
}

TEST(CommandLine, HelpVersionAndMissingPaths) {
    std::ostringstream out, err;
    EXPECT_EQ(RunCommandLine({"--help"}, out, err), 0);
    EXPECT_NE(out.str().find("--max-pixels"), std::string::npos);
    EXPECT_EQ(RunCommandLine({}, out, err), 2);
    std::ostringstream out2, err2;
    EXPECT_EQ(RunCommandLine({"/no/such/path.png"}, out2, err2), 1);
    EXPECT_NE(err2.str().find("/no/such/path.png: no such file or folder"), std::string::npos);
    EXPECT_NE(out2.str().find("failed 1"), std::string::npos);
}

TEST(BatchPlan, FilesThatShareATargetStayInOneGroupInListOrder) {
    TTempFolder folder;
    for (const char* name : {"a.bmp", "a.tga", "b.bmp", "c.tga", "sub/a.bmp"}) {
        fs::create_directories((folder.Path() / name).parent_path());
        WriteFileBytes(folder / name, {0});
    }
    TRecordingHost host;
    host.target = ".png";
    const TBatchPlan plan = PlanBatch(host, {folder.Path().string()});
    std::vector<std::string> names;
    for (const auto& file : plan.Files) names.push_back(fs::path(file).lexically_relative(folder.Path()).string());
    EXPECT_EQ(names, (std::vector<std::string>{"a.bmp", "b.bmp", "sub/a.bmp", "a.tga", "c.tga"}));
    ASSERT_EQ(plan.Groups.size(), 4u);
    EXPECT_EQ(plan.Groups[0], (std::vector<size_t>{0, 3}));  // a.bmp then a.tga, both -> a.png
}

TEST(BatchPlan, ASourceThatIsAnotherFilesTargetIsOrderedWithIt) {
    TTempFolder folder;
    WriteFileBytes(folder / "x.png", {0});
    WriteFileBytes(folder / "x.bmp", {0});
    TRecordingHost host;
    host.target = ".png";
    const TBatchPlan plan = PlanBatch(host, {folder / "x.png", folder / "x.bmp", folder / "./x.bmp"});
    ASSERT_EQ(plan.Groups.size(), 1u);
    EXPECT_EQ(plan.Groups[0], (std::vector<size_t>{0, 1, 2}));
}

TEST(BatchPlan, WorkersRunEveryFileOnceAndStopWhenAsked) {
    TBatchPlan plan;
    for (int i = 0; i < 50; ++i) {
        plan.Files.push_back(std::to_string(i));
        plan.Groups.push_back({static_cast<size_t>(i)});
    }
    std::mutex lock;
    std::vector<int> seen;
    RunBatchPlan(
        plan, 4,
        [&](const std::string& file) {
            std::lock_guard guard(lock);
            seen.push_back(std::stoi(file));
        },
        [] { return false; });
    std::sort(seen.begin(), seen.end());
    ASSERT_EQ(seen.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(seen[i], i);
    int count = 0;
    RunBatchPlan(plan, 1, [&](const std::string&) { ++count; }, [&] { return count >= 3; });
    EXPECT_EQ(count, 3);
}
