#pragma once
// The record of a run (--report FILE): one JSON object per line for every
// entry, written as the entry finishes. Each line reaches the file in one
// write, so a run killed at any moment leaves only whole lines, and the lines
// of every file that finished; the reports of several shards concatenate into
// one.
//
// {"source": "a/b.tga", "target": "a/b.png", "outcome": "converted",
//  "reason": "", "width": 64, "height": 64, "pixel_format": "Px32",
//  "bytes_written": 1234, "milliseconds": 1.25}
//
// outcome is one of "converted", "converted from a cut-short file", "skipped
// as not 32-bit", "up to date", "unreadable", "read-only target left",
// "failed". Names are JSON strings that keep every byte (see JsonString).

#include <string>

#include "convert/conversion_host.hpp"

namespace tamberlit {

class TRunReport {
public:
    // Creates (or empties) the file. Raises EFCreateError when it cannot.
    explicit TRunReport(const std::string& path);
    ~TRunReport();
    TRunReport(const TRunReport&) = delete;
    TRunReport& operator=(const TRunReport&) = delete;

    // Not thread-safe: the caller holds its own lock. Raises EWriteError when
    // the line cannot be written.
    void Record(const TFileResult& result);

private:
    std::string path_;
    int fd_ = -1;
};

// The outcome's words, as the report and the summary use them.
const char* OutcomeText(TFileOutcome outcome);

}  // namespace tamberlit
