#pragma once
// Commits that run beside the work: a file that replaces another is synced
// before it takes the old one's place, and a sync waits for the disk. A batch
// that replaces many files hands those commits to a TCommitQueue, whose
// threads sync them while the batch goes on with the next files; the file
// system then joins the syncs of several files into one journal commit. The
// guarantee is the same as a commit in place: after a crash each target is
// either its old file or the whole new one.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "image/stream.hpp"

namespace tamberlit {

// A written file waiting for its commit, and the text its commit's failure
// is given (empty: the file writer's own).
struct TPendingCommit {
    std::unique_ptr<TAtomicFileWriter> File;
    std::string FailureText;
};

class TCommitQueue {
public:
    // done runs on one of the queue's threads once the file has taken its
    // target's place (error empty) or its commit failed (the old target is
    // then as it was).
    using TDone = std::function<void(std::exception_ptr error)>;

    // lanes threads, started with the first commit; at most maxPending
    // commits wait at a time (each holds an open file), Submit blocks beyond.
    explicit TCommitQueue(unsigned lanes = 8, size_t maxPending = 64);
    // Waits for every commit submitted.
    ~TCommitQueue();
    TCommitQueue(const TCommitQueue&) = delete;
    TCommitQueue& operator=(const TCommitQueue&) = delete;

    // A target always goes to the same lane, so the commits of one target
    // take its place in the order they were submitted.
    void Submit(TPendingCommit commit, TDone done);
    // Returns when every commit submitted so far is done.
    void Wait();

private:
    struct TJob {
        TPendingCommit Commit;
        TDone Done;
    };
    struct TLane {
        std::deque<TJob> Jobs;
        std::thread Thread;
    };
    void Serve(TLane& lane);

    const size_t maxPending_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<TLane> lanes_;
    size_t pending_ = 0;  // submitted and not yet done
    bool closing_ = false;
};

// While one is alive on a thread, a save on that thread that replaces an
// existing file leaves its commit here (Take) instead of committing in place.
// A commit not taken is dropped with the scope: its temporary file goes and
// the old target stays.
class TDeferredCommit {
public:
    TDeferredCommit();
    ~TDeferredCommit();
    TDeferredCommit(const TDeferredCommit&) = delete;
    TDeferredCommit& operator=(const TDeferredCommit&) = delete;

    // The commit the last save left, if any (File is null otherwise).
    TPendingCommit Take() { return std::move(pending_); }

    // Called by SaveFileAtomically once every byte is written: true when a
    // scope on this thread took the file over.
    static bool Defer(std::unique_ptr<TAtomicFileWriter>& file, const std::string& failureText);

private:
    TDeferredCommit* outer_;
    TPendingCommit pending_;
};

}  // namespace tamberlit
