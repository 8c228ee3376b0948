#pragma once
// The command line's plan of a run: every dropped path expanded into the files
// the batch driver would convert, in its order, and grouped so that files that
// touch the same file (a source, or a target name) stay in one group, in list
// order. Groups are independent: running them on several workers writes
// exactly the files a sequential run writes.

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "convert/conversion_host.hpp"

namespace tamberlit {

struct TBatchPlan {
    std::vector<std::string> Files;          // in the order a sequential run takes them
    std::vector<std::vector<size_t>> Groups;  // indices into Files, each group in list order
};

// Expands the paths as ConvertPath would: a folder into its listed sources (a
// listed entry that is itself a folder is expanded in its place), a file as it
// is. Paths that do not exist are left out.
TBatchPlan PlanBatch(TConversionHost& host, const std::vector<std::string>& paths);

// Runs every group on up to `workers` threads; convert is called for each file
// of a group in order. Stops taking new files once stop() is true.
void RunBatchPlan(const TBatchPlan& plan, unsigned workers, const std::function<void(const std::string&)>& convert,
                  const std::function<bool()>& stop);

unsigned DefaultWorkerCount();

}  // namespace tamberlit
