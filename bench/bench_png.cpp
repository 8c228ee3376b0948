// PNG read and write speed of TPNGBitmap against a minimal program that calls
// libpng directly with the same settings, measured in the same run.
//
// The picture is 2048 x 2048 RGBA of the kind the converter meets: gradients,
// soft-edged alpha masks and a little noise (deterministic). Both sides read
// the same file and write to files in the same folder. The repetitions of the
// four benchmarks are interleaved at random, and the ratios printed at the end
// are ours / libpng's over the fastest repetition of each (the one least
// disturbed by other work on a shared machine), in CPU time (the work itself,
// whatever else runs) and in wall-clock time (file system included).

#include <benchmark/benchmark.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "formats/png/png_bitmap.hpp"

using namespace tamberlit;

namespace {

constexpr int Side = 2048;

std::filesystem::path BenchFolder() {
    static const std::filesystem::path folder = [] {
        auto path = std::filesystem::temp_directory_path() / ("tamberlit-bench-png-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

std::string InputPath() { return (BenchFolder() / "input.png").string(); }

// B, G, R, A rows, top row first, as a Px32 bitmap holds them.
void MakePicture(TBitmap& bitmap) {
    bitmap.NewImage(Side, Side, Px32);
    uint32_t noise = 12345;
    struct Mask {
        double x, y, inner, outer;
    } masks[] = {{600, 700, 250, 420}, {1500, 500, 100, 380}, {1200, 1500, 300, 330}, {400, 1700, 50, 260}};
    for (int y = 0; y < Side; ++y) {
        uint8_t* row = bitmap.RowAddress(y);
        for (int x = 0; x < Side; ++x, row += 4) {
            double alpha = 0;
            for (const Mask& mask : masks) {
                const double distance = std::hypot(x - mask.x, y - mask.y);
                alpha = std::max(alpha, std::clamp((mask.outer - distance) / (mask.outer - mask.inner), 0.0, 1.0));
            }
            noise = noise * 1664525u + 1013904223u;
            const int grain = static_cast<int>(noise >> 29) - 4;  // -4..3
            auto channel = [grain](int value) { return static_cast<uint8_t>(std::clamp(value + grain, 0, 255)); };
            row[0] = channel((x + y) / 16);
            row[1] = channel(y / 8);
            row[2] = channel(x / 8);
            row[3] = static_cast<uint8_t>(std::lround(alpha * 255));
        }
    }
}

// ---- the baseline: libpng called directly, with the settings of our codec

struct TPlainJob {
    FILE* file = nullptr;
    png_bytepp rows = nullptr;
    png_uint_32 width = 0, height = 0;
    size_t rowBytes = 0;
    int colorType = 0, bitDepth = 0;
    bool alpha = false;
};

bool PlainWrite(png_structp png, png_infop info, TPlainJob* job) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, job->file);
    png_set_IHDR(png, info, job->width, job->height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_text text{};
    text.compression = PNG_TEXT_COMPRESSION_NONE;
    text.key = const_cast<png_charp>("Software");
    text.text = const_cast<png_charp>("Quorrin Orvanel");
    png_set_text(png, info, &text, 1);
    png_write_info(png, info);
    png_set_bgr(png);
    png_write_image(png, job->rows);
    png_write_end(png, info);
    return true;
}

bool PlainWriteFile(const std::string& path, png_bytepp rows) {
    TPlainJob job;
    job.file = std::fopen(path.c_str(), "wb");
    if (!job.file) return false;
    job.rows = rows;
    job.width = job.height = Side;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    const bool ok = PlainWrite(png, info, &job);
    png_destroy_write_struct(&png, &info);
    return std::fclose(job.file) == 0 && ok;
}

bool PlainReadHeader(png_structp png, png_infop info, TPlainJob* job) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, job->file);
    png_read_info(png, info);
    job->width = png_get_image_width(png, info);
    job->height = png_get_image_height(png, info);
    job->bitDepth = png_get_bit_depth(png, info);
    job->colorType = png_get_color_type(png, info);
    job->alpha = (job->colorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    png_set_expand(png);
    if (job->bitDepth == 16) png_set_strip_16(png);
    if ((job->colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    job->rowBytes = png_get_rowbytes(png, info);
    return true;
}

bool PlainReadRows(png_structp png, TPlainJob* job) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, job->rows);
    return true;
}

bool PlainReadFile(const std::string& path, std::vector<uint8_t>& pixels, std::vector<png_bytep>& rows) {
    TPlainJob job;
    job.file = std::fopen(path.c_str(), "rb");
    if (!job.file) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    bool ok = PlainReadHeader(png, info, &job);
    if (ok) {
        pixels.resize(job.rowBytes * job.height);
        rows.resize(job.height);
        for (png_uint_32 y = 0; y < job.height; ++y) rows[y] = pixels.data() + y * job.rowBytes;
        job.rows = rows.data();
        ok = PlainReadRows(png, &job);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(job.file);
    return ok;
}

// ---- the benchmarks

TPNGBitmap& Picture() {
    static TPNGBitmap* picture = [] {
        auto* bitmap = new TPNGBitmap();
        MakePicture(*bitmap);
        bitmap->SaveFile(InputPath());
        return bitmap;
    }();
    return *picture;
}

void ReadLibpng(benchmark::State& state) {
    Picture();
    for (auto _ : state) {
        // Fresh memory each time, as a decoder gets it.
        std::vector<uint8_t> pixels;
        std::vector<png_bytep> rows;
        if (!PlainReadFile(InputPath(), pixels, rows)) state.SkipWithError("libpng read failed");
        benchmark::DoNotOptimize(pixels.data());
    }
}

void ReadOurs(benchmark::State& state) {
    Picture();
    for (auto _ : state) {
        TPNGBitmap bitmap;
        bitmap.LoadFile(InputPath());
        benchmark::DoNotOptimize(bitmap.ConstRowAddress(0));
    }
}

void WriteLibpng(benchmark::State& state) {
    TPNGBitmap& picture = Picture();
    std::vector<png_bytep> rows(Side);
    for (int y = 0; y < Side; ++y) rows[static_cast<size_t>(y)] = const_cast<png_bytep>(picture.ConstRowAddress(y));
    const std::string path = (BenchFolder() / "libpng.png").string();
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(path);
        state.ResumeTiming();
        if (!PlainWriteFile(path, rows.data())) state.SkipWithError("libpng write failed");
    }
}

void WriteOurs(benchmark::State& state) {
    TPNGBitmap& picture = Picture();
    const std::string path = (BenchFolder() / "ours.png").string();
    for (auto _ : state) {
        // The converter deletes an old target before it saves.
        state.PauseTiming();
        std::filesystem::remove(path);
        state.ResumeTiming();
        picture.SaveFile(path);
    }
}

constexpr int Repetitions = 5;

BENCHMARK(ReadLibpng)->Unit(benchmark::kMillisecond)->Repetitions(Repetitions)->Iterations(4);
BENCHMARK(ReadOurs)->Unit(benchmark::kMillisecond)->Repetitions(Repetitions)->Iterations(4);
BENCHMARK(WriteLibpng)->Unit(benchmark::kMillisecond)->Repetitions(Repetitions)->Iterations(2);
BENCHMARK(WriteOurs)->Unit(benchmark::kMillisecond)->Repetitions(Repetitions)->Iterations(2);

struct TFastest {
    double Cpu = 1e300;
    double Real = 1e300;
};

// Prints as usual and keeps the fastest repetition of each benchmark.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            TFastest& entry = fastest[run.run_name.function_name];
            entry.Cpu = std::min(entry.Cpu, run.GetAdjustedCPUTime());
            entry.Real = std::min(entry.Real, run.GetAdjustedRealTime());
        }
    }
    std::map<std::string, TFastest> fastest;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> arguments(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave.data());
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* ours, const char* baseline) {
        const auto a = reporter.fastest.find(ours), b = reporter.fastest.find(baseline);
        if (a == reporter.fastest.end() || b == reporter.fastest.end()) return;
        const TFastest& us = a->second;
        const TFastest& them = b->second;
        std::printf("%-9s ours / libpng: CPU %.3f (%.1f / %.1f ms), wall clock %.3f (%.1f / %.1f ms)\n", ours,
                    us.Cpu / them.Cpu, us.Cpu, them.Cpu, us.Real / them.Real, us.Real, them.Real);
    };
    std::printf("\nFastest of %d repetitions:\n", Repetitions);
    ratio("ReadOurs", "ReadLibpng");
    ratio("WriteOurs", "WriteLibpng");
    std::error_code ignored;
    std::filesystem::remove_all(BenchFolder(), ignored);
    benchmark::Shutdown();
    return 0;
}
