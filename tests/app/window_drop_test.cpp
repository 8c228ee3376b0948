// Drops onto the window and what they turn into: files written, texts and
// progress shown during the batch, input acted on inside it, errors reported.

#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QTimer>
#include <QtTest>
#include <filesystem>

#include "app/window_form.hpp"
#include "tests/support/test_support.hpp"
#include "tests/app/window_test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
namespace fs = std::filesystem;

namespace {

bool Exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

ino_t Inode(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

std::vector<std::string> FolderNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        names.push_back(fs::relative(entry.path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

#define REQUIRE_CODECS()                                                                  \
    do {                                                                                  \
        if (!ConversionCodecsPresent()) QSKIP("this build lacks the TGA and PNG codecs"); \
    } while (false)

// A shown form whose error reports are collected instead of shown.
struct TFormUnderTest {
    TObservedForm Form;
    QStringList Reports;
    Qt::CursorShape CursorAtReport = Qt::BlankCursor;
    QString StatusAtReport;

    TFormUnderTest() {
        Form.SetErrorReport([this](const std::string& text) {
            Reports.append(QString::fromStdString(text));
            CursorAtReport = Form.cursor().shape();
            StatusAtReport = Form.Label1->text();
        });
        Form.show();
    }
    QString IdleText() {
        const QString name = Form.ComboBox1->currentText().mid(1).toUpper();
        return FillTemplate(QString::fromUtf8(TForm1::MessageTemplate), {name, name});
    }
};

}  // namespace

class TWindowDropTest : public QObject {
    Q_OBJECT

private slots:
    void FolderWithBmpAndTgaYieldsThePngOfTheTga() {
        REQUIRE_CODECS();
        if (!BmpReaderPresent()) QSKIP("this build lacks the BMP reader");
        TTempFolder folder;
        WriteBmp(folder / "a.bmp", Px32, 3, 2, 1);
        WriteTga(folder / "a.tga", Px32, 3, 2, 2);
        TFormUnderTest test;
        QVERIFY(DropUrls(test.Form, {FileUrl(folder.Path().string())}).Handled);
        // BMP sources are listed before TGA sources, so the TGA's picture is
        // the one left in a.png.
        TPixelFormat format = PxDevice;
        QCOMPARE(ReadPixels(folder / "a.png", &format), ExpectedPixels(3, 2, 2, true));
        QCOMPARE(format, Px32);
        QVERIFY(test.Reports.isEmpty());
        QCOMPARE(test.Form.Label1->text(), test.IdleText());
    }

    void UnsupportedFilesAloneLeaveNothingAndNoMessage() {
        TTempFolder folder;
        WriteFileBytes(folder / "notes.txt", {'h', 'i'});
        WriteFileBytes(folder / "broken.bmp", {'B', 'M', 0, 0});
        fs::create_directory(folder.Path() / "inner");
        WriteFileBytes(folder / "inner/readme.md", {'#'});
        const std::vector<std::string> before = FolderNames(folder.Path());
        TFormUnderTest test;
        TDropResult result =
            DropUrls(test.Form,
                     FileUrls({folder / "notes.txt", folder / "broken.bmp", folder / "inner", folder / "missing.png"}));
        QVERIFY(result.Handled);
        QCOMPARE(FolderNames(folder.Path()), before);
        QVERIFY(test.Reports.isEmpty());
        QCOMPARE(test.Form.Label1->text(), test.IdleText());
        QCOMPARE(test.Form.cursor().shape(), Qt::ArrowCursor);
        QVERIFY(test.Form.ProgressBar->isHidden());
    }

    void StatusTextsAndProgressDuringAFolder() {
        TTempFolder folder;
        WriteBmp(folder / "a.bmp", Px32, 2, 2, 1);
        WriteBmp(folder / "b.bmp", Px32, 2, 2, 2);
        WriteTga(folder / "c.tga", Px32, 2, 2, 3);
        TFormUnderTest test;
        std::vector<TSnapshot> seen;
        test.Form.OnProcessMessages = [&](TObservedForm& form) { seen.push_back(Snapshot(form)); };
        const std::string path = folder.Path().string();
        QVERIFY(DropUrls(test.Form, {FileUrl(path)}).Handled);

        // The scan: the folder's text, no progress yet, the wait cursor.
        QVERIFY(!seen.empty());
        QCOMPARE(seen.front().Status, QString::fromStdString("Preparing list of files inside: \n" + path));
        QVERIFY(!seen.front().ProgressVisible);
        // Then each file twice (before loading, after saving) with the bar at
        // its index of the three.
        std::vector<std::pair<QString, int>> files;
        for (const TSnapshot& snapshot : seen) {
            QCOMPARE(snapshot.Cursor, Qt::WaitCursor);
            if (!snapshot.Status.startsWith(QLatin1String("Converting: "))) continue;
            QVERIFY(snapshot.ProgressVisible);
            QCOMPARE(snapshot.ProgressMinimum, 0);
            QCOMPARE(snapshot.ProgressMaximum, 3);
            files.emplace_back(snapshot.Status, snapshot.ProgressValue);
        }
        const std::vector<std::pair<QString, int>> expected = {{"Converting: \na.bmp", 0}, {"Converting: \na.bmp", 0},
                                                               {"Converting: \nb.bmp", 1}, {"Converting: \nb.bmp", 1},
                                                               {"Converting: \nc.tga", 2}, {"Converting: \nc.tga", 2}};
        QCOMPARE(files, expected);

        QVERIFY(test.Form.ProgressBar->isHidden());
        QCOMPARE(test.Form.Label1->text(), test.IdleText());
        QCOMPARE(test.Form.cursor().shape(), Qt::ArrowCursor);
    }

    void CheckBoxLimitsConversionTo32BitSources() {
        REQUIRE_CODECS();
        TTempFolder folder;
        WriteTga(folder / "opaque.tga", Px24, 3, 3, 4);
        WriteTga(folder / "alpha.tga", Px32, 3, 3, 5);
        TFormUnderTest test;
        QVERIFY(test.Form.AlphaOnlyCheckBox->isChecked());
        QVERIFY(DropUrls(test.Form, {FileUrl(folder.Path().string())}).Handled);
        QVERIFY(Exists(folder / "alpha.png"));
        QVERIFY(!Exists(folder / "opaque.png"));

        test.Form.AlphaOnlyCheckBox->setChecked(false);
        QVERIFY(DropUrls(test.Form, {FileUrl(folder / "opaque.tga")}).Handled);
        TPixelFormat format = PxDevice;
        QCOMPARE(ReadPixels(folder / "opaque.png", &format), ExpectedPixels(3, 3, 4, false));
        QCOMPARE(format, Px24);
    }

    void InputInsideTheBatchActsOnTheNextFile() {
        REQUIRE_CODECS();
        TTempFolder folder;
        WriteTga(folder / "a.tga", Px32, 2, 2, 1);
        WriteTga(folder / "b.tga", Px32, 2, 2, 2);
        WriteTga(folder / "c.tga", Px24, 2, 2, 3);
        WriteTga(folder / "d.tga", Px24, 2, 2, 4);
        const ino_t b = Inode(folder / "b.tga"), c = Inode(folder / "c.tga"), d = Inode(folder / "d.tga");
        TFormUnderTest test;
        test.Form.OnProcessMessages = [&](TObservedForm& form) {
            // Before b.tga is read, the target becomes ".tga": b is then
            // converted onto itself. Before d.tga, all images qualify.
            if (form.Label1->text() == QLatin1String("Converting: \nb.tga")) form.ComboBox1->setCurrentIndex(0);
            if (form.Label1->text() == QLatin1String("Converting: \nd.tga")) form.AlphaOnlyCheckBox->setChecked(false);
        };
        QVERIFY(DropUrls(test.Form, {FileUrl(folder.Path().string())}).Handled);
        QVERIFY(Exists(folder / "a.png"));
        QVERIFY(!Exists(folder / "b.png"));
        QVERIFY(Inode(folder / "b.tga") != b);  // written again, under a new inode
        QCOMPARE(ReadPixels(folder / "b.tga"), ExpectedPixels(2, 2, 2, true));
        QCOMPARE(Inode(folder / "c.tga"), c);   // 24-bit while the box was checked
        QVERIFY(Inode(folder / "d.tga") != d);  // 24-bit after it was cleared
        QCOMPARE(ReadPixels(folder / "d.tga"), ExpectedPixels(2, 2, 4, false));
        QCOMPARE(test.Form.windowTitle(), QStringLiteral("Tamberlit"));
        QCOMPARE(test.Form.Label1->text(), test.IdleText());
        QVERIFY(test.Form.Label1->text().contains(QLatin1String("TGA")));
    }

    void ClosingDuringADropStopsAfterTheCurrentFile() {
        REQUIRE_CODECS();
        TTempFolder folder;
        for (const char* name : {"first", "second", "third"}) {
            fs::create_directory(folder.Path() / name);
            for (const char* file : {"/a.tga", "/b.tga"}) WriteTga(folder / (name + std::string(file)), Px32, 2, 2, 1);
        }
        WriteTga(folder / "single.tga", Px32, 2, 2, 2);
        TFormUnderTest test;
        QStringList statusesAfterClose;
        test.Form.OnProcessMessages = [&](TObservedForm& form) {
            if (!form.isVisible()) statusesAfterClose << form.Label1->text();
            if (form.Label1->text() == QLatin1String("Converting: \na.tga") && form.isVisible()) form.close();
        };
        QVERIFY(DropUrls(test.Form,
                         FileUrls({folder / "first", folder / "second", folder / "third", folder / "single.tga"}))
                    .Handled);
        QVERIFY(test.Form.StopRequested());
        QVERIFY(!test.Form.isVisible());
        // The file in progress is finished; nothing after it starts, in its
        // folder or in the rest of the drop, not even a folder's scan.
        QVERIFY(Exists(folder / "first/a.png"));
        for (const char* name :
             {"first/b.png", "second/a.png", "second/b.png", "third/a.png", "third/b.png", "single.png"})
            QVERIFY2(!Exists(folder / name), name);
        QCOMPARE(statusesAfterClose, QStringList({"Converting: \na.tga"}));
        QVERIFY(test.Form.ProgressBar->isHidden());
    }

    void ProgramEndsOnceTheDropHandlerHasReturned() {
        TTempFolder folder;
        for (const char* name : {"a", "b"}) WriteTga(folder / (std::string(name) + ".tga"), Px32, 2, 2, 1);
        TFormUnderTest test;
        QVERIFY(QTest::qWaitForWindowExposed(&test.Form));
        QStringList events;
        test.Form.OnProcessMessages = [&](TObservedForm& form) {
            if (form.Label1->text() == QLatin1String("Converting: \na.tga") && form.isVisible()) {
                events << "close";
                form.close();
            }
        };
        connect(&test.Form, &TForm1::DropHandled, [&] { events << "handled"; });
        QMimeData data;
        data.setUrls({FileUrl(folder.Path().string())});
        QTimer::singleShot(0, [&] { SendDrop(test.Form, data, Qt::CopyAction); });
        // Should the event loop not end, this ends it with a telling code.
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        watchdog.start(30000);
        const int code = QCoreApplication::exec();
        events << "exit";
        QCOMPARE(code, 0);
        QCOMPARE(events, QStringList({"close", "handled", "exit"}));
        QVERIFY(!Exists(folder / "b.png"));
        if (ConversionCodecsPresent()) QVERIFY(Exists(folder / "a.png"));
    }

    void ErrorEndsTheDropAndIsReported() {
        REQUIRE_CODECS();
        TTempFolder folder;
        fs::create_directory(folder.Path() / "first");
        WriteTga(folder / "first/a.tga", Px32, 2, 2, 1);
        // A folder in the target's place: the target cannot be created.
        fs::create_directory(folder.Path() / "first/a.png");
        WriteTga(folder / "later.tga", Px32, 2, 2, 2);
        TFormUnderTest test;
        QVERIFY(DropUrls(test.Form, FileUrls({folder / "first", folder / "later.tga"})).Handled);
        QCOMPARE(test.Reports.size(), 1);
        QVERIFY2(test.Reports.front().contains(QLatin1String("a.png")), qPrintable(test.Reports.front()));
        // The writer's own text ("...!") or one with the report's full stop.
        QVERIFY2(test.Reports.front().endsWith(QLatin1Char('!')) || test.Reports.front().endsWith(QLatin1Char('.')),
                 qPrintable(test.Reports.front()));
        // The rest of the drop is not processed.
        QVERIFY(!Exists(folder / "later.png"));
        // Cursor and idle text are back before the report shows, the bar hidden.
        QCOMPARE(test.CursorAtReport, Qt::ArrowCursor);
        QCOMPARE(test.StatusAtReport, test.IdleText());
        QVERIFY(test.Form.ProgressBar->isHidden());
        QCOMPARE(test.Form.cursor().shape(), Qt::ArrowCursor);

        // The window goes on working.
        QVERIFY(DropUrls(test.Form, {FileUrl(folder / "later.tga")}).Handled);
        QVERIFY(Exists(folder / "later.png"));
        QCOMPARE(test.Reports.size(), 1);
    }

    void DropInsideARunningBatchIsHandledThere() {
        REQUIRE_CODECS();
        TTempFolder folder;
        fs::create_directory(folder.Path() / "outer");
        WriteTga(folder / "outer/a.tga", Px32, 2, 2, 1);
        WriteTga(folder / "outer/b.tga", Px32, 2, 2, 2);
        WriteTga(folder / "nested.tga", Px32, 2, 2, 3);
        TFormUnderTest test;
        QStringList order;
        test.Form.OnProcessMessages = [&](TObservedForm& form) {
            const QString status = form.Label1->text();
            if (status.startsWith(QLatin1String("Converting: ")) && !order.contains(status)) order << status;
            if (status == QLatin1String("Converting: \na.tga") && !order.contains(QLatin1String("nested"))) {
                order << "nested";
                QVERIFY(DropUrls(form, {FileUrl(folder / "nested.tga")}).Handled);
            }
        };
        QVERIFY(DropUrls(test.Form, {FileUrl(folder / "outer")}).Handled);
        QCOMPARE(order,
                 QStringList({"Converting: \na.tga", "nested", "Converting: \nnested.tga", "Converting: \nb.tga"}));
        for (const char* name : {"outer/a.png", "outer/b.png", "nested.png"}) QVERIFY2(Exists(folder / name), name);
    }

    void PathsArePassedWholeByteForByte() {
        REQUIRE_CODECS();
        TTempFolder folder;
        // Beyond the 1,023 characters a fixed buffer would have kept.
        std::string deep = folder.Path().string();
        while (deep.size() < 1100) {
            deep += "/" + std::string(200, 'd');
            fs::create_directory(deep);
        }
        const std::string longName = deep + "/long.tga";
        const std::string latin1Name = folder / "caf\xE9.tga";
        WriteTga(longName, Px32, 2, 2, 1);
        WriteTga(latin1Name, Px32, 2, 2, 2);
        TFormUnderTest test;
        QVERIFY(DropUrls(test.Form, FileUrls({longName, latin1Name})).Handled);
        QVERIFY(Exists(deep + "/long.png"));
        QVERIFY(Exists(folder / "caf\xE9.png"));
        QVERIFY(test.Reports.isEmpty());
    }
};

int RunWindowDropTests(int argc, char** argv) {
    TWindowDropTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "window_drop_test.moc"
