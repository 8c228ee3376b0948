// GIF decoding speed against giflib's decoder, on the same file in the same run.
// The file is made here, deterministically, with giflib's encoder: a 2048 x 2048
// picture of 256 colours with photo-like content (smooth shading, fine noise
// where a colour-reduced photograph has its dithering, flat shapes and edges),
// so that LZW strings have the lengths real pictures give.

#include <benchmark/benchmark.h>
#include <gif_lib.h>

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

std::vector<uint8_t> EncodeWithGiflib(const std::vector<uint8_t>& pixels) {
    TMemory memory;
    int error = 0;
    GifFileType* gif = EGifOpen(&memory, WriteToMemory, &error);
    if (!gif) throw std::runtime_error("EGifOpen failed");
    GifColorType colors[256];
    for (int i = 0; i < 256; ++i)
        colors[i] = {static_cast<GifByteType>(i), static_cast<GifByteType>(255 - i), static_cast<GifByteType>(i * 7)};
    ColorMapObject* map = GifMakeMapObject(256, colors);
    bool ok = EGifPutScreenDesc(gif, side, side, 8, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, side, side, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < side; ++y)
        ok = EGifPutLine(gif, const_cast<GifPixelType*>(pixels.data() + static_cast<size_t>(y) * side), side) == GIF_OK;
    GifFreeMapObject(map);
    if (EGifCloseFile(gif, &error) != GIF_OK || !ok) throw std::runtime_error("giflib could not encode");
    return memory.bytes;
}

const std::vector<uint8_t>& Pixels() {
    static const std::vector<uint8_t> pixels = MakePixels();
    return pixels;
}

const std::vector<uint8_t>& File() {
    static const std::vector<uint8_t> file = EncodeWithGiflib(Pixels());
    return file;
}

std::vector<uint8_t> DecodeWithTamberlit(const std::vector<uint8_t>& file) {
    TGIFImage image;
    TMemoryViewStream stream(file.data(), file.size());
    image.LoadFromStream(stream);
    TGIFSubImage& frame = image.Images()[0];
    return std::vector<uint8_t>(frame.Data(), frame.Data() + frame.DataSize());
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

void BM_TamberlitDecode(benchmark::State& state) {
    const auto& file = File();
    for (auto _ : state) {
        TGIFImage image;
        TMemoryViewStream stream(file.data(), file.size());
        image.LoadFromStream(stream);
        benchmark::DoNotOptimize(image.Images()[0].Data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * side * side);
}

void BM_GiflibDecode(benchmark::State& state) {
    const auto& file = File();
    for (auto _ : state) {
        // The file is read from memory by both decoders; giflib keeps a copy
        // here only because its reader needs a position of its own.
        TMemory memory{file, 0};
        int error = 0;
        GifFileType* gif = DGifOpen(&memory, ReadFromMemory, &error);
        DGifSlurp(gif);
        benchmark::DoNotOptimize(gif->SavedImages[0].RasterBits);
        DGifCloseFile(gif, &error);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * side * side);
}

// Load, hand over to a bitmap and bring it to 24 bits, as the converter does.
void BM_TamberlitToBitmap(benchmark::State& state) {
    const auto& file = File();
    for (auto _ : state) {
        TGIFImage image;
        TMemoryViewStream stream(file.data(), file.size());
        image.LoadFromStream(stream);
        TBitmap bitmap;
        bitmap.CopyFrom(&image);
        bitmap.SetPixelFormat(Px24);
        benchmark::DoNotOptimize(bitmap.ConstRowAddress(0));
    }
}

BENCHMARK(BM_TamberlitDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_GiflibDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TamberlitToBitmap)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Keeps each benchmark's times per iteration for the ratio.
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
    const auto& file = File();
    if (DecodeWithTamberlit(file) != Pixels() || DecodeWithGiflib(file) != Pixels()) {
        std::fprintf(stderr, "bench_gif: the decoders do not give the encoded pixels\n");
        return 1;
    }
    std::printf("GIF file: %d x %d, 256 colours, %zu bytes (%.1f%% of the pixels)\n", side, side, file.size(),
                100.0 * static_cast<double>(file.size()) / (double(side) * side));
    benchmark::Initialize(&argc, argv);
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const auto ours = reporter.times.find("BM_TamberlitDecode/min_time:2.000");
    const auto theirs = reporter.times.find("BM_GiflibDecode/min_time:2.000");
    // CPU time is the measure that holds on a shared machine; wall-clock time
    // is shown beside it.
    if (ours != reporter.times.end() && theirs != reporter.times.end())
        std::printf(
            "GIF decoding speed, giflib's time / ours: %.2f in CPU time, %.2f in wall-clock time "
            "(aim: 1.5 or better)\n",
            theirs->second.cpu / ours->second.cpu, theirs->second.real / ours->second.real);
    return 0;
}
