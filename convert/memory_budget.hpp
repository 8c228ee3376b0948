#pragma once
// The memory that converting workers share. A farm node converts one file per
// processor; with many processors and large textures (a 16384 x 16384 picture
// is 1 GiB of pixels) that would be more memory than the node has. Each file
// holds its share of the budget while it converts: one that does not fit in
// what is left waits for others to finish, and one larger than the whole
// budget waits until it can run alone.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "image/limits.hpp"

namespace tamberlit {

class TMemoryBudget {
public:
    explicit TMemoryBudget(uint64_t bytes) : total_(bytes) {}

    // Waits until bytes fit in what is left, or until nothing else is held
    // when they exceed the whole budget; then holds them.
    void Acquire(uint64_t bytes);
    void Release(uint64_t bytes);
    uint64_t Total() const { return total_; }
    uint64_t Held();

private:
    const uint64_t total_;
    uint64_t held_ = 0;
    uint64_t nextTicket_ = 0;
    uint64_t serving_ = 0;
    std::mutex mutex_;
    std::condition_variable released_;
};

// Half of the machine's physical memory.
uint64_t DefaultMemoryBudget();

// What converting the file may take at most, from the size its header
// declares (no pixel is read): 8 bytes a pixel, room for the decoded picture
// and the copy a conversion or a writer makes of it (measured peaks are 4 to
// 5 bytes a pixel). 0 for a file whose header declares nothing: its reader
// refuses it at once.
uint64_t ConversionBytes(const std::string& path);

// The most a file within the limits can take.
uint64_t LargestConversionBytes(const TSizeLimits& limits);

}  // namespace tamberlit
