#include "app/window_form.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QScreen>
#include <QShowEvent>
#include <QSysInfo>
#include <QUrl>
#include <exception>
#include <optional>

#include "convert/batch_conversion.hpp"
#include "image/file_names.hpp"

namespace tamberlit {

const char* const TForm1::MessageTemplate =
    "Drop files or folders here to convert them to %1;\n"
    "each %2 file is saved beside its source.";
const char* const TForm1::CaptionTemplate = "Tamberlit";

namespace {

// "Microsoft YaHei" is asked for first; Linux desktops rarely have it, so the
// common CJK families follow, or the Chinese captions would render as boxes.
const char* const Label3Caption =
    "拖拽任意数量的文件或文件夹至该窗口, 所有找到的图像文件都将被转换为带有 Alpha 通道的你所指定的格式. "
    "这些文件会以相同的文件名被保存在源文件所在的位置, 但是扩展名将是你所指定的格式. 源文件不会有任何变化.";

const QStringList windowFontFamilies = {"Microsoft YaHei", "WenQuanYi Micro Hei", "Noto Sans CJK SC",
                                        "Noto Sans SC",    "Source Han Sans SC",  "Droid Sans Fallback"};

// A file URL names this machine when it has no host or names it as
// "localhost" or by its host name (some file managers write the latter).
bool IsLocalFileUrl(const QUrl& url) {
    if (!url.isValid() || url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) != 0) return false;
    const QString host = url.host();
    return host.isEmpty() || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
           host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0;
}

QString DecodedText(const std::string& text) { return QFile::decodeName(QByteArray::fromStdString(text)); }

}  // namespace

std::string ErrorReportText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.'))
        return message + ".";
    return message;
}

void ShowStandardErrorReport(QWidget* parent, const std::string& text) {
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(ApplicationTitle), DecodedText(text), QMessageBox::Ok,
                    parent);
    // Error texts carry file names; a name like "<b>.png" must not become markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QString FillTemplate(const QString& text, const QStringList& arguments) {
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('%') && i + 1 < text.size() && text[i + 1] >= QLatin1Char('1') &&
            text[i + 1] <= QLatin1Char('9')) {
            const qsizetype index = text[i + 1].unicode() - '1';
            if (index < arguments.size()) {
                result += arguments[index];
                ++i;
                continue;
            }
        }
        result += text[i];
    }
    return result;
}

std::vector<std::string> DroppedPaths(const QMimeData& data) {
    std::vector<std::string> paths;
    if (!data.hasUrls()) return paths;
    for (const QUrl& url : data.urls()) {
        if (!IsLocalFileUrl(url)) continue;
        // Decode the percent-encoded bytes ourselves rather than through
        // QString: a name that is not valid UTF-8 keeps its exact bytes.
        const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        if (path.startsWith('/')) paths.push_back(path.toStdString());
    }
    return paths;
}

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(ApplicationTitle));
    // Sizes are in device-independent pixels: Qt scales them on high-dpi screens.
    setFixedSize(369, 219);

    QPalette colours = palette();
    colours.setColor(QPalette::Window, colours.color(QPalette::Button));
    setPalette(colours);
    setAutoFillBackground(true);

    QFont windowFont = font();
    windowFont.setFamilies(windowFontFamilies);
    windowFont.setPixelSize(12);
    setFont(windowFont);

    CreateControls();

    // Without a window manager Qt would put the window at (0,0).
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    errorReport_ = [this](const std::string& text) { ShowStandardErrorReport(this, text); };
}

void TForm1::CreateControls() {
    Label3 = new QLabel(this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setGeometry(39, 88, 290, 65);
    Label3->setWordWrap(true);
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The instructions wrap to five lines in 290 pixels; at the CJK fonts'
    // own 15-pixel spacing the fifth would be cut off by the label's 65
    // pixels, so the lines are set about 13 pixels apart (the glyphs are 12).
    Label3->setTextFormat(Qt::RichText);
    Label3->setText(QStringLiteral("<div style=\"line-height: 86%\">%1</div>").arg(QString::fromUtf8(Label3Caption)));

    // The message area: two word-wrapped lines between the instructions and
    // the progress bar, which the batch's "Converting: " texts fill exactly.
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(8, 154, 353, 30);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    // Status texts carry file names, which must never be read as markup.
    Label1->setTextFormat(Qt::PlainText);

    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(125, 27, 66, 13);
    Label2->setText(QString::fromUtf8("目标格式:"));

    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setGeometry(32, 184, 305, 16);
    ProgressBar->setTextVisible(false);
    ProgressBar->hide();

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setGeometry(180, 23, 65, 21);
    ComboBox1->setEditable(false);
    ComboBox1->addItems({QStringLiteral(".tga"), QStringLiteral(".png"), QStringLiteral(".bmp")});
    ComboBox1->setCurrentIndex(1);
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, [this] { ComboBox1Change(); });

    AlphaOnlyCheckBox = new QCheckBox(this);
    AlphaOnlyCheckBox->setObjectName(QStringLiteral("AlphaOnlyCheckBox"));
    AlphaOnlyCheckBox->setGeometry(100, 56, 257, 17);
    AlphaOnlyCheckBox->setText(QString::fromUtf8("仅转换 32 位的图像 (带有 Alpha 通道)"));
    AlphaOnlyCheckBox->setChecked(true);

    // Tab order: the progress bar (never focused), the drop-down, the check box.
    ProgressBar->setFocusPolicy(Qt::NoFocus);
    setTabOrder(ComboBox1, AlphaOnlyCheckBox);
}

void TForm1::FormShow() {
    setAcceptDrops(true);
    ComboBox1Change();
    stopRequested_ = false;
}

bool TForm1::FormCloseQuery() {
    stopRequested_ = true;
    return true;
}

void TForm1::ComboBox1Change() {
    const std::string extension = ComboBox1->currentText().toStdString();
    const QString name = QString::fromStdString(UpperCaseAscii(extension.empty() ? extension : extension.substr(1)));
    Label1->setText(FillTemplate(QString::fromUtf8(MessageTemplate), {name, name}));
    setWindowTitle(FillTemplate(QString::fromUtf8(CaptionTemplate), {name}));
}

void TForm1::WMDropFiles(const std::vector<std::string>& paths) {
    setCursor(Qt::WaitCursor);
    std::optional<std::string> failure;
    try {
        // A close ends the whole drop, not only the folder in progress: the
        // program must not go on scanning and converting with no window shown.
        for (const std::string& path : paths) {
            if (StopRequested()) break;
            ConvertPath(*this, path);
        }
    } catch (const std::exception& error) {
        failure = error.what();
    } catch (...) {
        // Nothing may unwind into Qt's event loop.
        failure = "Unknown error";
    }
    setCursor(Qt::ArrowCursor);
    ComboBox1Change();
    if (failure) errorReport_(ErrorReportText(*failure));
    emit DropHandled();
}

std::string TForm1::TargetExtension() { return ComboBox1->currentText().toStdString(); }

bool TForm1::AlphaOnly() { return AlphaOnlyCheckBox->isChecked(); }

void TForm1::SetStatusText(const std::string& text) { Label1->setText(DecodedText(text)); }

void TForm1::SetProgressRange(int minimum, int maximum) { ProgressBar->setRange(minimum, maximum); }

void TForm1::SetProgressPosition(int position) { ProgressBar->setValue(position); }

void TForm1::SetProgressVisible(bool visible) { ProgressBar->setVisible(visible); }

void TForm1::ProcessMessages() { QCoreApplication::processEvents(); }

void TForm1::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) FormShow();
    QWidget::showEvent(event);
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (FormCloseQuery()) event->accept();
    else event->ignore();
}

// Files are always copied from, never taken over: a source that offers "move"
// would otherwise delete what it believes we have moved away.
bool TForm1::AcceptFileDrop(QDropEvent* event, bool hasFiles) {
    const Qt::DropActions possible = event->possibleActions();
    if (hasFiles && (possible & Qt::CopyAction)) {
        event->setDropAction(Qt::CopyAction);
    } else if (hasFiles && (possible & Qt::LinkAction)) {
        event->setDropAction(Qt::LinkAction);
    } else {
        event->ignore();
        return false;
    }
    event->accept();
    return true;
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    dragHasFiles_ = AcceptFileDrop(event, !DroppedPaths(*event->mimeData()).empty());
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
    // The data was looked at on entering; asking a remote source again on
    // every move would be a round trip each time.
    AcceptFileDrop(event, dragHasFiles_);
}

void TForm1::dropEvent(QDropEvent* event) {
    dragHasFiles_ = false;
    std::vector<std::string> paths = DroppedPaths(*event->mimeData());
    if (!AcceptFileDrop(event, !paths.empty())) return;
    // The drop is handled once the drag is over, as the shell posts its drop
    // message: the source is not kept waiting while the batch runs, and a
    // drop inside a running batch is handled there, nested in it.
    QMetaObject::invokeMethod(
        this, [this, paths = std::move(paths)] { WMDropFiles(paths); }, Qt::QueuedConnection);
}

}  // namespace tamberlit
