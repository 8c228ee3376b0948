#pragma once
// The octree colour quantizer and the optimised palette built with it.
//
// Every pixel's colour is inserted into a tree of depth `colorBits` whose node
// at level l is chosen by bit 7 - l of red, green and blue; a leaf collects the
// pixels that reach it. Whenever there are more leaves than colours wanted, the
// most recently created inner node of the deepest level that has one is folded
// into a single leaf. Each leaf then gives one colour: the average of its
// pixels.

#include <cstdint>
#include <vector>

#include "color/dib_rows.hpp"
#include "image/palette.hpp"

namespace tamberlit {

struct TOctreeNode {
    bool Leaf = false;
    // 64 bits: a single leaf may collect every pixel of the largest picture we
    // accept (65535 x 65535), whose channel sums need more than 32 bits.
    uint64_t PixelCount = 0;
    uint64_t RedSum = 0;
    uint64_t GreenSum = 0;
    uint64_t BlueSum = 0;
    uint32_t NextReducible = 0;  // next inner node of the same level; 0 = none
    uint32_t Children[8] = {};   // index = red bit * 4 + green bit * 2 + blue bit; 0 = none
};

class TColorQuantizer {
public:
    // maxColors is kept within 1..256 and colorBits within 1..8.
    TColorQuantizer(int maxColors, int colorBits);
    TColorQuantizer(const TColorQuantizer&) = delete;
    TColorQuantizer& operator=(const TColorQuantizer&) = delete;

    // Every pixel of the rows, top row first, left to right (B, G, R bytes).
    void QuantizeRows(const TDIBReader& rows);
    // One row of width pixels, B, G, R bytes each.
    void QuantizeRow(const uint8_t* pixels, int width);

    // One pixel: the colour goes into the tree, then leaves are folded until
    // there are no more than the maximum.
    void AddColor(uint8_t red, uint8_t green, uint8_t blue);
    // Walks down (creating nodes) to the colour's leaf and counts the pixel
    // there; returns the leaf.
    uint32_t InsertColor(uint8_t red, uint8_t green, uint8_t blue);
    // Folds one inner node into a leaf; false when there is none to fold.
    bool MergeDeepestNode();

    // One entry per leaf (blue, green, red, 0), depth first, children by index.
    std::vector<TRGBQuad> ColorTable() const;

    int LeafCount() const { return static_cast<int>(leafCount_); }
    int MaxColors() const { return maxColors_; }
    int ColorBits() const { return colorBits_; }

private:
    uint32_t NewNode(int level);
    void FreeNode(uint32_t node);
    void CollectLeafColors(uint32_t node, std::vector<TRGBQuad>& table, size_t& position) const;

    std::vector<TOctreeNode> nodes_;  // node 0 is unused: index 0 means "none"
    std::vector<uint32_t> freeNodes_;
    uint32_t root_ = 0;
    uint32_t leafCount_ = 0;
    uint32_t reducible_[8] = {};  // per level, most recently created first
    int maxColors_;
    int colorBits_;
    // The leaf the previous pixel went to, while no fold has happened since:
    // runs of one colour skip the walk down the tree.
    uint32_t lastLeaf_ = 0;
    uint32_t lastColor_ = 0;
};

enum class TSystemColors { Free, Reserved };

// A palette of colorCount entries (kept within 1..256) computed from the image.
// With the system colours reserved the palette has 256 entries: the default
// palette's first ten colours, 236 colours of the image, then its last ten.
// Entries past the colours the image has are black.
HPALETTE BuildOptimizedPalette(const TDIBReader& rows, int colorCount, int colorBits, TSystemColors systemColors);

}  // namespace tamberlit
