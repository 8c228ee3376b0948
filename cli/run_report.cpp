#include "cli/run_report.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "cli/text_escapes.hpp"
#include "image/exceptions.hpp"
#include "image/stream.hpp"

namespace tamberlit {

namespace {

const char* FormatName(TPixelFormat format) {
    switch (format) {
        case Px32: return "Px32";
        case Px24: return "Px24";
        default: return "";
    }
}

}  // namespace

const char* OutcomeText(TFileOutcome outcome) {
    switch (outcome) {
        case TFileOutcome::Converted: return "converted";
        case TFileOutcome::ConvertedCutShort: return "converted from a cut-short file";
        case TFileOutcome::NotThirtyTwoBit: return "skipped as not 32-bit";
        case TFileOutcome::Unreadable: return "unreadable";
        case TFileOutcome::Unwritable: return "read-only target left";
        case TFileOutcome::NoWriter: return "no writer";
        case TFileOutcome::UpToDate: return "up to date";
        case TFileOutcome::Failed: return "failed";
    }
    return "";
}

TRunReport::TRunReport(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0666);
    if (fd_ < 0) throw EFCreateError("Cannot create file \"" + AbsolutePath(path) + "\". " + SystemErrorText(errno));
}

TRunReport::~TRunReport() {
    if (fd_ >= 0) ::close(fd_);
}

void TRunReport::Record(const TFileResult& result) {
    char milliseconds[32];
    std::snprintf(milliseconds, sizeof milliseconds, "%.3f", result.Milliseconds);
    const std::string line =
        "{\"source\": " + JsonString(result.Source) + ", \"target\": " + JsonString(result.Target) +
        ", \"outcome\": \"" + OutcomeText(result.Outcome) + "\", \"reason\": " + JsonString(result.Detail) +
        ", \"width\": " + std::to_string(result.Width) + ", \"height\": " + std::to_string(result.Height) +
        ", \"pixel_format\": \"" + FormatName(result.Format) +
        "\", \"bytes_written\": " + std::to_string(result.BytesWritten) + ", \"milliseconds\": " + milliseconds + "}\n";
    // One write for the whole line; a short write (a full disk) is retried
    // for the rest, and an error is the run's.
    for (size_t done = 0; done < line.size();) {
        const ssize_t wrote = ::write(fd_, line.data() + done, line.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0)
            throw EWriteError("Cannot write file \"" + AbsolutePath(path_) + "\". " + SystemErrorText(errno));
        done += static_cast<size_t>(wrote);
    }
}

}  // namespace tamberlit
