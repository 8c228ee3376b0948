// The window as it stands: its controls, captions and texts, the error
// report, which parts of a drop it takes, and whether it has a display.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtTest>
#include <map>

#include "app/window_display.hpp"
#include "app/window_form.hpp"
#include "tests/support/test_support.hpp"
#include "tests/app/window_test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;

class TWindowFormTest : public QObject {
    Q_OBJECT

private slots:
    void ControlsFollowTheFormTable() {
        TForm1 form;
        QCOMPARE(form.objectName(), QStringLiteral("Form1"));
        QCOMPARE(form.size(), QSize(369, 219));
        QCOMPARE(form.minimumSize(), form.maximumSize());

        struct TControl {
            QWidget* widget;
            const char* name;
            QRect geometry;
        } controls[] = {
            {form.Label3, "Label3", QRect(39, 88, 290, 65)},
            {form.Label2, "Label2", QRect(125, 27, 66, 13)},
            {form.ProgressBar, "ProgressBar", QRect(32, 184, 305, 16)},
            {form.ComboBox1, "ComboBox1", QRect(180, 23, 65, 21)},
            {form.AlphaOnlyCheckBox, "AlphaOnlyCheckBox", QRect(100, 56, 257, 17)},
        };
        for (const auto& control : controls) {
            QCOMPARE(control.widget->objectName(), QString::fromLatin1(control.name));
            QCOMPARE(control.widget->geometry(), control.geometry);
        }
        QVERIFY(form.Label3->text().contains(QString::fromUtf8("源文件不会有任何变化.")));
        QCOMPARE(form.Label2->text(), QString::fromUtf8("目标格式:"));
        QCOMPARE(form.AlphaOnlyCheckBox->text(), QString::fromUtf8("仅转换 32 位的图像 (带有 Alpha 通道)"));
        QVERIFY(form.AlphaOnlyCheckBox->isChecked());
        QVERIFY(!form.ComboBox1->isEditable());
        QCOMPARE(form.ComboBox1->count(), 3);
        QCOMPARE(form.ComboBox1->itemText(0), QStringLiteral(".tga"));
        QCOMPARE(form.ComboBox1->itemText(1), QStringLiteral(".png"));
        QCOMPARE(form.ComboBox1->itemText(2), QStringLiteral(".bmp"));
        QCOMPARE(form.ComboBox1->currentIndex(), 1);
        QVERIFY(form.ProgressBar->isHidden());
        QVERIFY(form.Label1->text().isEmpty());
        QCOMPARE(form.windowTitle(), QString::fromUtf8(ApplicationTitle));

        // Tab order: the progress bar takes no focus; the drop-down, then the check box.
        QCOMPARE(form.ProgressBar->focusPolicy(), Qt::NoFocus);
        QCOMPARE(form.ComboBox1->nextInFocusChain(), static_cast<QWidget*>(form.AlphaOnlyCheckBox));
    }

    void FrameIsAFixedTopmostDialogWithoutMinimiseOrMaximise() {
        TForm1 form;
        const Qt::WindowFlags flags = form.windowFlags();
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Dialog);
        QVERIFY(flags & Qt::WindowStaysOnTopHint);
        QVERIFY(flags & Qt::CustomizeWindowHint);
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QCOMPARE(form.palette().color(QPalette::Window), form.palette().color(QPalette::Button));
        QVERIFY(form.autoFillBackground());
    }

    void WindowIsCentredOnTheScreen() {
        TForm1 form;
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(qAbs(form.geometry().center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(form.geometry().center().y() - screen.center().y()) <= 1);
    }

    void FontAsksForYaHeiAt12PixelsWithCjkFallback() {
        TForm1 form;
        const QStringList families = form.font().families();
        QVERIFY(families.size() >= 2);
        QCOMPARE(families.first(), QStringLiteral("Microsoft YaHei"));
        QCOMPARE(form.font().pixelSize(), 12);
        QCOMPARE(form.Label3->font().pixelSize(), 12);
        // One of the families asked for is installed and has the glyphs of
        // the Chinese captions, or they would render as empty boxes.
        const QString captions = QString::fromUtf8("拖拽目标格式仅转换");
        bool anyFontHasGlyphs = false;
        for (const QString& family : families) {
            QFont font(family);
            font.setPixelSize(12);
            if (QFontInfo(font).family() != family) continue;
            const QFontMetrics metrics(font);
            anyFontHasGlyphs =
                std::all_of(captions.begin(), captions.end(), [&](QChar c) { return metrics.inFont(c); });
            if (anyFontHasGlyphs) break;
        }
        QVERIFY2(anyFontHasGlyphs, "none of the window's fonts is installed with Chinese glyphs");
    }

    void InstructionsAndMessageAreaShowAllTheirLines() {
        TForm1 form;
        form.show();
        // The whole instructions text fits its fixed 65 pixels.
        QVERIFY(form.Label3->heightForWidth(form.Label3->width()) <= form.Label3->height());
        // The message area takes the two lines of a status text, and the idle
        // text of every target.
        const QFontMetrics metrics(form.Label1->font());
        QVERIFY(form.Label1->height() >= 2 * metrics.height());
        for (int index = 0; index < form.ComboBox1->count(); ++index) {
            form.ComboBox1->setCurrentIndex(index);
            const QRect needed =
                metrics.boundingRect(QRect(0, 0, form.Label1->width(), 1000), Qt::TextWordWrap, form.Label1->text());
            QVERIFY2(needed.height() <= form.Label1->height(), qPrintable(form.Label1->text()));
        }
        QCOMPARE(form.Label1->textFormat(), Qt::PlainText);
        QVERIFY(form.Label1->wordWrap());
        // The message area lies between the instructions and the window's edge.
        QVERIFY(form.Label1->geometry().top() >= form.Label3->geometry().bottom());
        QVERIFY(form.rect().contains(form.Label1->geometry()));
    }

    void CaptionAndIdleTextForEachTarget() {
        TForm1 form;
        form.show();
        QVERIFY(form.acceptDrops());
        const char* const names[] = {"TGA", "PNG", "BMP"};
        for (int index : {0, 2, 1}) {
            form.ComboBox1->setCurrentIndex(index);
            QCOMPARE(form.windowTitle(), QStringLiteral("Tamberlit"));
            const QString idle = form.Label1->text();
            QCOMPARE(idle.count(QLatin1String(names[index])), 2);
            for (const char* other : names)
                if (other != names[index]) QVERIFY(!idle.contains(QLatin1String(other)));
            QCOMPARE(form.TargetExtension(), form.ComboBox1->itemText(index).toStdString());
        }
        const QString message = QString::fromUtf8(TForm1::MessageTemplate);
        QVERIFY(message.contains(QLatin1String("%1")) && message.contains(QLatin1String("%2")));
    }

    void ShowClearsTheStopFlagAndCloseRaisesIt() {
        TForm1 form;
        QVERIFY(!form.StopRequested());
        form.show();
        QVERIFY(!form.StopRequested());
        QVERIFY(form.close());
        QVERIFY(form.StopRequested());
        form.show();
        QVERIFY(!form.StopRequested());
    }

    void ErrorReportTextEndsInAFullStop_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "Cannot create file \"/x/a.png\". Is a directory"
                                << "Cannot create file \"/x/a.png\". Is a directory.";
        QTest::newRow("full stop kept") << "Invalid pixel format."
                                        << "Invalid pixel format.";
        QTest::newRow("exclamation mark") << "Error Writing PNG File!"
                                          << "Error Writing PNG File!";
        QTest::newRow("closing quote") << "Cannot open \"x\""
                                       << "Cannot open \"x\"";
        QTest::newRow("digit") << "JPEG error #42"
                               << "JPEG error #42.";
        QTest::newRow("slash above full stop") << "/tmp/"
                                               << "/tmp/.";
        QTest::newRow("non-ASCII last character") << QString::fromUtf8("文件") << QString::fromUtf8("文件.");
        QTest::newRow("empty") << ""
                               << "";
    }
    void ErrorReportTextEndsInAFullStop() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(QString::fromStdString(ErrorReportText(message.toStdString())), shown);
    }

    void StandardErrorReportIsAnErrorBoxWithOneOkButton() {
        TForm1 form;
        form.show();
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        Qt::TextFormat format = Qt::AutoText;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = box->standardButtons();
            format = box->textFormat();
            box->button(QMessageBox::Ok)->click();
        });
        ShowStandardErrorReport(&form, "Cannot create file \"<b>.png\". Is a directory.");
        QCOMPARE(title, QString::fromUtf8(ApplicationTitle));
        QCOMPARE(text, QStringLiteral("Cannot create file \"<b>.png\". Is a directory."));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(format, Qt::PlainText);
    }

    void TemplatesAreFilledInOnePass() {
        QCOMPARE(FillTemplate(QStringLiteral("Tamberlit"), {QStringLiteral("PNG")}), QStringLiteral("Tamberlit"));
        QCOMPARE(FillTemplate(QStringLiteral("%1 and %2"), {QStringLiteral("%2"), QStringLiteral("B")}),
                 QStringLiteral("%2 and B"));
        QCOMPARE(FillTemplate(QStringLiteral("100% %3"), {QStringLiteral("A")}), QStringLiteral("100% %3"));
    }

    void DroppedPathsKeepLocalFilesInOrder() {
        QMimeData data;
        data.setData(QStringLiteral("text/uri-list"),
                     "file:///tmp/b%20folder/\r\n"
                     "# a comment line\r\n"
                     "http://example.invalid/x.png\r\n"
                     "file://localhost/tmp/a.png\r\n"
                     "file://elsewhere.invalid/tmp/remote.png\r\n"
                     "file:///tmp/caf%E9.bmp\r\n"
                     "file:///tmp/%E6%96%87.tga\r\n");
        const std::vector<std::string> paths = DroppedPaths(data);
        const std::vector<std::string> expected = {"/tmp/b folder/", "/tmp/a.png", "/tmp/caf\xE9.bmp",
                                                   "/tmp/\xE6\x96\x87.tga"};
        QCOMPARE(paths, expected);
    }

    void OnlyDragsThatCarryLocalFilesAreTaken() {
        TForm1 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        int reports = 0;
        form.SetErrorReport([&](const std::string&) { ++reports; });

        TDropResult web = DropUrls(form, {QUrl(QStringLiteral("https://example.invalid/a.png"))});
        QVERIFY(!web.EnterAccepted);

        QMimeData text;
        text.setText(QStringLiteral("/tmp/a.png"));
        QVERIFY(!DropData(form, text, Qt::CopyAction).EnterAccepted);

        // A file offered only for moving is refused: taking it would let the
        // source delete what it believes was moved.
        TTempFolder folder;
        WriteFileBytes(folder / "notes.txt", {'x'});
        QVERIFY(!DropUrls(form, {FileUrl(folder / "notes.txt")}, Qt::MoveAction).EnterAccepted);

        // Offered for copying or moving, the window copies.
        TDropResult local = DropUrls(form, {FileUrl(folder / "notes.txt")});
        QVERIFY(local.DropAccepted);
        QCOMPARE(local.Action, Qt::CopyAction);
        QVERIFY(local.Handled);
        QCOMPARE(reports, 0);
    }

    void MissingDisplayIsToldOnlyWhenNothingNamesOne_data() {
        QTest::addColumn<QStringList>("environment");  // NAME=value
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("missing");
        QTest::newRow("nothing") << QStringList() << QStringList() << true;
        QTest::newRow("empty values") << QStringList({"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="})
                                      << QStringList() << true;
        QTest::newRow("X11") << QStringList({"DISPLAY=:0"}) << QStringList() << false;
        QTest::newRow("Wayland") << QStringList({"WAYLAND_DISPLAY=wayland-0"}) << QStringList() << false;
        QTest::newRow("platform variable") << QStringList({"QT_QPA_PLATFORM=offscreen"}) << QStringList() << false;
        QTest::newRow("platform argument") << QStringList() << QStringList({"--platform", "offscreen"}) << false;
        QTest::newRow("other argument") << QStringList() << QStringList({"offscreen"}) << true;
    }
    void MissingDisplayIsToldOnlyWhenNothingNamesOne() {
        QFETCH(QStringList, environment);
        QFETCH(QStringList, arguments);
        QFETCH(bool, missing);
        std::map<std::string, std::string> variables;
        for (const QString& entry : environment) {
            const qsizetype equals = entry.indexOf(QLatin1Char('='));
            variables[entry.left(equals).toStdString()] = entry.mid(equals + 1).toStdString();
        }
        std::vector<std::string> argumentList;
        for (const QString& argument : arguments) argumentList.push_back(argument.toStdString());
        const std::string message = MissingDisplayMessage(
            [&](const char* name) {
                const auto found = variables.find(name);
                return found == variables.end() ? nullptr : found->second.c_str();
            },
            argumentList);
        QCOMPARE(!message.empty(), missing);
    }
};

int RunWindowFormTests(int argc, char** argv) {
    TWindowFormTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "window_form_test.moc"
