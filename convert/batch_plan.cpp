#include "convert/batch_plan.hpp"

#include <sched.h>
#include <fcntl.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <numeric>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

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

}  // namespace

// One name for one file however the path spells it: its folder made canonical
// and its name, or the whole path resolved when the name is a symbolic link.
// Each folder is resolved once and, up to a limit, held open, so that a list
// of a million files in a hundred folders costs a hundred resolutions and a
// lookup of each file's own name, not of its whole path.

// What a look at a file found: whether it is there (links followed), a folder,
// and when it was last changed.
struct TFileLook {
    bool Exists = false;
    bool IsFolder = false;
    timespec Changed{};
};

class TFileKeys {
public:
    TFileKeys() = default;
    TFileKeys(const TFileKeys&) = delete;
    TFileKeys& operator=(const TFileKeys&) = delete;
    ~TFileKeys() {
        for (auto& [spelled, folder] : folders_)
            if (folder.Descriptor >= 0) ::close(folder.Descriptor);
    }

    // The key of a file, and what a look at it found.
    std::string Key(const std::string& path, TFileLook* status) {
        const std::filesystem::path spelled(path);
        const std::string name = spelled.filename().string();
        if (name.empty() || name == "." || name == "..") {
            if (status) *status = Look(AT_FDCWD, path);
            return Canonical(path);
        }
        const TFolder& folder = FolderOf(spelled.parent_path().string());
        const int at = folder.Descriptor >= 0 ? folder.Descriptor : AT_FDCWD;
        const std::string& relative = folder.Descriptor >= 0 ? name : path;
        struct stat own {};
        const bool found = ::fstatat(at, relative.c_str(), &own, AT_SYMLINK_NOFOLLOW) == 0;
        if (found && S_ISLNK(own.st_mode)) {
            if (status) *status = Look(at, relative);
            return Canonical(path);
        }
        if (status) *status = Status(found, own);
        return folder.Canonical + name;
    }

    // The key of a file whose status is not wanted (a target of a full run):
    // whether its name is a link comes from one reading of its folder's
    // entries, not from a look of its own.
    std::string Key(const std::string& path) {
        const std::filesystem::path spelled(path);
        const std::string name = spelled.filename().string();
        if (name.empty() || name == "." || name == "..") return Canonical(path);
        TFolder& folder = FolderOf(spelled.parent_path().string());
        if (!ReadLinks(folder)) return Key(path, nullptr);
        return folder.Links->contains(name) ? Canonical(path) : folder.Canonical + name;
    }

private:
    struct TFolder {
        std::string Canonical;  // ends with "/"
        int Descriptor = -1;
        // The names of the links in it, once read; not read where the folder
        // could not be read or does not say which entries are links.
        std::optional<std::unordered_set<std::string>> Links;
        bool Unlisted = false;
    };

    bool ReadLinks(TFolder& folder) {
        if (folder.Links) return true;
        if (folder.Descriptor < 0 || folder.Unlisted) return false;
        folder.Unlisted = true;
        const int descriptor = ::openat(folder.Descriptor, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* directory = descriptor >= 0 ? ::fdopendir(descriptor) : nullptr;
        if (!directory) {
            if (descriptor >= 0) ::close(descriptor);
            return false;
        }
        std::unordered_set<std::string> links;
        bool complete = true;
        errno = 0;
        while (const dirent* entry = ::readdir(directory)) {
            if (entry->d_type == DT_UNKNOWN) {
                complete = false;
                break;
            }
            if (entry->d_type == DT_LNK) links.insert(entry->d_name);
        }
        complete = complete && errno == 0;
        ::closedir(directory);
        if (!complete) return false;
        folder.Links = std::move(links);
        folder.Unlisted = false;
        return true;
    }
    // Folders held open at most: well below the usual limit of 1024 open files.
    static constexpr size_t maxOpenFolders = 256;

    TFolder& FolderOf(const std::string& spelled) {
        auto [found, inserted] = folders_.try_emplace(spelled);
        if (inserted) {
            const std::string path = spelled.empty() ? std::string(".") : spelled;
            found->second.Canonical = Canonical(path);
            if (found->second.Canonical.empty() || found->second.Canonical.back() != '/')
                found->second.Canonical += '/';
            if (open_ < maxOpenFolders) {
                found->second.Descriptor = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
                if (found->second.Descriptor >= 0) ++open_;
            }
        }
        return found->second;
    }

    static TFileLook Status(bool found, const struct stat& status) {
        return found ? TFileLook{true, S_ISDIR(status.st_mode), status.st_mtim} : TFileLook{};
    }
    // Links followed.
    static TFileLook Look(int at, const std::string& path) {
        struct stat status {};
        return Status(::fstatat(at, path.c_str(), &status, 0) == 0, status);
    }
    static std::string Canonical(const std::string& path) {
        std::error_code error;
        auto canonical = std::filesystem::weakly_canonical(path, error);
        return error ? std::filesystem::path(path).lexically_normal().string() : canonical.string();
    }

    std::unordered_map<std::string, TFolder> folders_;
    size_t open_ = 0;
};

namespace {

bool Later(const timespec& a, const timespec& b) {
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec > b.tv_nsec);
}

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

TBatchPlanner::TBatchPlanner(TConversionHost& host, TShard shard, bool update)
    : host_(host), shard_(shard), update_(update), target_(host.TargetExtension()),
      keys_(std::make_unique<TFileKeys>()) {}

TBatchPlanner::~TBatchPlanner() = default;

void TBatchPlanner::Keep(const std::string& file, const std::string& key, const TFileLook& source) {
    const auto index = static_cast<uint32_t>(plan_.starts_.size());
    plan_.starts_.push_back(plan_.names_.size());
    plan_.names_ += file;
    // The looks that make the keys also tell an incremental run which files
    // are newer than their targets.
    const std::string targetPath = ChangeFileExtension(file, target_);
    keyHashes_.emplace_back(Fnv1a64(key), index);
    if (!update_) {
        keyHashes_.emplace_back(Fnv1a64(keys_->Key(targetPath)), index);
        return;
    }
    TFileLook target;
    keyHashes_.emplace_back(Fnv1a64(keys_->Key(targetPath, &target)), index);
    stale_.push_back(!target.Exists || !source.Exists || Later(source.Changed, target.Changed));
}

TBatchPlanner::TAdded TBatchPlanner::Add(const std::string& path) {
    // Another shard's file is passed over before the file system is asked.
    if (shard_.Count > 1 && ShardOf(ChangeFileExtension(path, target_), shard_.Count) != shard_.Index &&
        !IsFolder(path))
        return TAdded::OtherShard;
    TFileLook status;
    const std::string key = keys_->Key(path, &status);
    if (!status.Exists) return TAdded::Missing;
    if (!status.IsFolder) {
        Keep(path, key, status);
        return TAdded::File;
    }
    // A scan lists files only, never folders.
    for (const auto& entry : ListSourceFiles(host_, path)) {
        if (ShardOf(ChangeFileExtension(entry, target_), shard_.Count) != shard_.Index) continue;
        TFileLook source;
        const std::string entryKey = keys_->Key(entry, &source);
        Keep(entry, entryKey, source);
    }
    return TAdded::Folder;
}

TBatchPlan TBatchPlanner::Finish() {
    TBatchPlan plan = std::move(plan_);
    plan_ = TBatchPlan();
    const size_t count = plan.FileCount();

    // Files that share a key (as source or as target) keep their order: sort
    // the keys' hashes and join the files of equal ones. Two keys that happen
    // to share a hash only put two groups in order, which costs nothing.
    std::vector<std::pair<uint64_t, uint32_t>> keys = std::move(keyHashes_);
    std::vector<bool> stale = std::move(stale_);
    keyHashes_ = {};
    stale_ = {};
    keys_ = std::make_unique<TFileKeys>();  // the folders are let go
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
    if (update_) {
        plan.upToDate_.assign(sizes.size(), true);
        for (uint32_t i = 0; i < count; ++i)
            if (stale[i]) plan.upToDate_[groupOf[i]] = false;
    }
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
