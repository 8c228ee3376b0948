#include "convert/batch_plan.hpp"

#include <sched.h>

#include <filesystem>
#include <map>
#include <numeric>
#include <thread>

#include "convert/batch_conversion.hpp"
#include "image/file_names.hpp"

namespace tamberlit {

namespace {

void Expand(TConversionHost& host, const std::string& path, std::vector<std::string>& files) {
    if (!IsFolder(path)) {
        files.push_back(path);
        return;
    }
    for (const auto& entry : ListSourceFiles(host, path)) Expand(host, entry, files);
}

// One name for one file however the path spells it.
std::string FileKey(const std::string& path) {
    std::error_code error;
    auto canonical = std::filesystem::weakly_canonical(path, error);
    return error ? std::filesystem::path(path).lexically_normal().string() : canonical.string();
}

class TUnionFind {
public:
    explicit TUnionFind(size_t count) : parent_(count) { std::iota(parent_.begin(), parent_.end(), size_t{0}); }
    size_t Find(size_t item) {
        while (parent_[item] != item) item = parent_[item] = parent_[parent_[item]];
        return item;
    }
    void Join(size_t a, size_t b) {
        a = Find(a);
        b = Find(b);
        if (a != b) parent_[std::max(a, b)] = std::min(a, b);
    }

private:
    std::vector<size_t> parent_;
};

}  // namespace

TBatchPlan PlanBatch(TConversionHost& host, const std::vector<std::string>& paths) {
    TBatchPlan plan;
    for (const auto& path : paths) Expand(host, path, plan.Files);

    // Files sharing a key (as source or as target) must keep their order.
    TUnionFind groups(plan.Files.size());
    std::map<std::string, size_t> firstUser;
    const std::string target = host.TargetExtension();
    for (size_t i = 0; i < plan.Files.size(); ++i) {
        for (const auto& key : {FileKey(plan.Files[i]), FileKey(ChangeFileExtension(plan.Files[i], target))}) {
            auto [found, inserted] = firstUser.emplace(key, i);
            if (!inserted) groups.Join(found->second, i);
        }
    }
    std::map<size_t, size_t> groupOfRoot;
    for (size_t i = 0; i < plan.Files.size(); ++i) {
        const size_t root = groups.Find(i);
        auto [found, inserted] = groupOfRoot.emplace(root, plan.Groups.size());
        if (inserted) plan.Groups.emplace_back();
        plan.Groups[found->second].push_back(i);
    }
    return plan;
}

void RunBatchPlan(const TBatchPlan& plan, unsigned workers, const std::function<void(const std::string&)>& convert,
                  const std::function<bool()>& stop) {
    std::atomic<size_t> nextGroup{0};
    auto work = [&] {
        for (;;) {
            const size_t group = nextGroup.fetch_add(1);
            if (group >= plan.Groups.size()) return;
            for (size_t index : plan.Groups[group]) {
                if (stop()) return;
                convert(plan.Files[index]);
            }
        }
    };
    workers = std::max(1u, std::min<unsigned>(workers, static_cast<unsigned>(plan.Groups.size())));
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
