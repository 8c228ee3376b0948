#pragma once
// What the batch driver needs of its front end: the user's settings, read fresh
// each time, and the places where it shows its state. The window implements it
// with its widgets; the command line with its options and a progress line.

#include <cstdint>
#include <exception>
#include <string>

#include "convert/gif_target.hpp"
#include "image/bitmap.hpp"
#include "image/limits.hpp"

namespace tamberlit {

class TCommitQueue;

enum class TFileOutcome {
    Converted,          // the target was written
    ConvertedCutShort,  // written from a file that holds only part of its picture
    NotThirtyTwoBit,    // read, but skipped by the alpha-only rule
    Unreadable,         // no reader, or the reader refused the file
    Unwritable,         // the existing target may not be replaced; left as it was
    NoWriter,           // the target kind has no writer; nothing written
    UpToDate,           // the target is newer than the source (an incremental run)
    Failed,             // an error that was no fault of the file, or writing failed
};

// What became of one file.
struct TFileResult {
    std::string Source;
    std::string Target;  // "" when the file was not read or not converted
    TFileOutcome Outcome = TFileOutcome::Converted;
    // The reader's refusal (Unreadable), what the file held ("12 of 20 rows
    // present", ConvertedCutShort), the error's text (Failed).
    std::string Detail;
    // The picture as read: its size and the format it was brought to (Px32
    // or Px24); 0 x 0 when nothing was read.
    int Width = 0;
    int Height = 0;
    TPixelFormat Format = PxDevice;
    uint64_t BytesWritten = 0;
    double Milliseconds = 0;  // reading and writing
};

class TConversionHost {
public:
    virtual ~TConversionHost() = default;

    // The target extension with its leading dot (".png").
    virtual std::string TargetExtension() = 0;
    // Only 32-bit images are converted while this is on.
    virtual bool AlphaOnly() = 0;
    // Raised by the user; ends the current folder after the file in progress.
    virtual bool StopRequested() = 0;
    // The decoded-size limit every file is read with.
    virtual TSizeLimits SizeLimits() { return {}; }
    // Where the commits of targets that replace files go to run beside the
    // next conversions; none (every file committed before FileDone) by
    // default. A file whose commit is queued is reported by FileDone from one
    // of the queue's threads once it is done, and a failed commit is a
    // Failed file, whatever ContinueAfterError would say.
    virtual TCommitQueue* CommitQueue() { return nullptr; }
    // How a GIF target is given its palette.
    virtual TGIFSettings GIFSettings() { return {}; }

    virtual void SetStatusText(const std::string& text) = 0;
    virtual void SetProgressRange(int minimum, int maximum) = 0;
    virtual void SetProgressPosition(int position) = 0;
    virtual void SetProgressVisible(bool visible) = 0;
    // Lets pending user input run.
    virtual void ProcessMessages() = 0;

    // What became of one file. A failure is reported here once
    // ContinueAfterError has chosen to go on with the next file.
    virtual void FileDone(const TFileResult& /*result*/) {}
    // A folder of a scan that could not be read (its files are not listed);
    // reason is the system's text. The window passes over it silently.
    virtual void FolderUnreadable(const std::string& /*folder*/, const std::string& /*reason*/) {}
    // An error while converting one file. Returning false (the window's way)
    // lets it end the whole drop; returning true goes on with the next file.
    virtual bool ContinueAfterError(const std::string& /*source*/, const std::exception& /*error*/) { return false; }
};

}  // namespace tamberlit
