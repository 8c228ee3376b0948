#include "image/limits.hpp"

#include <algorithm>
#include <string>

#include "image/exceptions.hpp"

namespace tamberlit {

void TSizeLimits::CheckSize(int64_t width, int64_t height) const {
    if (width < 0 || height < 0)
        throw EInvalidGraphic("Invalid image size " + std::to_string(width) + " x " + std::to_string(height));
    const uint64_t limit = MaxPixels;
    if (width > MaxImageSide || height > MaxImageSide ||
        static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > limit)
        throw EImageTooLarge("Image too large: " + std::to_string(width) + " x " + std::to_string(height) +
                             " pixels exceeds the limit of " + std::to_string(limit) + " pixels and " +
                             std::to_string(MaxImageSide) + " per side");
}

std::string TRowsPresent::Text() const {
    if (Present >= Total && Coarse) return "all " + std::to_string(Total) + " rows present, not in full detail";
    return std::to_string(Present) + " of " + std::to_string(Total) + " rows present";
}

void CheckRowsPresent(int64_t present, int64_t total) {
    if (present < 0 || 2 * present < total)
        throw EInvalidGraphic("cut short: " + std::to_string(std::max<int64_t>(present, 0)) + " of " +
                              std::to_string(total) + " rows present");
}

void TSizeLimits::CheckTotal(uint64_t totalPixels) const {
    const uint64_t limit = MaxPixels;
    if (totalPixels > limit)
        throw EImageTooLarge("Image too large: " + std::to_string(totalPixels) +
                             " pixels in all exceeds the limit of " + std::to_string(limit) + " pixels");
}

}  // namespace tamberlit
