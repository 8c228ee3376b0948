#include "tests/hostile/hostile_support.hpp"

#include <cxxabi.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <typeinfo>

#include "formats/gif/gif_image.hpp"
#include "formats/png/png_bitmap.hpp"
#include "formats/png/png_reader.hpp"
#include "formats/tga/tga_file.hpp"
#include "image/bmp_fallback.hpp"
#include "image/exceptions.hpp"
#include "convert/image_format_conversions.hpp"
#include "formats/jpeg/jpeg_image.hpp"
#include "image/limits.hpp"

namespace tamberlit::testing::hostile {

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif

// The class of an exception without its namespace.
std::string ClassOf(const std::exception& error) {
    const char* mangled = typeid(error).name();
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                          &std::free);
    std::string name = status == 0 && demangled ? demangled.get() : mangled;
    const size_t colons = name.rfind("::");
    return colons == std::string::npos ? name : name.substr(colons + 2);
}

// A field of /proc/self/status in bytes ("VmRSS:  1234 kB"), -1 without it.
int64_t StatusBytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, field.size() + 1, field + ":") != 0) continue;
        return std::strtoll(line.c_str() + field.size() + 1, nullptr, 10) * 1024;
    }
    return -1;
}

bool ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

std::unique_ptr<TGraphic> MakeGraphic(TReader reader) {
    switch (reader) {
        case TReader::TGA: return std::make_unique<TTGABitmap>();
        case TReader::BMP:
        case TReader::BMPLenient: return std::make_unique<TBitmap>();
        case TReader::GIF: return std::make_unique<TGIFImage>();
        case TReader::GIFFirstFrame: {
            auto gif = std::make_unique<TGIFImage>();
            gif->FirstFrameOnly = true;
            return gif;
        }
        case TReader::PNG: return std::make_unique<TPNGBitmap>();
        case TReader::JPEG: return std::make_unique<TJPEGImage>();
    }
    return nullptr;
}

TOutcome OutcomeOf(const TBitmap& bitmap) { return Loaded(bitmap.Width(), bitmap.Height(), bitmap.PixelFormat()); }

}  // namespace

const char* ReaderName(TReader reader) {
    switch (reader) {
        case TReader::TGA: return "TGA";
        case TReader::BMP: return "BMP";
        case TReader::BMPLenient: return "BMP (lenient)";
        case TReader::GIF: return "GIF";
        case TReader::GIFFirstFrame: return "GIF (first frame)";
        case TReader::PNG: return "PNG";
        case TReader::JPEG: return "JPEG";
    }
    return "?";
}

const char* ReaderExtension(TReader reader) {
    switch (reader) {
        case TReader::TGA: return ".tga";
        case TReader::BMP:
        case TReader::BMPLenient: return ".bmp";
        case TReader::GIF:
        case TReader::GIFFirstFrame: return ".gif";
        case TReader::PNG: return ".png";
        case TReader::JPEG: return ".jpg";
    }
    return "";
}

std::string TooLarge(int64_t width, int64_t height) {
    return "Image too large: " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels exceeds the limit of " + std::to_string(DefaultMaxPixels) + " pixels and 65535 per side";
}

TOutcome Refused(const std::string& errorClass, const std::string& message) {
    TOutcome outcome;
    outcome.ErrorClass = errorClass;
    outcome.Message = message;
    return outcome;
}

TOutcome CutShort(int64_t present, int64_t total) {
    return Refused("EInvalidGraphic",
                   "cut short: " + std::to_string(present) + " of " + std::to_string(total) + " rows present");
}

TOutcome Loaded(int width, int height, TPixelFormat format) {
    TOutcome outcome;
    outcome.Loaded = true;
    outcome.Width = width;
    outcome.Height = height;
    outcome.Format = format;
    return outcome;
}

bool operator==(const TOutcome& a, const TOutcome& b) {
    if (a.Loaded != b.Loaded) return false;
    if (a.Loaded) return a.Width == b.Width && a.Height == b.Height && a.Format == b.Format;
    return a.ErrorClass == b.ErrorClass && a.Message == b.Message;
}

std::ostream& operator<<(std::ostream& out, const TOutcome& outcome) {
    if (outcome.Loaded)
        return out << "loaded " << outcome.Width << " x " << outcome.Height << ", format "
                   << static_cast<int>(outcome.Format);
    return out << "refused: " << outcome.ErrorClass << " \"" << outcome.Message << "\"";
}

double TimeLimitSeconds() { return sanitized ? 5.0 : 1.0; }

// Under the address sanitizer a block's shadow is an eighth of its size (a
// 1 GiB picture within the limit, untouched, still costs 128 MiB of shadow),
// and freed blocks wait in its quarantine instead of being used again (each
// frame's LZW tables are fresh memory): 256 MiB leaves room for both.
int64_t MemoryLimitBytes() { return sanitized ? int64_t{256} << 20 : int64_t{64} << 20; }

void Measure(const std::function<void()>& call, TCost& cost) {
    cost = TCost();
    const int64_t before = StatusBytes("VmRSS");
    cost.PeakMeasured = before >= 0 && ResetPeak();
    const auto start = std::chrono::steady_clock::now();
    try {
        call();
    } catch (...) {
        cost.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (cost.PeakMeasured) cost.PeakGrowthBytes = StatusBytes("VmHWM") - before;
        throw;
    }
    cost.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (cost.PeakMeasured) cost.PeakGrowthBytes = StatusBytes("VmHWM") - before;
}

TOutcome Read(TReader reader, const std::vector<uint8_t>& bytes, TCost* cost) {
    TOutcome outcome;
    TCost measured;
    auto run = [&] {
        TBitmap bitmap;
        if (reader == TReader::BMPLenient) {
            // The lenient loader reads files only, as the platform's does.
            TTempFolder folder;
            const std::string path = folder / "hostile.bmp";
            WriteFileBytes(path, bytes);
            Measure([&] { bitmap.SetHandle(LoadBitmapFileLeniently(path)); }, measured);
        } else {
            Measure(
                [&] {
                    TMemoryViewStream stream(bytes.data(), bytes.size());
                    if (reader == TReader::PNG) {
                        // TPNGBitmap reads files; its reading road over a stream.
                        ReadPngImage(stream, bitmap);
                        return;
                    }
                    std::unique_ptr<TGraphic> graphic = MakeGraphic(reader);
                    graphic->LoadFromStream(stream);
                    // Readers that decode late (JPEG) or render (GIF) do it here.
                    bitmap.CopyFrom(graphic.get());
                },
                measured);
        }
        outcome = OutcomeOf(bitmap);
    };
    try {
        run();
    } catch (const std::exception& error) {
        outcome = Refused(ClassOf(error), error.what());
    }
    if (cost) *cost = measured;
    return outcome;
}

TOutcome ReadThroughDispatcher(TReader reader, const std::vector<uint8_t>& bytes, TCost* cost) {
    TTempFolder folder;
    const std::string path = folder / (std::string("hostile") + ReaderExtension(reader));
    WriteFileBytes(path, bytes);
    TBitmap bitmap;
    std::string failure;
    bool loaded = false;
    TCost measured;
    Measure([&] { loaded = LoadImageFile(path, bitmap, &failure); }, measured);
    if (cost) *cost = measured;
    return loaded ? OutcomeOf(bitmap) : Refused("", failure);
}

namespace {

struct TLimits {
    double Seconds;
    int64_t Bytes;
};

// The common bounds, or those of a case's rightly large picture: its measured
// cost with room for a busy machine.
TLimits LimitsFor(const TCase& hostileCase) {
    const auto& large = hostileCase.LargePicture;
    return {large.Seconds > 0 ? 4 * large.Seconds + TimeLimitSeconds() : TimeLimitSeconds(),
            (int64_t{large.MiB} << 20) + MemoryLimitBytes()};
}

void CheckCost(const std::string& road, const TCost& cost, TLimits limits = {TimeLimitSeconds(), MemoryLimitBytes()}) {
    EXPECT_LE(cost.Seconds, limits.Seconds) << road << " took " << cost.Seconds << " s";
    if (cost.PeakMeasured) {
        EXPECT_LE(cost.PeakGrowthBytes, limits.Bytes)
            << road << " grew the resident set by " << (cost.PeakGrowthBytes >> 20) << " MiB";
    }
}

// Converts the file to every target through the command line, as a user
// would: the whole process, load and save, is held to the bounds.
void CheckConversions(const TCase& hostileCase, const std::vector<uint8_t>& bytes, bool loads) {
    const auto [seconds, memory] = LimitsFor(hostileCase);
    for (const char* target : {".png", ".tga", ".bmp"}) {
        SCOPED_TRACE(std::string("tamberlit-cli --to ") + target);
        TTempFolder folder;
        const std::string path = folder / (std::string("hostile") + ReaderExtension(hostileCase.Reader));
        WriteFileBytes(path, bytes);
        const TCliRun run = RunCliMeasured({"--all", "--verbose", "-j", "1", "--to", target, path});
        EXPECT_EQ(run.ExitCode, 0) << run.Output;
        EXPECT_NE(run.Output.find(loads ? "converted 1," : "unreadable 1,"), std::string::npos) << run.Output;
        EXPECT_LE(run.Seconds, seconds) << "the conversion took " << run.Seconds << " s";
        EXPECT_LE(run.PeakResidentBytes, memory)
            << "the conversion's peak resident size was " << (run.PeakResidentBytes >> 20) << " MiB";
        if (std::getenv("TAMBERLIT_HOSTILE_COSTS"))
            std::printf("cli  %-10s %-48s %-4s %8.4f s %6.1f MiB\n", ReaderName(hostileCase.Reader),
                        hostileCase.Name.c_str(), target, run.Seconds, double(run.PeakResidentBytes) / (1 << 20));
    }
}

}  // namespace

void PrintTo(const TCase& hostileCase, std::ostream* out) {
    *out << ReaderName(hostileCase.Reader) << " " << hostileCase.Name << ", expected " << hostileCase.Expected;
}

void AddCuts(std::vector<TCase>& cases, const std::string& name, TReader reader,
             const std::function<std::vector<uint8_t>()>& make, const std::vector<std::pair<size_t, TOutcome>>& cuts) {
    for (const auto& [length, outcome] : cuts) {
        auto cut = [make, length = length] {
            std::vector<uint8_t> bytes = make();
            bytes.resize(std::min(length, bytes.size()));
            return bytes;
        };
        cases.push_back({name + "CutTo" + std::to_string(length), reader, cut, outcome});
    }
}

void CheckCase(const TCase& hostileCase) {
    const std::vector<uint8_t> bytes = hostileCase.Make();
    SCOPED_TRACE(std::string(ReaderName(hostileCase.Reader)) + " reader, " + std::to_string(bytes.size()) + " bytes");
    TCost cost;
    const TOutcome outcome = Read(hostileCase.Reader, bytes, &cost);
    EXPECT_EQ(outcome, hostileCase.Expected);
    CheckCost("the reader", cost);
    if (std::getenv("TAMBERLIT_HOSTILE_COSTS"))
        std::printf("cost %-10s %-48s %7zu bytes %8.4f s %6.1f MiB\n", ReaderName(hostileCase.Reader),
                    hostileCase.Name.c_str(), bytes.size(), cost.Seconds, double(cost.PeakGrowthBytes) / (1 << 20));
    if (hostileCase.ReaderOnly) return;

    TCost dispatcherCost;
    const TOutcome dispatched = ReadThroughDispatcher(hostileCase.Reader, bytes, &dispatcherCost);
    CheckCost("the dispatcher", dispatcherCost, LimitsFor(hostileCase));
    CheckConversions(hostileCase, bytes, dispatched.Loaded);
    if (hostileCase.Reader == TReader::BMP) return;  // the lenient loader may still take it
    const bool picture = hostileCase.Expected.Loaded && hostileCase.Expected.Width > 0;
    EXPECT_EQ(dispatched.Loaded, picture || hostileCase.DispatcherLoads) << dispatched;
    if (!dispatched.Loaded) {
        // The reason is the reader's own message (for BMP the strict
        // reader's, whatever the lenient loader then said).
        if (!hostileCase.Expected.Loaded && hostileCase.Reader != TReader::BMPLenient) {
            EXPECT_EQ(dispatched.Message, hostileCase.Expected.Message);
        }
    } else if (picture) {
        EXPECT_EQ(dispatched.Width, hostileCase.Expected.Width);
        EXPECT_EQ(dispatched.Height, hostileCase.Expected.Height);
    }
}

std::vector<uint8_t> BigEndian32(uint32_t value) {
    return {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
}

uint32_t Crc32(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
    return static_cast<uint32_t>(::crc32(::crc32(0, nullptr, 0), bytes.data() + from, static_cast<uInt>(count)));
}

}  // namespace tamberlit::testing::hostile
