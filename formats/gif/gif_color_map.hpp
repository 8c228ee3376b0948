#pragma once
// The colour tables of a GIF file: TGIFColorMap, a table of 0 to 256 entries,
// and its two forms, the global table of the header and the local table of a
// frame, which differ in whom they report to and whose pixels use them.

#include <cstdint>
#include <string>
#include <vector>

#include "formats/gif/gif_errors.hpp"
#include "formats/gif/gif_reader.hpp"
#include "image/palette.hpp"
#include "image/stream.hpp"

namespace tamberlit {

class TGIFHeader;
class TGIFSubImage;

// One colour table entry, in file order.
struct TGIFColor {
    uint8_t Red = 0;
    uint8_t Green = 0;
    uint8_t Blue = 0;
    friend bool operator==(const TGIFColor&, const TGIFColor&) = default;
};

// A colour table of 0 to 256 entries. Colours outside the table are TColor
// values (0x00BBGGRR).
class TGIFColorMap {
public:
    static constexpr int MaxColors = 256;

    virtual ~TGIFColorMap() = default;
    TGIFColorMap() = default;
    TGIFColorMap(const TGIFColorMap&) = delete;
    TGIFColorMap& operator=(const TGIFColorMap&) = delete;

    int Count() const { return static_cast<int>(entries_.size()); }
    int Capacity() const { return capacity_; }
    const TGIFColor* Data() const { return entries_.data(); }
    const TGIFColor& Entry(int index) const { return entries_[static_cast<size_t>(index)]; }
    // Entries sorted by usage (set by the optimiser when writing); false after loading.
    bool Optimized = false;

    // Entry index as a colour. An index outside the table reports "Invalid
    // color index" and gives entry 0; an empty table raises "Color table is empty".
    TColor Color(int index);
    void SetColor(int index, TColor color);
    // Appends a colour; a full table raises "Color table overflow".
    int Add(TColor color);
    // Removes an entry; an index outside the table raises "Invalid color index".
    void Delete(int index);
    // The index of a colour, or -1: searched forward when the table is
    // optimized (most used first), backward otherwise.
    int IndexOfColor(TColor color) const;
    void Clear();
    // Reads count R, G, B triplets (exact, or "Premature end of data").
    void LoadColors(TGIFReader& reader, int count);
    // Writes the entries as R, G, B triplets, then zero triplets up to
    // 2^BitsPerPixel() entries (a table in the file always has a power of 2).
    void SaveColors(TStream& stream) const;
    // Replaces the entries (at most 256 are kept).
    void Assign(const TGIFColor* colors, int count);

    // Sorts the entries by how many pixels use them, most used first, and
    // marks the table optimized. When the order changes, the pixels (and the
    // transparent index of their frames) follow their colours and entries no
    // pixel uses are dropped. Only for tables of more than one entry.
    void Optimize();

    // 0 for no entries, else the smallest b >= 1 with 2^b >= count.
    static int BitsForColorCount(int count);
    int BitsPerPixel() const { return BitsForColorCount(Count()); }

    virtual void ReportWarning(TGIFSeverity severity, const std::string& message) = 0;
    // The table changed: its owner drops what it built from it.
    virtual void Changed() = 0;
    // For Optimize: adds the number of pixels using each entry to counts, and
    // moves every counted pixel (and transparent index) i to map[i].
    virtual void CountUsage(uint64_t (&counts)[MaxColors]) = 0;
    virtual void Remap(const uint8_t (&map)[MaxColors]) = 0;

protected:
    void GrowFor(int count);

    std::vector<TGIFColor> entries_;
    int capacity_ = 0;
};

// The global colour table, owned by the header.
class TGIFGlobalColorMap : public TGIFColorMap {
public:
    explicit TGIFGlobalColorMap(TGIFHeader& header) : header_(header) {}
    void ReportWarning(TGIFSeverity severity, const std::string& message) override;
    void Changed() override;
    // Over the frames whose active table this is (those without a local table).
    void CountUsage(uint64_t (&counts)[MaxColors]) override;
    void Remap(const uint8_t (&map)[MaxColors]) override;

private:
    TGIFHeader& header_;
};

// The local colour table of a frame.
class TGIFLocalColorMap : public TGIFColorMap {
public:
    explicit TGIFLocalColorMap(TGIFSubImage& frame) : frame_(frame) {}
    void ReportWarning(TGIFSeverity severity, const std::string& message) override;
    void Changed() override;
    void CountUsage(uint64_t (&counts)[MaxColors]) override;
    void Remap(const uint8_t (&map)[MaxColors]) override;

private:
    TGIFSubImage& frame_;
};

inline TColor ToTColor(const TGIFColor& color) { return RGBColor(color.Red, color.Green, color.Blue); }
inline TGIFColor ToGIFColor(TColor color) { return {RedOf(color), GreenOf(color), BlueOf(color)}; }

}  // namespace tamberlit
