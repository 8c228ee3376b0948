#include "color/quantizer.hpp"

#include <algorithm>

namespace tamberlit {

TColorQuantizer::TColorQuantizer(int maxColors, int colorBits)
    : maxColors_(std::clamp(maxColors, 1, 256)), colorBits_(std::clamp(colorBits, 1, 8)) {
    // Leaves never exceed maxColors + 1 and every inner node lies above some
    // leaf, at most colorBits of them per leaf: the pool never grows past this.
    nodes_.reserve(static_cast<size_t>(colorBits_ + 1) * static_cast<size_t>(maxColors_ + 1) + 2);
    nodes_.emplace_back();
}

uint32_t TColorQuantizer::NewNode(int level) {
    uint32_t node;
    if (!freeNodes_.empty()) {
        node = freeNodes_.back();
        freeNodes_.pop_back();
        nodes_[node] = TOctreeNode{};
    } else {
        node = static_cast<uint32_t>(nodes_.size());
        nodes_.emplace_back();
    }
    if (level == colorBits_) {
        nodes_[node].Leaf = true;
        ++leafCount_;
    } else {
        nodes_[node].NextReducible = reducible_[level];
        reducible_[level] = node;
    }
    return node;
}

void TColorQuantizer::FreeNode(uint32_t node) { freeNodes_.push_back(node); }

uint32_t TColorQuantizer::InsertColor(uint8_t red, uint8_t green, uint8_t blue) {
    uint32_t parent = 0;
    unsigned slot = 0;
    uint32_t node = root_;
    for (int level = 0;; ++level) {
        if (node == 0) {
            node = NewNode(level);
            if (parent == 0) root_ = node;
            else nodes_[parent].Children[slot] = node;
        }
        TOctreeNode& current = nodes_[node];
        if (current.Leaf) {
            ++current.PixelCount;
            current.RedSum += red;
            current.GreenSum += green;
            current.BlueSum += blue;
            return node;
        }
        const unsigned mask = 0x80u >> level;
        slot = (red & mask ? 4u : 0u) | (green & mask ? 2u : 0u) | (blue & mask ? 1u : 0u);
        parent = node;
        node = current.Children[slot];
    }
}

bool TColorQuantizer::MergeDeepestNode() {
    int level = colorBits_ - 1;
    while (level > 0 && reducible_[level] == 0) --level;
    const uint32_t node = reducible_[level];
    if (node == 0) return false;
    TOctreeNode& target = nodes_[node];
    reducible_[level] = target.NextReducible;
    target.NextReducible = 0;
    uint32_t merged = 0;
    for (uint32_t& child : target.Children) {
        if (child == 0) continue;
        const TOctreeNode& leaf = nodes_[child];
        target.RedSum += leaf.RedSum;
        target.GreenSum += leaf.GreenSum;
        target.BlueSum += leaf.BlueSum;
        target.PixelCount += leaf.PixelCount;
        FreeNode(child);
        child = 0;
        ++merged;
    }
    target.Leaf = true;
    leafCount_ -= merged - 1;
    lastLeaf_ = 0;
    return true;
}

void TColorQuantizer::AddColor(uint8_t red, uint8_t green, uint8_t blue) {
    const uint32_t color = uint32_t(red) | uint32_t(green) << 8 | uint32_t(blue) << 16;
    if (lastLeaf_ != 0 && color == lastColor_) {
        TOctreeNode& leaf = nodes_[lastLeaf_];
        ++leaf.PixelCount;
        leaf.RedSum += red;
        leaf.GreenSum += green;
        leaf.BlueSum += blue;
        return;
    }
    lastLeaf_ = InsertColor(red, green, blue);
    lastColor_ = color;
    while (leafCount_ > static_cast<uint32_t>(maxColors_) && MergeDeepestNode()) {
    }
}

void TColorQuantizer::QuantizeRow(const uint8_t* pixels, int width) {
    for (int x = 0; x < width; ++x, pixels += 3) AddColor(pixels[2], pixels[1], pixels[0]);
}

void TColorQuantizer::QuantizeRows(const TDIBReader& rows) {
    const int width = rows.Width();
    for (int y = 0, height = rows.Height(); y < height; ++y) QuantizeRow(rows.ConstRowAddress(y), width);
}

void TColorQuantizer::CollectLeafColors(uint32_t node, std::vector<TRGBQuad>& table, size_t& position) const {
    const TOctreeNode& current = nodes_[node];
    if (current.Leaf) {
        if (position >= table.size()) return;
        TRGBQuad& entry = table[position++];
        if (current.PixelCount != 0) {
            // Truncating averages.
            entry.rgbRed = static_cast<uint8_t>(current.RedSum / current.PixelCount);
            entry.rgbGreen = static_cast<uint8_t>(current.GreenSum / current.PixelCount);
            entry.rgbBlue = static_cast<uint8_t>(current.BlueSum / current.PixelCount);
        }
        return;
    }
    for (uint32_t child : current.Children)
        if (child != 0) CollectLeafColors(child, table, position);
}

std::vector<TRGBQuad> TColorQuantizer::ColorTable() const {
    std::vector<TRGBQuad> table(leafCount_);
    size_t position = 0;
    if (root_ != 0) CollectLeafColors(root_, table, position);
    table.resize(position);
    return table;
}

HPALETTE BuildOptimizedPalette(const TDIBReader& rows, int colorCount, int colorBits, TSystemColors systemColors) {
    colorCount = std::clamp(colorCount, 1, 256);
    std::vector<TPaletteEntry> entries(static_cast<size_t>(colorCount));
    int quantizerColors = colorCount;
    size_t start = 0;
    if (systemColors == TSystemColors::Reserved) {
        // The window system's static colours keep their places at both ends;
        // ours are the fixed equivalent from image/palette.hpp.
        const HPALETTE system = DefaultPalette20();
        entries.assign(256, TPaletteEntry{});
        std::copy_n(system->Entries.begin(), 10, entries.begin());
        std::copy_n(system->Entries.begin() + 10, 10, entries.begin() + 246);
        for (auto& entry : entries) entry.peFlags = 0;
        quantizerColors = 236;
        start = 10;
    }
    TColorQuantizer quantizer(quantizerColors, colorBits);
    quantizer.QuantizeRows(rows);
    const std::vector<TRGBQuad> table = quantizer.ColorTable();
    for (size_t i = 0; i < table.size() && i < static_cast<size_t>(quantizerColors); ++i)
        entries[start + i] = {table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 0};
    return CreatePalette(std::move(entries));
}

}  // namespace tamberlit
