#pragma once
// The command line's plan of a run: every path expanded into the files the
// batch driver would convert, in its order, and grouped so that files that
// touch the same file (a source, or a target name) stay in one group, in list
// order. Groups are independent: running them on several workers writes
// exactly the files a sequential run writes.
//
// A plan is built from a stream of paths (arguments, or a list of millions of
// entries), keeping only the files of this run's shard: its memory grows with
// what this run converts, not with the list.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert/conversion_host.hpp"

namespace tamberlit {

// One of Count runs that share a work list (--shard Index/Count). The unit of
// sharing is the target: a file belongs to shard ShardOf(its target, Count),
// so sources that share a target stay together and the later one still wins.
struct TShard {
    uint32_t Index = 0;
    uint32_t Count = 1;
};

// The shard of a target path: the FNV-1a 64-bit hash of the path as written,
// made lexically normal ("./a/../b.png" is "b.png"), modulo count. It depends
// on nothing but the path's bytes, so every machine, thread count and version
// agrees on it.
uint32_t ShardOf(std::string_view targetPath, uint32_t count);

class TBatchPlan {
public:
    size_t FileCount() const { return starts_.size(); }
    std::string File(size_t index) const;
    size_t GroupCount() const { return groupStarts_.empty() ? 0 : groupStarts_.size() - 1; }
    // Indices of the group's files, in list order.
    std::span<const uint32_t> Group(size_t group) const;
    // A plan made for an incremental run: no target of the group is missing
    // or older than a source of it (as cp -u and rsync -u decide; a source
    // that cannot be looked at is left for the conversion to report). Always
    // false in a plan made for a full run.
    bool UpToDate(size_t group) const { return group < upToDate_.size() && upToDate_[group]; }

private:
    friend class TBatchPlanner;
    std::string names_;                  // every file's path, one after the other
    std::vector<uint64_t> starts_;       // where each file's path begins in names_
    std::vector<uint32_t> members_;      // the files of every group, group after group
    std::vector<uint32_t> groupStarts_;  // where each group begins in members_, and the end
    std::vector<bool> upToDate_;         // by group; empty for a full run
};

// The canonical names of files, their folders resolved once and held open
// while a plan is made, so that each file costs a lookup of its own name only.
class TFileKeys;
struct TFileLook;

class TBatchPlanner {
public:
    // The host gives the target and lists folders (reporting those it cannot
    // read); the shard chooses the files kept; update makes the plan of an
    // incremental run (TBatchPlan::UpToDate).
    explicit TBatchPlanner(TConversionHost& host, TShard shard = {}, bool update = false);
    ~TBatchPlanner();

    enum class TAdded {
        File,        // a file (or another kind of entry) of this shard
        Folder,      // a folder, scanned; its files of this shard kept
        OtherShard,  // another shard's
        Missing,     // nothing of that name (of this shard)
    };
    // Takes one path as ConvertPath would: a folder becomes its listed sources
    // (a listed entry that is itself a folder is expanded in its place), a
    // file is kept as it is.
    TAdded Add(const std::string& path);

    // Groups the files kept and hands over the plan.
    TBatchPlan Finish();

private:
    void Keep(const std::string& file, const std::string& key, const TFileLook& source);

    TConversionHost& host_;
    TShard shard_;
    bool update_;
    std::string target_;
    TBatchPlan plan_;
    std::unique_ptr<TFileKeys> keys_;
    // Every kept file's two keys (as source, as target), hashed, with its
    // index; for an incremental run, whether it is newer than its target.
    std::vector<std::pair<uint64_t, uint32_t>> keyHashes_;
    std::vector<bool> stale_;
};

// Expands the paths into one plan; paths that do not exist are left out.
TBatchPlan PlanBatch(TConversionHost& host, const std::vector<std::string>& paths);

// Runs every group on up to `workers` threads: runGroup(group) for each group,
// until stop() is true. Groups are taken in order.
void RunBatchPlan(const TBatchPlan& plan, unsigned workers, const std::function<void(size_t group)>& runGroup,
                  const std::function<bool()>& stop);

unsigned DefaultWorkerCount();

}  // namespace tamberlit
