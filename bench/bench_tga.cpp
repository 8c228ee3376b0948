// TGA reading and writing of a 4096 x 4096 32-bit picture in memory, against a
// plain memcpy of the uncompressed file's bytes measured in the same run.
// Prints, after the table, each case's time as a multiple of the memcpy
// (fastest repetition of each). Reading uncompressed data should stay within
// 3x of the copy.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "formats/tga/tga_file.hpp"

using namespace tamberlit;

namespace {

constexpr int Side = 4096;

// A picture with both flat stretches (runs) and busy ones (raw packets): the
// left half in 16-pixel blocks of one colour, the right half varying per pixel.
const TBitmap& Picture() {
    static TBitmap* bitmap = [] {
        auto* picture = new TBitmap();
        picture->NewImage(Side, Side, Px32);
        for (int y = 0; y < Side; ++y) {
            uint8_t* row = picture->RowAddress(y);
            for (int x = 0; x < Side; ++x, row += 4) {
                const unsigned seed = x < Side / 2 ? unsigned(x / 16 + y) : unsigned(x * 7 + y * 13);
                row[0] = uint8_t(seed);
                row[1] = uint8_t(seed >> 3);
                row[2] = uint8_t(seed * 5);
                row[3] = uint8_t(255 - (seed & 63));
            }
        }
        return picture;
    }();
    return *bitmap;
}

std::vector<uint8_t> UncompressedFile() {
    TTGAFile file;
    file.AssignBitmap(const_cast<TBitmap&>(Picture()));
    TMemoryStream stream;
    file.SaveToStream(stream);
    return {stream.Memory(), stream.Memory() + stream.ByteCount()};
}

// Type 10: runs of equal pixels, raw packets for the rest; packets may cross
// row ends, as in the files of many writers.
std::vector<uint8_t> RunLengthFile(const std::vector<uint8_t>& uncompressed) {
    std::vector<uint8_t> out(uncompressed.begin(), uncompressed.begin() + 18);
    out[2] = 10;
    const uint8_t* pixels = uncompressed.data() + 18;
    const size_t count = size_t(Side) * Side;
    auto same = [&](size_t a, size_t b) { return std::memcmp(pixels + 4 * a, pixels + 4 * b, 4) == 0; };
    size_t i = 0;
    while (i < count) {
        size_t run = 1;
        while (i + run < count && run < 128 && same(i, i + run)) ++run;
        if (run > 1) {
            out.push_back(uint8_t(0x80 | (run - 1)));
            out.insert(out.end(), pixels + 4 * i, pixels + 4 * i + 4);
            i += run;
            continue;
        }
        size_t raw = 1;
        while (i + raw < count && raw < 128 && !(i + raw + 1 < count && same(i + raw, i + raw + 1))) ++raw;
        out.push_back(uint8_t(raw - 1));
        out.insert(out.end(), pixels + 4 * i, pixels + 4 * (i + raw));
        i += raw;
    }
    return out;
}

const std::vector<uint8_t>& Uncompressed() {
    static const std::vector<uint8_t> file = UncompressedFile();
    return file;
}

const std::vector<uint8_t>& RunLength() {
    static const std::vector<uint8_t> file = RunLengthFile(Uncompressed());
    return file;
}

void Memcpy(benchmark::State& state) {
    const auto& source = Uncompressed();
    std::vector<uint8_t> target(source.size(), 1);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(source.size()));
}

void Read(benchmark::State& state, const std::vector<uint8_t>& bytes) {
    for (auto _ : state) {
        TTGAFile file;
        TMemoryViewStream stream(bytes.data(), bytes.size());
        file.LoadFromStream(stream);
        benchmark::DoNotOptimize(file.Bitmap.ConstRowAddress(0));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Uncompressed().size()));
}

void ReadUncompressed(benchmark::State& state) { Read(state, Uncompressed()); }
void ReadRunLength(benchmark::State& state) { Read(state, RunLength()); }

// The writer writes uncompressed files only.
void WriteUncompressed(benchmark::State& state) {
    TTGAFile file;
    file.AssignBitmap(const_cast<TBitmap&>(Picture()));
    TMemoryStream stream;
    stream.Reserve(Uncompressed().size());
    for (auto _ : state) {
        file.SaveToStream(stream);
        benchmark::DoNotOptimize(stream.Memory());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Uncompressed().size()));
}

BENCHMARK(Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadUncompressed)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadRunLength)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WriteUncompressed)->Unit(benchmark::kMillisecond)->UseRealTime();

// The console table, then each case against the memcpy of the same run.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const std::string name = run.run_name.function_name;
            const double time = run.GetAdjustedRealTime();
            auto found = fastest_.find(name);
            if (found == fastest_.end() || time < found->second) fastest_[name] = time;
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto baseline = fastest_.find("Memcpy");
        if (baseline == fastest_.end()) return;
        std::printf("\n%zu-byte file (RLE: %zu bytes); fastest repetition against memcpy of %.2f ms:\n",
                    Uncompressed().size(), RunLength().size(), baseline->second);
        for (const auto& [name, time] : fastest_)
            if (name != "Memcpy")
                std::printf("  %-20s %6.2f ms  %5.2fx memcpy\n", name.c_str(), time, time / baseline->second);
    }

private:
    std::map<std::string, double> fastest_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Picture();
    RunLength();
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
