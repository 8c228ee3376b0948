#pragma once
// Runs a release call when the scope ends, by return or by exception: the C
// libraries' states (libpng's read and write structs, libjpeg's compressor and
// decompressor) are freed by a call of their own, not by a destructor.

#include <utility>

namespace tamberlit {

template <typename Release>
class TScopeGuard {
public:
    explicit TScopeGuard(Release release) : release_(std::move(release)) {}
    ~TScopeGuard() { release_(); }
    TScopeGuard(const TScopeGuard&) = delete;
    TScopeGuard& operator=(const TScopeGuard&) = delete;

private:
    Release release_;
};

}  // namespace tamberlit
