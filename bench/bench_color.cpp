// Colour reduction on a 2048 x 2048 24-bit picture: the optimised palette
// (octree, 256 colours) and Floyd-Steinberg dithering to the 216-colour cube,
// each against a plain copy of the same pixels measured in the same run.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "color/color_lookup.hpp"
#include "color/dib_rows.hpp"
#include "color/dither.hpp"
#include "color/quantizer.hpp"
#include "color/reduce.hpp"
#include "image/bitmap.hpp"

using namespace tamberlit;

namespace {

constexpr int Side = 2048;

// Smooth value noise with several octaves: soft shapes and fine texture.
class TNoise {
public:
    explicit TNoise(uint32_t seed) {
        std::mt19937 random(seed);
        for (auto& v : lattice_) v = float(random() % 1024) / 1023.0f;
    }
    float At(float x, float y) const {
        float sum = 0, amplitude = 0.5f, frequency = 1.0f / 256;
        for (int octave = 0; octave < 6; ++octave, amplitude *= 0.5f, frequency *= 2)
            sum += amplitude * Smooth(x * frequency, y * frequency);
        return sum;
    }

private:
    float Smooth(float x, float y) const {
        const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
        const float fx = x - float(x0), fy = y - float(y0);
        const float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
        auto v = [&](int i, int j) { return lattice_[size_t(((i & 63) * 64 + (j & 63)))]; };
        const float top = v(x0, y0) + sx * (v(x0 + 1, y0) - v(x0, y0));
        const float bottom = v(x0, y0 + 1) + sx * (v(x0 + 1, y0 + 1) - v(x0, y0 + 1));
        return top + sy * (bottom - top);
    }
    float lattice_[64 * 64];
};

uint8_t Byte(float value) { return uint8_t(std::lround(std::fmin(255.0f, std::fmax(0.0f, value)))); }

// A landscape-like picture: a sky gradient with clouds above, textured hills
// in greens and browns below, a lit disc, and a little sensor noise.
TBitmap& Picture() {
    static TBitmap& bitmap = *[] {
        auto* owned = new TBitmap;  // lives until the program ends
        TBitmap& b = *owned;
        b.NewImage(Side, Side, Px24);
        const TNoise clouds(1), ground(2), detail(3);
        std::mt19937 random(4);
        for (int y = 0; y < Side; ++y) {
            uint8_t* row = b.RowAddress(y);
            for (int x = 0; x < Side; ++x) {
                const float fx = float(x), fy = float(y);
                const float horizon = 900 + 200 * ground.At(fx * 0.5f, 0);
                float r, g, bl;
                if (fy < horizon) {
                    const float t = fy / horizon;
                    const float c = std::fmax(0.0f, clouds.At(fx, fy * 2) - 0.45f) * 3;
                    r = 70 + 90 * t + 180 * c;
                    g = 120 + 80 * t + 170 * c;
                    bl = 210 + 30 * t + 40 * c;
                } else {
                    const float n = ground.At(fx, fy), d = detail.At(fx * 4, fy * 4);
                    const float shade = 0.5f + 0.8f * n;
                    r = (60 + 90 * d) * shade;
                    g = (90 + 70 * n) * shade;
                    bl = (30 + 40 * d) * shade;
                }
                const float dx = fx - 1500, dy = fy - 500, dist = std::sqrt(dx * dx + dy * dy);
                if (dist < 160) {
                    const float glow = 1 - dist / 160;
                    r += 120 * glow, g += 100 * glow, bl += 40 * glow;
                }
                const float grain = float(int(random() % 7) - 3);
                row[3 * x] = Byte(bl + grain);
                row[3 * x + 1] = Byte(g + grain);
                row[3 * x + 2] = Byte(r + grain);
            }
        }
        return owned;
    }();
    return bitmap;
}

void PlainCopy(benchmark::State& state) {
    const TBitmap& picture = Picture();
    std::vector<uint8_t> target(picture.RowBytes() * Side);
    for (auto _ : state) {
        for (int y = 0; y < Side; ++y)
            std::memcpy(&target[picture.RowBytes() * size_t(y)], picture.ConstRowAddress(y), picture.RowBytes());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
}

// The octree palette alone.
void OptimizedPalette(benchmark::State& state) {
    TBitmap picture;
    picture.CopyFrom(&Picture());
    const TDIBReader rows(picture, Px24);
    for (auto _ : state) benchmark::DoNotOptimize(BuildOptimizedPalette(rows, 256, 8, TSystemColors::Free));
}

// The whole reduction: palette, then nearest colour through it.
void ReduceOptimized(benchmark::State& state) {
    TBitmap picture;
    picture.CopyFrom(&Picture());
    for (auto _ : state) benchmark::DoNotOptimize(ReduceBitmapColors(picture, rmOptimized, dmNearest, 8));
}

void ReduceOptimizedFloydSteinberg(benchmark::State& state) {
    TBitmap picture;
    picture.CopyFrom(&Picture());
    for (auto _ : state) benchmark::DoNotOptimize(ReduceBitmapColors(picture, rmOptimized, dmFloydSteinberg, 8));
}

void ReduceNetscapeFloydSteinberg(benchmark::State& state) {
    TBitmap picture;
    picture.CopyFrom(&Picture());
    for (auto _ : state) benchmark::DoNotOptimize(ReduceBitmapColors(picture, rmNetscape, dmFloydSteinberg, 8));
}

BENCHMARK(PlainCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(OptimizedPalette)->Unit(benchmark::kMillisecond);
BENCHMARK(ReduceOptimized)->Unit(benchmark::kMillisecond);
BENCHMARK(ReduceOptimizedFloydSteinberg)->Unit(benchmark::kMillisecond);
BENCHMARK(ReduceNetscapeFloydSteinberg)->Unit(benchmark::kMillisecond);

// Keeps each benchmark's processor time per iteration for the ratios: on a
// shared machine the wall-clock time mostly measures the other users.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
                seconds[run.benchmark_name()] = run.cpu_accumulated_time / double(run.iterations);
                order.push_back(run.benchmark_name());
            }
    }
    std::map<std::string, double> seconds;
    std::vector<std::string> order;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Picture();  // made once, outside the timings
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto baseline = reporter.seconds.find("PlainCopy");
    if (baseline == reporter.seconds.end()) return 0;
    std::printf("\n2048 x 2048 x 24 bits; processor time relative to a plain copy of the pixels (%.2f ms):\n",
                baseline->second * 1e3);
    for (const std::string& name : reporter.order) {
        if (name == "PlainCopy") continue;
        const double seconds = reporter.seconds[name];
        std::printf("  %-32s %8.1f x   (%.1f ms, %.1f ns per pixel)\n", name.c_str(), seconds / baseline->second,
                    seconds * 1e3, seconds * 1e9 / (double(Side) * Side));
    }
    benchmark::Shutdown();
    return 0;
}
