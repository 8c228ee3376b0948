#include "image/commit_queue.hpp"

#include "image/exceptions.hpp"

namespace tamberlit {

namespace {

thread_local TDeferredCommit* currentScope = nullptr;

// FNV-1a: the lane of a target.
size_t LaneOf(const std::string& target, size_t lanes) {
    uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : target) hash = (hash ^ c) * 1099511628211ull;
    return static_cast<size_t>(hash % lanes);
}

}  // namespace

TCommitQueue::TCommitQueue(unsigned lanes, size_t maxPending)
    : maxPending_(std::max<size_t>(maxPending, 1)), lanes_(std::max(lanes, 1u)) {}

TCommitQueue::~TCommitQueue() {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return pending_ == 0; });
        closing_ = true;
    }
    changed_.notify_all();
    for (auto& lane : lanes_)
        if (lane.Thread.joinable()) lane.Thread.join();
}

void TCommitQueue::Submit(TPendingCommit commit, TDone done) {
    TLane& lane = lanes_[LaneOf(commit.File->TargetPath(), lanes_.size())];
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return pending_ < maxPending_; });
        ++pending_;
        lane.Jobs.push_back({std::move(commit), std::move(done)});
        if (!lane.Thread.joinable()) lane.Thread = std::thread([this, &lane] { Serve(lane); });
    }
    changed_.notify_all();
}

void TCommitQueue::Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return pending_ == 0; });
}

void TCommitQueue::Serve(TLane& lane) {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return closing_ || !lane.Jobs.empty(); });
        if (lane.Jobs.empty()) return;
        TJob job = std::move(lane.Jobs.front());
        lane.Jobs.pop_front();
        lock.unlock();
        std::exception_ptr error;
        try {
            try {
                job.Commit.File->Commit();
            } catch (const EStreamError&) {
                if (job.Commit.FailureText.empty()) throw;
                throw EWriteError(job.Commit.FailureText);
            }
        } catch (...) {
            error = std::current_exception();
        }
        job.Commit.File.reset();  // closes it, and removes the temporary file of a failed commit
        job.Done(error);
        lock.lock();
        --pending_;
        changed_.notify_all();
    }
}

TDeferredCommit::TDeferredCommit() : outer_(currentScope) { currentScope = this; }

TDeferredCommit::~TDeferredCommit() { currentScope = outer_; }

bool TDeferredCommit::Defer(std::unique_ptr<TAtomicFileWriter>& file, const std::string& failureText) {
    TDeferredCommit* scope = currentScope;
    // A new file needs no sync: its commit in place costs no more than handing it over.
    if (!scope || !file->ReplacesExisting()) return false;
    file->Flush();
    scope->pending_ = {std::move(file), failureText};
    return true;
}

}  // namespace tamberlit
