#pragma once
// What the window tests share: images written to disk, drops delivered the
// way Qt delivers a file manager's drop, and a form that lets a test look
// and act inside a running batch.

#include <QList>
#include <QUrl>
#include <functional>
#include <string>
#include <vector>

#include "app/window_form.hpp"
#include "image/dib.hpp"

namespace tamberlit::testing {

// A width x height picture whose pixels depend on seed; alpha varies when
// format is Px32 (else 24 bits per pixel). An uncompressed bottom-up BMP.
void WriteBmp(const std::string& path, TPixelFormat format, int width, int height, int seed);
// The same picture as an uncompressed TGA (type 2, top-left origin) of 24 or
// 32 bits per pixel.
void WriteTga(const std::string& path, TPixelFormat format, int width, int height, int seed);
// What a reader makes of the file: R, G, B, A bytes, top row first; empty when
// nothing could read it. format receives the bitmap's pixel format.
std::vector<uint8_t> ReadPixels(const std::string& path, TPixelFormat* format = nullptr);
// The pixels WriteBmp/WriteTga32 put in for a seed.
std::vector<uint8_t> ExpectedPixels(int width, int height, int seed, bool alpha);

// True when this build reads TGA and writes and reads PNG; the tests that
// convert files need those codecs.
bool ConversionCodecsPresent();
// True when this build reads BMP files.
bool BmpReaderPresent();

QUrl FileUrl(const std::string& path);
QList<QUrl> FileUrls(const std::vector<std::string>& paths);

struct TDropResult {
    bool EnterAccepted = false;
    bool DropAccepted = false;
    Qt::DropAction Action = Qt::IgnoreAction;
    bool Handled = false;  // WMDropFiles ran to its end
};

// Delivers drag enter, drag move and drop with urls to the form's window, as
// Qt does for a drop from another program, then waits for the drop handler
// when the drop was taken.
TDropResult DropUrls(TForm1& form, const QList<QUrl>& urls,
                     Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction);
// The same with data as the drag's MIME data.
TDropResult DropData(TForm1& form, const class QMimeData& data, Qt::DropActions actions);
// Delivers the events without waiting for the drop handler.
TDropResult SendDrop(TForm1& form, const class QMimeData& data, Qt::DropActions actions);

// A form on which a test runs code each time the batch lets messages run.
class TObservedForm : public TForm1 {
public:
    std::function<void(TObservedForm&)> OnProcessMessages;
    void ProcessMessages() override;
};

// What the form showed at one "let messages run" point of a batch.
struct TSnapshot {
    QString Status;
    bool ProgressVisible = false;
    int ProgressMinimum = 0, ProgressMaximum = 0, ProgressValue = 0;
    Qt::CursorShape Cursor = Qt::ArrowCursor;
};
TSnapshot Snapshot(TForm1& form);

}  // namespace tamberlit::testing
