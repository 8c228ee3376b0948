#pragma once
// Helpers shared by the tests: temporary folders, byte builders, synthetic
// pictures, SHA-256, and the corpus manifest.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "image/bitmap.hpp"

namespace tamberlit::testing {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
class TTempFolder {
public:
    TTempFolder();
    ~TTempFolder();
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Little-endian byte builder for hand-made files.
class TBytes {
public:
    TBytes& U8(unsigned value);
    TBytes& U16(unsigned value);
    TBytes& U32(uint32_t value);
    TBytes& I32(int32_t value);
    TBytes& Text(const std::string& text);
    TBytes& Fill(size_t count, uint8_t value);
    TBytes& Append(const std::vector<uint8_t>& bytes);
    const std::vector<uint8_t>& Data() const { return data_; }
    std::vector<uint8_t>& Data() { return data_; }
    size_t Size() const { return data_.size(); }

private:
    std::vector<uint8_t> data_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

std::string Sha256Hex(const uint8_t* data, size_t size);
inline std::string Sha256Hex(const std::vector<uint8_t>& bytes) { return Sha256Hex(bytes.data(), bytes.size()); }

// Synthetic pictures. PaintRowBytes gives byte i of row y (row 0 at the top)
// the value byteAt(i, y), for the bytes the row's pixels occupy (the padding
// stays as it is), rows top to bottom and each row's bytes in order: a
// generator that keeps state sees the bytes one after the other.
template <typename ByteAt>
void PaintRowBytes(TBitmap& bitmap, ByteAt byteAt) {
    const size_t rowBytes = (static_cast<size_t>(bitmap.Width()) * BitCountOf(bitmap.PixelFormat()) + 7) / 8;
    for (int y = 0; y < bitmap.Height(); ++y) {
        uint8_t* row = bitmap.RowAddress(y);
        for (size_t i = 0; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(byteAt(i, y));
    }
}

// Makes bitmap a new width x height picture of format (8 bits per pixel or
// more) and gives byte `channel` of pixel (x, y) the value byteAt(x, y,
// channel): blue, green, red (, alpha) for Px24 and Px32. Same order as above.
template <typename ByteAt>
void PaintPixels(TBitmap& bitmap, int width, int height, TPixelFormat format, ByteAt byteAt) {
    bitmap.NewImage(width, height, format);
    const size_t pixelBytes = static_cast<size_t>(BitCountOf(format) / 8);
    PaintRowBytes(bitmap, [&](size_t i, int y) {
        return byteAt(static_cast<int>(i / pixelBytes), y, static_cast<int>(i % pixelBytes));
    });
}

// The picture of a Px24 or Px32 bitmap (others are converted on a copy) as
// R, G, B, A bytes, top row first; A = 255 unless the bitmap is Px32.
std::vector<uint8_t> RgbaPixels(const TBitmap& bitmap);
// The same without alpha: R, G, B.
std::vector<uint8_t> RgbPixels(const TBitmap& bitmap);

// One row of the corpus manifest (expected.tsv).
struct TCorpusEntry {
    std::string Path;  // relative to the corpus folder
    std::map<std::string, std::string> Fields;
    std::string Get(const std::string& column) const;
};

// One run of tamberlit-cli: what it said and what it cost the whole process.
struct TCliRun {
    int ExitCode = -1;
    std::string Output;  // standard output and standard error
    double Seconds = 0;
    int64_t PeakResidentBytes = 0;
};

// Runs tamberlit-cli with the arguments and input on its standard input,
// measuring its wall time and the peak resident size of the process (wait4's
// ru_maxrss).
TCliRun RunCliMeasured(const std::vector<std::string>& arguments, const std::string& input = "");

// A graphic of a class no codec knows, empty: what a picture may be assigned
// to, or taken from, only through the other side's AssignTo.
class TOtherGraphic : public TGraphic {
public:
    const char* ClassName() const override { return "TOtherGraphic"; }
    bool Empty() const override { return true; }
    int Width() const override { return 0; }
    int Height() const override { return 0; }
    void SetWidth(int) override {}
    void SetHeight(int) override {}
    void LoadFromStream(TStream&) override {}
    void SaveToStream(TStream&) override {}
};

std::string CorpusFolder();
bool CorpusAvailable();
// Rows whose path starts with prefix ("tga/"), in manifest order.
std::vector<TCorpusEntry> CorpusEntries(const std::string& prefix);

}  // namespace tamberlit::testing
