#include "convert/batch_plan.hpp"

#include <sched.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <numeric>
#include <thread>
#include <unordered_map>

#include "convert/batch_conversion.hpp"
#include "image/file_names.hpp"

namespace tamberlit {

namespace {

uint64_t Fnv1a64(std::string_view text) {
    uint64_t hash = 0xcbf29ce484222325u;
    for (const char c : text) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 0x100000001b3u;
    }
    return hash;
}

// One name for one file however the path spells it: its folder made canonical
// and its name, or the whole path resolved when the name is a symbolic link.
// Each folder is resolved once, so a list of a million files in a hundred
// folders costs a hundred resolutions and a million lstat calls.
class TFileKeys {
public:
    std::string Key(const std::string& path) {
        const std::filesystem::path spelled(path);
        const std::string name = spelled.filename().string();
        struct stat status {};
        if (name.empty() || name == "." || name == ".." ||
            (::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)))
            return Canonical(path);
        const std::string folder = spelled.parent_path().string();
        auto [found, inserted] = folders_.try_emplace(folder);
        if (inserted) {
            found->second = Canonical(folder.empty() ? std::string(".") : folder);
            if (found->second.empty() || found->second.back() != '/') found->second += '/';
        }
        return found->second + name;
    }

private:
    static std::string Canonical(const std::string& path) {
        std::error_code error;
        auto canonical = std::filesystem::weakly_canonical(path, error);
        return error ? std::filesystem::path(path).lexically_normal().string() : canonical.string();
    }

    std::unordered_map<std::string, std::string> folders_;
};

class TUnionFind {
public:
    explicit TUnionFind(size_t count) : parent_(count) { std::iota(parent_.begin(), parent_.end(), uint32_t{0}); }
    uint32_t Find(uint32_t item) {
        while (parent_[item] != item) item = parent_[item] = parent_[parent_[item]];
        return item;
    }
    void Join(uint32_t a, uint32_t b) {
        a = Find(a);
        b = Find(b);
        if (a != b) parent_[std::max(a, b)] = std::min(a, b);
    }

private:
    std::vector<uint32_t> parent_;
};

}  // namespace

uint32_t ShardOf(std::string_view targetPath, uint32_t count) {
    if (count <= 1) return 0;
    const std::string normal = std::filesystem::path(targetPath).lexically_normal().string();
    return static_cast<uint32_t>(Fnv1a64(normal) % count);
}

std::string TBatchPlan::File(size_t index) const {
    const uint64_t begin = starts_[index];
    const uint64_t end = index + 1 < starts_.size() ? starts_[index + 1] : names_.size();
    return names_.substr(begin, end - begin);
}

std::span<const uint32_t> TBatchPlan::Group(size_t group) const {
    return {members_.data() + groupStarts_[group], members_.data() + groupStarts_[group + 1]};
}

TBatchPlanner::TBatchPlanner(TConversionHost& host, TShard shard)
    : host_(host), shard_(shard), target_(host.TargetExtension()) {}

void TBatchPlanner::Keep(const std::string& file) {
    plan_.starts_.push_back(plan_.names_.size());
    plan_.names_ += file;
}

TBatchPlanner::TAdded TBatchPlanner::Add(const std::string& path) {
    // Another shard's file is passed over before the file system is asked.
    if (shard_.Count > 1 && ShardOf(ChangeFileExtension(path, target_), shard_.Count) != shard_.Index &&
        !IsFolder(path))
        return TAdded::OtherShard;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return TAdded::Missing;
    if (!S_ISDIR(status.st_mode)) {
        Keep(path);
        return TAdded::File;
    }
    // A scan lists files only, never folders.
    for (const auto& entry : ListSourceFiles(host_, path))
        if (ShardOf(ChangeFileExtension(entry, target_), shard_.Count) == shard_.Index) Keep(entry);
    return TAdded::Folder;
}

TBatchPlan TBatchPlanner::Finish() {
    TBatchPlan plan = std::move(plan_);
    plan_ = TBatchPlan();
    const size_t count = plan.FileCount();

    // Files that share a key (as source or as target) keep their order: sort
    // the keys' hashes and join the files of equal ones. Two keys that happen
    // to share a hash only put two groups in order, which costs nothing.
    std::vector<std::pair<uint64_t, uint32_t>> keys;
    keys.reserve(2 * count);
    TFileKeys fileKeys;
    for (size_t i = 0; i < count; ++i) {
        const std::string file = plan.File(i);
        keys.emplace_back(Fnv1a64(fileKeys.Key(file)), static_cast<uint32_t>(i));
        keys.emplace_back(Fnv1a64(fileKeys.Key(ChangeFileExtension(file, target_))), static_cast<uint32_t>(i));
    }
    std::sort(keys.begin(), keys.end());
    TUnionFind groups(count);
    for (size_t i = 1; i < keys.size(); ++i)
        if (keys[i].first == keys[i - 1].first) groups.Join(keys[i - 1].second, keys[i].second);
    keys = {};

    // Groups in the order of their first files, each in list order. A
    // group's root is its first file (joins keep the lower index).
    std::vector<uint32_t> groupOf(count);
    std::vector<uint32_t> sizes;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t root = groups.Find(i);
        if (root == i) {
            groupOf[i] = static_cast<uint32_t>(sizes.size());
            sizes.push_back(0);
        } else {
            groupOf[i] = groupOf[root];
        }
        ++sizes[groupOf[i]];
    }
    plan.groupStarts_.assign(sizes.size() + 1, 0);
    for (size_t g = 0; g < sizes.size(); ++g) plan.groupStarts_[g + 1] = plan.groupStarts_[g] + sizes[g];
    plan.members_.resize(count);
    std::vector<uint32_t> next(plan.groupStarts_.begin(), plan.groupStarts_.end() - 1);
    for (uint32_t i = 0; i < count; ++i) plan.members_[next[groupOf[i]]++] = i;
    if (count == 0) plan.groupStarts_.clear();
    return plan;
}

TBatchPlan PlanBatch(TConversionHost& host, const std::vector<std::string>& paths) {
    TBatchPlanner planner(host);
    for (const auto& path : paths) planner.Add(path);
    return planner.Finish();
}

void RunBatchPlan(const TBatchPlan& plan, unsigned workers, const std::function<void(size_t group)>& runGroup,
                  const std::function<bool()>& stop) {
    std::atomic<size_t> nextGroup{0};
    auto work = [&] {
        while (!stop()) {
            const size_t group = nextGroup.fetch_add(1);
            if (group >= plan.GroupCount()) return;
            runGroup(group);
        }
    };
    workers = std::max(1u, std::min<unsigned>(workers, static_cast<unsigned>(plan.GroupCount())));
    if (workers == 1) {
        work();
        return;
    }
    std::vector<std::thread> threads;
    threads.reserve(workers);
    for (unsigned i = 0; i < workers; ++i) threads.emplace_back(work);
    for (auto& thread : threads) thread.join();
}

unsigned DefaultWorkerCount() {
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<unsigned>(count);
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? hardware : 1;
}

}  // namespace tamberlit
