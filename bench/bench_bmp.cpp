// BMP reading and writing of a 4096 x 4096 32-bit picture in memory, against
// plain copies of the same bytes measured in the same run.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "image/bitmap.hpp"

using namespace tamberlit;

namespace {

constexpr int Side = 4096;

const std::vector<uint8_t>& FileBytes() {
    static const std::vector<uint8_t> bytes = [] {
        TBitmap bitmap;
        bitmap.NewImage(Side, Side, Px32);
        for (int y = 0; y < Side; ++y) {
            uint8_t* row = bitmap.RowAddress(y);
            for (size_t i = 0; i < bitmap.RowBytes(); ++i) row[i] = static_cast<uint8_t>(i * 7 + y);
        }
        TMemoryStream stream;
        bitmap.SaveToStream(stream);
        return std::vector<uint8_t>(stream.Memory(), stream.Memory() + stream.ByteCount());
    }();
    return bytes;
}

size_t PixelBytes() { return size_t{Side} * Side * 4; }

void SetBytes(benchmark::State& state) { state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(PixelBytes())); }

// Baseline: the pixel bytes copied into memory that is already there.
void BM_Memcpy(benchmark::State& state) {
    const uint8_t* pixels = FileBytes().data() + 54;
    std::vector<uint8_t> target(PixelBytes(), 1);
    for (auto _ : state) {
        std::memcpy(target.data(), pixels, PixelBytes());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}

// Baseline: the same copy into fresh zeroed memory, which a reader must make.
void BM_AllocateAndMemcpy(benchmark::State& state) {
    const uint8_t* pixels = FileBytes().data() + 54;
    for (auto _ : state) {
        auto* target = static_cast<uint8_t*>(std::calloc(PixelBytes(), 1));
        std::memcpy(target, pixels, PixelBytes());
        benchmark::DoNotOptimize(target);
        benchmark::ClobberMemory();
        std::free(target);
    }
    SetBytes(state);
}

void BM_ReadBmp(benchmark::State& state) {
    const auto& bytes = FileBytes();
    for (auto _ : state) {
        TBitmap bitmap;
        TMemoryViewStream stream(bytes.data(), bytes.size());
        bitmap.LoadFromStream(stream);
        benchmark::DoNotOptimize(bitmap.ConstRowAddress(0));
    }
    SetBytes(state);
}

void BM_WriteBmp(benchmark::State& state) {
    TBitmap bitmap;
    TMemoryViewStream source(FileBytes().data(), FileBytes().size());
    bitmap.LoadFromStream(source);
    TMemoryStream stream;
    stream.Reserve(FileBytes().size());
    for (auto _ : state) {
        stream.SetPosition(0);
        bitmap.SaveToStream(stream);
        benchmark::DoNotOptimize(stream.Memory());
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_AllocateAndMemcpy)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ReadBmp)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_WriteBmp)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Keeps the mean time of each benchmark so that the ratios can be printed.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            // The names without the "/min_time:..." suffix.
            const std::string name = run.benchmark_name().substr(0, run.benchmark_name().find('/'));
            realTimes[name] = run.GetAdjustedRealTime();
            cpuTimes[name] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> realTimes, cpuTimes;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    FileBytes();
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // Shared machines: the CPU-time ratio is the steadier one.
    auto ratio = [&](const char* name, const char* baseline) {
        auto& real = reporter.realTimes;
        auto& cpu = reporter.cpuTimes;
        if (real.count(name) && real.count(baseline) && real[baseline] > 0 && cpu[baseline] > 0)
            std::printf("%-11s / %-20s = %.2f real, %.2f CPU\n", name, baseline, real[name] / real[baseline],
                        cpu[name] / cpu[baseline]);
    };
    ratio("BM_ReadBmp", "BM_Memcpy");
    ratio("BM_ReadBmp", "BM_AllocateAndMemcpy");
    ratio("BM_WriteBmp", "BM_Memcpy");
    benchmark::Shutdown();
    return 0;
}
