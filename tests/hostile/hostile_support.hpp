#pragma once
// Hostile files: small inputs built to make a reader crash, hang, allocate
// without bound or report a failure as a success. Each case names its reader
// and the one outcome it must have: refused with an exact error class and
// message, or loaded with an exact size and pixel format. Every case is also
// held to the cost every reader must keep to on any input: at most a second
// and at most 64 MiB more resident memory.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "image/bitmap.hpp"
#include "tests/support/test_support.hpp"

namespace tamberlit::testing::hostile {

enum class TReader {
    TGA,            // TTGABitmap
    BMP,            // TBitmap, the strict reader
    BMPLenient,     // LoadBitmapFileLeniently, the dispatcher's second chance
    GIF,            // TGIFImage, then its rendered first frame
    GIFFirstFrame,  // the same reading the first frame only, as the dispatcher does
    PNG,            // ReadPngImage, the reading road of TPNGBitmap
    JPEG,           // TJPEGImage, then decoded into a bitmap
};

const char* ReaderName(TReader reader);
// The file name ending the dispatcher takes the reader from.
const char* ReaderExtension(TReader reader);

// What a reader makes of a file.
struct TOutcome {
    bool Loaded = false;
    std::string ErrorClass;  // unqualified: "EImageTooLarge"
    std::string Message;
    int Width = 0;
    int Height = 0;
    TPixelFormat Format = PxDevice;
};

TOutcome Refused(const std::string& errorClass, const std::string& message);
// The decoded-size limit's message for a width x height picture (default limit).
std::string TooLarge(int64_t width, int64_t height);
TOutcome Loaded(int width, int height, TPixelFormat format);
// A file that holds less than half of its picture's rows.
TOutcome CutShort(int64_t present, int64_t total);
// A reader that raises no error but gives an empty picture; the dispatcher
// reports it as unreadable.
inline TOutcome NoPicture() { return Loaded(0, 0, PxDevice); }
bool operator==(const TOutcome& a, const TOutcome& b);
std::ostream& operator<<(std::ostream& out, const TOutcome& outcome);

// The cost of one call: wall time and growth of the resident set's peak over
// the resident set before the call.
struct TCost {
    double Seconds = 0;
    int64_t PeakGrowthBytes = 0;
    bool PeakMeasured = false;  // false where the kernel cannot reset the peak
};

// The limits every case keeps to. A sanitizer build checks the same cases for
// faults; its own bookkeeping (shadow memory, quarantine) and slowness are not
// the reader's, so it gets room for them.
double TimeLimitSeconds();
int64_t MemoryLimitBytes();

// Runs call and measures it into cost, also when it throws. The peak is reset
// through /proc/self/clear_refs ("5" resets VmHWM, Linux 4.0 and later) before
// the call and read from /proc/self/status after it.
void Measure(const std::function<void()>& call, TCost& cost);

// Reads the bytes with the reader, measuring the read.
TOutcome Read(TReader reader, const std::vector<uint8_t>& bytes, TCost* cost = nullptr);

// The dispatcher's road (LoadImageFile) on the bytes written to a file with
// the reader's ending: loaded or not, and the size and format it gives.
TOutcome ReadThroughDispatcher(TReader reader, const std::vector<uint8_t>& bytes, TCost* cost = nullptr);

struct TCase {
    std::string Name;  // a test-name suffix: letters, digits, underscores
    TReader Reader;
    std::function<std::vector<uint8_t>()> Make;
    TOutcome Expected;
    // A picture the reader rightly takes that is too large to convert within
    // the bounds (the dispatcher brings it to 24 bits): checked at the reader.
    bool ReaderOnly = false;
    // The dispatcher loads what the reader refuses (a GIF whose later frame
    // is damaged: the first frame is all it converts).
    bool DispatcherLoads = false;
    // A file whose data rightly covers a picture too large to convert within
    // the bounds: the measured cost of its conversion, which then bounds it
    // (rounded up, with room for a busy machine) instead of the common limits.
    struct TLargePicture {
        double Seconds = 0;
        int MiB = 0;
    } LargePicture{};
};

void PrintTo(const TCase& hostileCase, std::ostream* out);

// A valid file cut to each of the lengths, with the outcome each must have:
// cases named name + "CutTo" + length.
void AddCuts(std::vector<TCase>& cases, const std::string& name, TReader reader,
             const std::function<std::vector<uint8_t>()>& make, const std::vector<std::pair<size_t, TOutcome>>& cuts);

// With TAMBERLIT_HOSTILE_COSTS set in the environment, every case prints its
// time and memory growth on standard output.
inline std::string CaseName(const ::testing::TestParamInfo<TCase>& info) { return info.param.Name; }

// The whole check of one case: the outcome, the cost, the dispatcher's road
// agreeing with the reader (for BMP the dispatcher falls back to the lenient
// loader, so there it only has to keep to the cost), and the whole conversion
// through tamberlit-cli to every target: converted when the dispatcher loads
// the file, named unreadable when not, within the bounds either way.
void CheckCase(const TCase& hostileCase);

// Helpers for building files.
std::vector<uint8_t> BigEndian32(uint32_t value);
uint32_t Crc32(const std::vector<uint8_t>& bytes, size_t from, size_t count);

}  // namespace tamberlit::testing::hostile
