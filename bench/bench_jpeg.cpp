// Decoding a 4096 x 4096 colour JPEG: TJPEGImage on the dispatcher's road
// (LoadFile, assignment to a TBitmap) against djpeg (libjpeg-turbo-progs) on
// the same file in the same run. Prints two ratios of medians: wall time
// (djpeg's includes starting its process and writing PPM to /dev/null) and
// CPU time (ours against the child's user + system time), which stays
// meaningful when the shared machine is busy.

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "image/bitmap.hpp"
#include "formats/jpeg/jpeg_image.hpp"

extern char** environ;

namespace {

using namespace tamberlit;

constexpr int Side = 4096;

// A photo-like picture: smooth gradients with a little deterministic noise,
// compressed by TJPEGImage at its default quality (90).
void WriteTestFile(const std::string& path) {
    TBitmap bitmap;
    bitmap.NewImage(Side, Side, Px24);
    uint32_t state = 0x12345678;
    for (int y = 0; y < Side; ++y) {
        uint8_t* row = bitmap.RowAddress(y);
        for (int x = 0; x < Side; ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int noise = static_cast<int>(state & 15) - 8;
            row[3 * x] = static_cast<uint8_t>(std::clamp((x + y) / 32 + noise, 0, 255));
            row[3 * x + 1] = static_cast<uint8_t>(std::clamp(y / 16 + noise, 0, 255));
            row[3 * x + 2] = static_cast<uint8_t>(std::clamp(x / 16 + ((x / 64 + y / 64) % 2) * 40 + noise, 0, 255));
        }
    }
    TJPEGImage jpeg;
    jpeg.CopyFrom(&bitmap);
    jpeg.SaveFile(path);
}

void DecodeWithTamberlit(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        TJPEGImage jpeg;
        jpeg.LoadFile(path);
        TBitmap bitmap;
        bitmap.CopyFrom(&jpeg);
        benchmark::DoNotOptimize(bitmap.ConstRowAddress(Side - 1));
    }
}

void DecodeWithDjpeg(benchmark::State& state, const std::string& path) {
    double childSeconds = 0;
    for (auto _ : state) {
        char program[] = "djpeg", outfile[] = "-outfile", null[] = "/dev/null";
        std::string file = path;
        char* arguments[] = {program, outfile, null, file.data(), nullptr};
        pid_t child = 0;
        int status = 0;
        rusage usage{};
        if (posix_spawnp(&child, program, nullptr, nullptr, arguments, environ) != 0 ||
            wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("djpeg failed (install libjpeg-turbo-progs)");
            break;
        }
        childSeconds += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    }
    // Milliseconds per iteration, like the times of the other benchmark.
    state.counters["child_cpu_ms"] = benchmark::Counter(childSeconds * 1e3, benchmark::Counter::kAvgIterations);
}

class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median" || run.error_occurred) continue;
            const std::string& name = run.run_name.function_name;
            wallMedians[name] = run.GetAdjustedRealTime();
            const auto child = run.counters.find("child_cpu_ms");
            cpuMedians[name] = child != run.counters.end() ? child->second.value : run.GetAdjustedCPUTime();
        }
    }
    std::map<std::string, double> wallMedians, cpuMedians;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    char folder[] = "/tmp/tamberlit-bench-jpeg-XXXXXX";
    if (!mkdtemp(folder)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string path = std::string(folder) + "/picture.jpg";
    WriteTestFile(path);
    std::printf("test file: %d x %d, %ju bytes\n", Side, Side,
                static_cast<uintmax_t>(std::filesystem::file_size(path)));

    for (auto* benchmark : {benchmark::RegisterBenchmark("DecodeTamberlit", DecodeWithTamberlit, path),
                            benchmark::RegisterBenchmark("DecodeDjpeg", DecodeWithDjpeg, path)})
        benchmark->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->MinTime(0.5);
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::filesystem::remove_all(folder);

    for (auto [medians, what] : {std::pair{&reporter.wallMedians, "wall"}, std::pair{&reporter.cpuMedians, "CPU"}}) {
        const auto ours = medians->find("DecodeTamberlit");
        const auto baseline = medians->find("DecodeDjpeg");
        if (ours != medians->end() && baseline != medians->end() && baseline->second > 0)
            std::printf("ratio TJPEGImage / djpeg (median %s time): %.2f (%.1f ms / %.1f ms)\n", what,
                        ours->second / baseline->second, ours->second, baseline->second);
    }
    benchmark::Shutdown();
    return 0;
}
