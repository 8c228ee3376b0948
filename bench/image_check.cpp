// image_check: does a converted file still hold its source's picture?
//
//   image_check SOURCE OUTPUT [SOURCE OUTPUT]...
//
// Decodes both with bench/image_files (libpng, libjpeg and hand-written TGA and
// BMP readers that know the BITMAPV4/V5 alpha mask other tools write; never
// Tamberlit's own codecs) and prints one tab-separated line per pair:
//
//   OUTPUT  ALPHA  VISIBLE  HIDDEN  ORIENTATION
//
// ALPHA: "kept" (every alpha byte equal), "lost" (the output stores no alpha,
// or only opaque pixels, where the source had some transparency), "changed N"
// (N pixels differ), or "none" (the source has no alpha). VISIBLE: the largest
// difference of a colour sample among pixels that are not fully transparent
// ("0" is exact). HIDDEN: whether the colour of fully transparent pixels
// survived ("kept", "changed", or "-" when there are none). ORIENTATION:
// "upright", or "flipped" when the output matches the source only upside down
// (the figures then describe that match). A pair that cannot
// be compared prints "error" and the reason; the exit status is then 1.
//
//   image_check --mse SOURCE OUTPUT [SOURCE OUTPUT]...
//
// prints instead, per pair, the mean squared error per colour sample over the
// pixels the source shows (alpha 128 or more), as the output decodes them:
//
//   OUTPUT  MSE  PIXELS

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/image_files.hpp"

using namespace tamberlit::bench;

namespace {

struct TComparison {
    size_t AlphaDifferent = 0, HiddenPixels = 0, HiddenChanged = 0;
    bool SourceTranslucent = false, OutputTranslucent = false;
    int Visible = 0;
    bool Exact() const { return AlphaDifferent == 0 && Visible == 0 && HiddenChanged == 0; }
};

// Compares output row y with source row y, or with source row height-1-y.
TComparison CompareRows(const TDecoded& source, const TDecoded& output, bool flipped) {
    const TRawImage& s = source.Image;
    const TRawImage& o = output.Image;
    TComparison result;
    for (uint32_t y = 0; y < s.Height; ++y) {
        const uint8_t* sourceRow = s.Row(flipped ? s.Height - 1 - y : y);
        const uint8_t* outputRow = o.Row(y);
        for (uint32_t x = 0; x < s.Width; ++x) {
            const uint8_t* a = sourceRow + 4 * x;
            const uint8_t* b = outputRow + 4 * x;
            result.SourceTranslucent |= a[3] != 255;
            result.OutputTranslucent |= b[3] != 255;
            result.AlphaDifferent += a[3] != b[3];
            if (source.HasAlpha && a[3] == 0) {
                ++result.HiddenPixels;
                result.HiddenChanged += a[0] != b[0] || a[1] != b[1] || a[2] != b[2];
                continue;
            }
            for (int c = 0; c < 3; ++c) result.Visible = std::max(result.Visible, std::abs(int{a[c]} - int{b[c]}));
        }
    }
    return result;
}

std::string Compare(const TDecoded& source, const TDecoded& output) {
    const TRawImage& s = source.Image;
    const TRawImage& o = output.Image;
    if (s.Width != o.Width || s.Height != o.Height)
        return "error\tsize " + std::to_string(o.Width) + "x" + std::to_string(o.Height) + " instead of " +
               std::to_string(s.Width) + "x" + std::to_string(s.Height);
    TComparison c = CompareRows(source, output, false);
    std::string orientation = "upright";
    if (!c.Exact() && s.Height > 1) {
        // A writer or reader that gets the row order wrong shows as a picture
        // that matches only upside down.
        const TComparison flipped = CompareRows(source, output, true);
        if (flipped.Exact()) {
            c = flipped;
            orientation = "flipped";
        }
    }
    std::string alpha;
    if (!c.AlphaDifferent) alpha = source.HasAlpha ? "kept" : "none";
    else if (!c.SourceTranslucent) alpha = "changed " + std::to_string(c.AlphaDifferent);
    else if (!output.HasAlpha || !c.OutputTranslucent) alpha = "lost";
    else alpha = "changed " + std::to_string(c.AlphaDifferent);
    const std::string hidden = c.HiddenPixels == 0 ? "-" : c.HiddenChanged == 0 ? "kept" : "changed";
    return alpha + "\t" + std::to_string(c.Visible) + "\t" + hidden + "\t" + orientation;
}

// The quality of a reduction to fewer colours (a GIF's): the error it made on
// what a viewer sees of the source.
std::string MeanSquaredError(const TDecoded& source, const TDecoded& output) {
    const TRawImage& s = source.Image;
    const TRawImage& o = output.Image;
    if (s.Width != o.Width || s.Height != o.Height) return "error\tsize differs";
    uint64_t sum = 0, pixels = 0;
    for (uint32_t y = 0; y < s.Height; ++y) {
        const uint8_t* a = s.Row(y);
        const uint8_t* b = o.Row(y);
        for (uint32_t x = 0; x < s.Width; ++x, a += 4, b += 4) {
            if (a[3] < 128) continue;
            ++pixels;
            for (int c = 0; c < 3; ++c) sum += static_cast<uint64_t>((int{a[c]} - int{b[c]}) * (int{a[c]} - int{b[c]}));
        }
    }
    char text[64];
    const double mse = pixels ? static_cast<double>(sum) / (3.0 * static_cast<double>(pixels)) : 0.0;
    std::snprintf(text, sizeof text, "%.3f\t%llu", mse, static_cast<unsigned long long>(pixels));
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const bool mse = argc > 1 && std::string(argv[1]) == "--mse";
    const int first = mse ? 2 : 1;
    if (argc - first < 2 || (argc - first) % 2 != 0) {
        std::fprintf(stderr, "usage: image_check [--mse] SOURCE OUTPUT [SOURCE OUTPUT]...\n");
        return 2;
    }
    int status = 0;
    for (int i = first; i + 1 < argc; i += 2) {
        std::string line;
        try {
            const TDecoded source = ReadImageFile(argv[i]);
            const TDecoded output = ReadImageFile(argv[i + 1]);
            line = mse ? MeanSquaredError(source, output) : Compare(source, output);
        } catch (const std::exception& error) {
            line = std::string("error\t") + error.what();
        }
        if (line.rfind("error", 0) == 0) status = 1;
        std::printf("%s\t%s\n", argv[i + 1], line.c_str());
    }
    return status;
}
