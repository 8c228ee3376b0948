#include "convert/memory_budget.hpp"

#include <unistd.h>

#include "convert/image_format_conversions.hpp"

namespace tamberlit {

namespace {
constexpr uint64_t BytesPerPixel = 8;
}

void TMemoryBudget::Acquire(uint64_t bytes) {
    std::unique_lock lock(mutex_);
    // In turn: a large file that waits for room is not overtaken for ever by
    // small ones that still fit.
    const uint64_t ticket = nextTicket_++;
    released_.wait(lock, [&] { return ticket == serving_ && (held_ == 0 || held_ + bytes <= total_); });
    held_ += bytes;
    ++serving_;
    lock.unlock();
    released_.notify_all();
}

void TMemoryBudget::Release(uint64_t bytes) {
    {
        std::lock_guard lock(mutex_);
        held_ -= bytes;
    }
    released_.notify_all();
}

uint64_t TMemoryBudget::Held() {
    std::lock_guard lock(mutex_);
    return held_;
}

uint64_t DefaultMemoryBudget() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return uint64_t{4} << 30;  // a guess that no machine of today lacks
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) / 2;
}

uint64_t ConversionBytes(const std::string& path) {
    const TDeclaredSize size = ReadDeclaredSize(path);
    return static_cast<uint64_t>(size.Width) * static_cast<uint64_t>(size.Height) * BytesPerPixel;
}

uint64_t LargestConversionBytes(const TSizeLimits& limits) { return limits.MaxPixels * BytesPerPixel; }

}  // namespace tamberlit
