#pragma once
// TForm1: the conversion window. A thin host of the batch driver: it shows the
// driver's status and progress, hands it the user's settings, and turns the
// files and folders dropped on it into ConvertPath calls.

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "convert/conversion_host.hpp"

class QCheckBox;
class QComboBox;
class QLabel;
class QMimeData;
class QProgressBar;
class QDropEvent;

namespace tamberlit {

// The application's title, the caption of its message boxes. Not Qt's
// display name: Qt's X11 backend would append that to the window's caption.
inline constexpr const char* ApplicationTitle = "32- bit PNG & BMP to TGA - Properly!";

// The text the standard error report shows for message: a "." is appended
// when the last character's code is above that of "." (so "Is a directory"
// gains one and "Error Reading File!" does not).
std::string ErrorReportText(const std::string& message);

// The application's standard error report: a modal message box with text, the
// application's title as caption, an error icon and one OK button.
void ShowStandardErrorReport(QWidget* parent, const std::string& text);

// Fills "%1".."%9" in text with arguments, in one pass (an argument that
// itself holds "%2" stays as it is); arguments without a placeholder are
// ignored, as a format with fewer specifiers ignores them.
QString FillTemplate(const QString& text, const QStringList& arguments);

// The local paths of a drop's URI list, in order, byte for byte as the file
// system names them. URLs of other schemes or hosts are left out.
std::vector<std::string> DroppedPaths(const QMimeData& data);

class TForm1 : public QWidget, public TConversionHost {
    Q_OBJECT

public:
    // Receives the text of an error that ended a drop (ErrorReportText applied).
    using TErrorReport = std::function<void(const std::string& text)>;

    // The idle text of Label1; both placeholders get the upper-cased target name.
    static const char* const MessageTemplate;
    // The caption; its one argument (the target name) has no placeholder.
    static const char* const CaptionTemplate;

    explicit TForm1(QWidget* parent = nullptr);

    // The controls, in the form's order.
    QLabel* Label3;
    QLabel* Label1;
    QLabel* Label2;
    QProgressBar* ProgressBar;
    QComboBox* ComboBox1;
    QCheckBox* AlphaOnlyCheckBox;

    void FormShow();
    bool FormCloseQuery();
    void ComboBox1Change();
    // Converts the dropped paths in order. An error ends the rest of the drop
    // and goes to the error report once the cursor and idle text are back; a
    // stop request ends it after the file in progress.
    void WMDropFiles(const std::vector<std::string>& paths);

    // The standard error report unless a test puts its own in.
    void SetErrorReport(TErrorReport report) { errorReport_ = std::move(report); }

    // TConversionHost: read from and written to the widgets.
    std::string TargetExtension() override;
    bool AlphaOnly() override;
    bool StopRequested() override { return stopRequested_; }
    void SetStatusText(const std::string& text) override;
    void SetProgressRange(int minimum, int maximum) override;
    void SetProgressPosition(int position) override;
    void SetProgressVisible(bool visible) override;
    void ProcessMessages() override;

signals:
    // WMDropFiles has returned.
    void DropHandled();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateControls();
    bool AcceptFileDrop(QDropEvent* event, bool hasFiles);

    bool stopRequested_ = false;
    bool dragHasFiles_ = false;
    TErrorReport errorReport_;
};

}  // namespace tamberlit
