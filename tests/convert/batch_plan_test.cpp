// The command line's plan of a run: the files of every path in the order a
// sequential run takes them, grouped so that files sharing a name stay in
// order on one worker.

#include "convert/batch_plan.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <set>

#include "image/file_names.hpp"
#include "tests/convert/recording_host.hpp"
#include "tests/support/test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
namespace fs = std::filesystem;

namespace {

std::vector<uint32_t> Members(const TBatchPlan& plan, size_t group) {
    const auto members = plan.Group(group);
    return {members.begin(), members.end()};
}

}  // namespace

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
    for (size_t i = 0; i < plan.FileCount(); ++i)
        names.push_back(fs::path(plan.File(i)).lexically_relative(folder.Path()).string());
    EXPECT_EQ(names, (std::vector<std::string>{"a.bmp", "b.bmp", "sub/a.bmp", "a.tga", "c.tga"}));
    ASSERT_EQ(plan.GroupCount(), 4u);
    EXPECT_EQ(Members(plan, 0), (std::vector<uint32_t>{0, 3}));  // a.bmp then a.tga, both -> a.png
}

TEST(BatchPlan, ASourceThatIsAnotherFilesTargetIsOrderedWithIt) {
    TTempFolder folder;
    WriteFileBytes(folder / "x.png", {0});
    WriteFileBytes(folder / "x.bmp", {0});
    TRecordingHost host;
    host.target = ".png";
    const TBatchPlan plan = PlanBatch(host, {folder / "x.png", folder / "x.bmp", folder / "./x.bmp"});
    ASSERT_EQ(plan.GroupCount(), 1u);
    EXPECT_EQ(Members(plan, 0), (std::vector<uint32_t>{0, 1, 2}));
}

// Names that reach one file through a link are one file: a target that is a
// link to another target, a source that is a link to another source, and a
// folder named through a link, in a plan for a full run and for an
// incremental one (which looks at targets in another way).
TEST(BatchPlan, NamesThatReachOneFileThroughALinkShareAGroup) {
    for (const bool update : {false, true}) {
        TTempFolder folder;
        fs::create_directories(folder.Path() / "real");
        for (const char* name : {"a.bmp", "b.tga", "c.bmp", "real/e.bmp"}) WriteFileBytes(folder / name, {0});
        WriteFileBytes(folder / "a.png", {0});
        fs::create_symlink("a.png", folder.Path() / "b.png");  // b.tga's target is a.png
        fs::create_symlink("c.bmp", folder.Path() / "d.bmp");  // d.bmp is c.bmp
        fs::create_symlink("real", folder.Path() / "alias");   // alias/e.bmp is real/e.bmp
        TRecordingHost host;
        host.target = ".png";
        TBatchPlanner planner(host, {}, update);
        for (const char* name : {"a.bmp", "c.bmp", "real/e.bmp", "b.tga", "d.bmp", "alias/e.bmp"})
            EXPECT_EQ(planner.Add(folder / name), TBatchPlanner::TAdded::File) << name;
        const TBatchPlan plan = planner.Finish();
        ASSERT_EQ(plan.GroupCount(), 3u) << "update " << update;
        EXPECT_EQ(Members(plan, 0), (std::vector<uint32_t>{0, 3}));
        EXPECT_EQ(Members(plan, 1), (std::vector<uint32_t>{1, 4}));
        EXPECT_EQ(Members(plan, 2), (std::vector<uint32_t>{2, 5}));
    }
}

TEST(BatchPlan, WorkersRunEveryGroupOnceAndStopWhenAsked) {
    TTempFolder folder;
    std::vector<std::string> paths;
    for (int i = 0; i < 50; ++i) {
        paths.push_back(folder / (std::to_string(i) + ".tga"));
        WriteFileBytes(paths.back(), {0});
    }
    TRecordingHost host;
    const TBatchPlan plan = PlanBatch(host, paths);
    ASSERT_EQ(plan.GroupCount(), 50u);
    std::mutex lock;
    std::vector<size_t> seen;
    RunBatchPlan(
        plan, 4,
        [&](size_t group) {
            std::lock_guard guard(lock);
            seen.push_back(group);
        },
        [] { return false; });
    std::sort(seen.begin(), seen.end());
    ASSERT_EQ(seen.size(), 50u);
    for (size_t i = 0; i < 50; ++i) EXPECT_EQ(seen[i], i);
    int count = 0;
    RunBatchPlan(
        plan, 1, [&](size_t) { ++count; }, [&] { return count >= 3; });
    EXPECT_EQ(count, 3);
}

// The shard of a target is a fixed function of its path: every machine and
// every version must agree on it, so its values are pinned here.
TEST(BatchPlan, TheShardOfATargetIsPinned) {
    struct TCase {
        const char* target;
        uint32_t count;
        uint32_t shard;
    } cases[] = {
        {"a.png", 2, 1},
        {"a.png", 7, 4},
        {"./a.png", 7, 4},
        {"dir/../a.png", 7, 4},
        {"textures/wall.tga", 4, 0},
        {"/farm/x/y.bmp", 1000, 92},
        {"anything", 1, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(ShardOf(c.target, c.count), c.shard) << c.target << " of " << c.count;
}

TEST(BatchPlan, EveryFileOfAFolderIsInOneShard) {
    TTempFolder folder;
    for (int i = 0; i < 40; ++i) WriteFileBytes(folder / ("f" + std::to_string(i) + ".tga"), {0});
    TRecordingHost host;
    std::multiset<std::string> seen;
    for (uint32_t shard = 0; shard < 3; ++shard) {
        TBatchPlanner planner(host, {shard, 3});
        EXPECT_EQ(planner.Add(folder.Path().string()), TBatchPlanner::TAdded::Folder);
        const TBatchPlan plan = planner.Finish();
        for (size_t i = 0; i < plan.FileCount(); ++i) {
            EXPECT_EQ(ShardOf(ChangeFileExtension(plan.File(i), ".png"), 3), shard);
            seen.insert(plan.File(i));
        }
    }
    EXPECT_EQ(seen.size(), 40u);
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()).size(), 40u);
}
