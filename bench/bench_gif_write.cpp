// GIF encoding speed and size against giflib's encoder, on the same pixels in
// the same run: a 2048 x 2048 picture of 256 colours with photo-like content
// (smooth shading, fine noise where a colour-reduced photograph has its
// dithering, flat shapes and edges), written as a whole GIF file to memory
// with our LZW encoder, our run-length encoder, and giflib (EGifPutLine).

#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "formats/gif/gif_image.hpp"
#include "image/stream.hpp"

using namespace tamberlit;

namespace {

constexpr int side = 2048;

std::vector<uint8_t> MakePixels() {
    std::vector<uint8_t> pixels(static_cast<size_t>(side) * side);
    uint32_t noise = 12345;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            noise = noise * 1664525u + 1013904223u;
            // Smooth shading over the whole picture.
            double value = 96 + 60 * std::sin(x / 190.0) * std::cos(y / 260.0) + 40 * std::sin((x + y) / 410.0);
            // Fine noise in the lower half, as dithering leaves it.
            if (y >= side / 2) value += static_cast<double>((noise >> 24) % 7) - 3;
            uint8_t index = static_cast<uint8_t>(std::clamp(value, 0.0, 191.0));
            // Flat shapes with hard edges on top, in their own colours.
            const int cx = x % 512 - 256, cy = y % 512 - 256;
            if (cx * cx + cy * cy < 90 * 90) index = static_cast<uint8_t>(192 + ((x / 512 + y / 512 * 4) % 32));
            if ((x / 64 + y / 64) % 9 == 0 && y < side / 2) index = static_cast<uint8_t>(224 + (x / 64) % 32);
            pixels[static_cast<size_t>(y) * side + static_cast<size_t>(x)] = index;
        }
    }
    return pixels;
}

const std::vector<uint8_t>& Pixels() {
    static const std::vector<uint8_t> pixels = MakePixels();
    return pixels;
}

GifColorType PaletteColor(int i) {
    return {static_cast<GifByteType>(i), static_cast<GifByteType>(255 - i), static_cast<GifByteType>(i * 7)};
}

// ---- giflib

struct TMemory {
    std::vector<uint8_t> bytes;
    size_t position = 0;
};

int WriteToMemory(GifFileType* gif, const GifByteType* data, int count) {
    auto* memory = static_cast<TMemory*>(gif->UserData);
    memory->bytes.insert(memory->bytes.end(), data, data + count);
    return count;
}

int ReadFromMemory(GifFileType* gif, GifByteType* data, int count) {
    auto* memory = static_cast<TMemory*>(gif->UserData);
    const size_t take = std::min(static_cast<size_t>(count), memory->bytes.size() - memory->position);
    std::memcpy(data, memory->bytes.data() + memory->position, take);
    memory->position += take;
    return static_cast<int>(take);
}

std::vector<uint8_t> EncodeWithGiflib(const std::vector<uint8_t>& pixels) {
    TMemory memory;
    memory.bytes.reserve(pixels.size());
    int error = 0;
    GifFileType* gif = EGifOpen(&memory, WriteToMemory, &error);
    if (!gif) throw std::runtime_error("EGifOpen failed");
    GifColorType colors[256];
    for (int i = 0; i < 256; ++i) colors[i] = PaletteColor(i);
    ColorMapObject* map = GifMakeMapObject(256, colors);
    bool ok = EGifPutScreenDesc(gif, side, side, 8, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, side, side, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < side; ++y)
        ok = EGifPutLine(gif, const_cast<GifPixelType*>(pixels.data() + static_cast<size_t>(y) * side), side) == GIF_OK;
    GifFreeMapObject(map);
    if (EGifCloseFile(gif, &error) != GIF_OK || !ok) throw std::runtime_error("giflib could not encode");
    return std::move(memory.bytes);
}

std::vector<uint8_t> DecodeWithGiflib(const std::vector<uint8_t>& file) {
    TMemory memory{file, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&memory, ReadFromMemory, &error);
    if (!gif || DGifSlurp(gif) != GIF_OK) throw std::runtime_error("giflib could not decode");
    const SavedImage& frame = gif->SavedImages[0];
    std::vector<uint8_t> pixels(frame.RasterBits, frame.RasterBits + static_cast<size_t>(side) * side);
    DGifCloseFile(gif, &error);
    return pixels;
}

// ---- ours

// The image with one frame of the pixels; built once, outside the timing, as
// giflib's input is the pixel block itself.
TGIFImage& Image() {
    static TGIFImage* image = [] {
        auto* made = new TGIFImage;
        std::vector<TGIFColor> colors(256);
        for (int i = 0; i < 256; ++i) {
            const GifColorType color = PaletteColor(i);
            colors[static_cast<size_t>(i)] = {color.Red, color.Green, color.Blue};
        }
        made->GlobalColorMap().Assign(colors.data(), 256);
        auto frame = std::make_unique<TGIFSubImage>(*made);
        frame->SetBounds(0, 0, side, side);
        std::memcpy(frame->Data(), Pixels().data(), Pixels().size());
        made->Images().Add(std::move(frame));
        return made;
    }();
    return *image;
}

std::vector<uint8_t> EncodeWithTamberlit(int compression) {
    TGIFImage& image = Image();
    image.Compression = compression;
    TMemoryStream stream;
    stream.Reserve(Pixels().size());
    image.SaveToStream(stream);
    return std::vector<uint8_t>(stream.Memory(), stream.Memory() + stream.ByteCount());
}

std::vector<uint8_t> DecodeWithTamberlit(const std::vector<uint8_t>& file) {
    TGIFImage image;
    TMemoryViewStream stream(file.data(), file.size());
    image.LoadFromStream(stream);
    TGIFSubImage& frame = image.Images()[0];
    return std::vector<uint8_t>(frame.Data(), frame.Data() + frame.DataSize());
}

void BM_TamberlitLZW(benchmark::State& state) {
    TGIFImage& image = Image();
    image.Compression = 0;
    for (auto _ : state) {
        TMemoryStream stream;
        stream.Reserve(Pixels().size());
        image.SaveToStream(stream);
        benchmark::DoNotOptimize(stream.Memory());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * side * side);
}

void BM_TamberlitRLE(benchmark::State& state) {
    TGIFImage& image = Image();
    image.Compression = 1;
    for (auto _ : state) {
        TMemoryStream stream;
        stream.Reserve(Pixels().size());
        image.SaveToStream(stream);
        benchmark::DoNotOptimize(stream.Memory());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * side * side);
}

void BM_GiflibEncode(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(EncodeWithGiflib(Pixels()).data());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * side * side);
}

BENCHMARK(BM_TamberlitLZW)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TamberlitRLE)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_GiflibEncode)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Keeps each benchmark's times per iteration for the ratios.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                times[run.benchmark_name()] = {run.GetAdjustedCPUTime(), run.GetAdjustedRealTime()};
    }
    struct TTimes {
        double cpu, real;
    };
    std::map<std::string, TTimes> times;
};

}  // namespace

int main(int argc, char** argv) {
    const std::vector<uint8_t> giflib = EncodeWithGiflib(Pixels());
    const std::vector<uint8_t> lzw = EncodeWithTamberlit(0);
    const std::vector<uint8_t> rle = EncodeWithTamberlit(1);
    for (const auto* file : {&giflib, &lzw, &rle}) {
        if (DecodeWithGiflib(*file) != Pixels() || DecodeWithTamberlit(*file) != Pixels()) {
            std::fprintf(stderr, "bench_gif_write: a file does not decode to the pixels encoded\n");
            return 1;
        }
    }
    std::printf("Picture: %d x %d, 256 colours. File sizes: giflib %zu bytes, our LZW %zu, our RLE %zu\n", side, side,
                giflib.size(), lzw.size(), rle.size());
    std::printf("Size / giflib's: LZW %.3f, RLE %.3f\n", double(lzw.size()) / double(giflib.size()),
                double(rle.size()) / double(giflib.size()));

    benchmark::Initialize(&argc, argv);
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const auto theirs = reporter.times.find("BM_GiflibEncode/min_time:2.000");
    // CPU time is the measure that holds on a shared machine; wall-clock time
    // is shown beside it.
    for (const char* name : {"BM_TamberlitLZW", "BM_TamberlitRLE"}) {
        const auto ours = reporter.times.find(std::string(name) + "/min_time:2.000");
        if (ours != reporter.times.end() && theirs != reporter.times.end())
            std::printf("%s: time / giflib's %.2f in CPU time, %.2f in wall-clock time\n", name,
                        ours->second.cpu / theirs->second.cpu, ours->second.real / theirs->second.real);
    }
    return 0;
}
