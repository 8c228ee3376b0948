#include "tests/app/window_test_support.hpp"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QSignalSpy>
#include <QWindow>

#include "image/bitmap.hpp"
#include "convert/image_format_conversions.hpp"
#include "tests/support/test_support.hpp"

namespace tamberlit::testing {

namespace {

struct TPixel {
    uint8_t Red, Green, Blue, Alpha;
};

TPixel PixelAt(int x, int y, int width, int seed, bool alpha) {
    return {static_cast<uint8_t>(x * 37 + seed * 11), static_cast<uint8_t>(y * 59 + seed * 7),
            static_cast<uint8_t>(x * y + seed * 3),
            alpha ? static_cast<uint8_t>((x + y * width) * 13 + seed * 5) : uint8_t{255}};
}

}  // namespace

void WriteBmp(const std::string& path, TPixelFormat format, int width, int height, int seed) {
    // Built byte by byte (BMP documentation: BITMAPFILEHEADER, BITMAPINFOHEADER,
    // bottom-up rows padded to 4 bytes), so the tests need no BMP writer.
    const bool alpha = format == Px32;
    const unsigned bitCount = alpha ? 32 : 24;
    const uint32_t stride = (static_cast<uint32_t>(width) * bitCount / 8 + 3) / 4 * 4;
    const uint32_t pixelBytes = stride * static_cast<uint32_t>(height);
    TBytes bytes;
    bytes.Text("BM").U32(14 + 40 + pixelBytes).U16(0).U16(0).U32(14 + 40);
    bytes.U32(40).I32(width).I32(height).U16(1).U16(bitCount).U32(0);  // BI_RGB
    bytes.U32(pixelBytes).I32(2835).I32(2835).U32(0).U32(0);
    for (int y = height - 1; y >= 0; --y) {
        size_t rowStart = bytes.Size();
        for (int x = 0; x < width; ++x) {
            const TPixel pixel = PixelAt(x, y, width, seed, alpha);
            bytes.U8(pixel.Blue).U8(pixel.Green).U8(pixel.Red);
            if (alpha) bytes.U8(pixel.Alpha);
        }
        bytes.Fill(stride - (bytes.Size() - rowStart), 0);
    }
    WriteFileBytes(path, bytes.Data());
}

void WriteTga(const std::string& path, TPixelFormat format, int width, int height, int seed) {
    // TGA 2.0: 18-byte header, no identification field, no colour map.
    const bool alpha = format == Px32;
    TBytes bytes;
    bytes.U8(0).U8(0).U8(2);    // id length, colour map type, type 2 (true colour)
    bytes.U16(0).U16(0).U8(0);  // colour map fields
    bytes.U16(0).U16(0);        // x and y origin
    bytes.U16(static_cast<unsigned>(width)).U16(static_cast<unsigned>(height));
    bytes.U8(alpha ? 32 : 24).U8(alpha ? 0x28 : 0x20);  // 8 alpha bits or none; top-left origin
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const TPixel pixel = PixelAt(x, y, width, seed, alpha);
            bytes.U8(pixel.Blue).U8(pixel.Green).U8(pixel.Red);
            if (alpha) bytes.U8(pixel.Alpha);
        }
    WriteFileBytes(path, bytes.Data());
}

std::vector<uint8_t> ExpectedPixels(int width, int height, int seed, bool alpha) {
    std::vector<uint8_t> pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const TPixel pixel = PixelAt(x, y, width, seed, alpha);
            pixels.insert(pixels.end(), {pixel.Red, pixel.Green, pixel.Blue, pixel.Alpha});
        }
    return pixels;
}

std::vector<uint8_t> ReadPixels(const std::string& path, TPixelFormat* format) {
    TBitmap bitmap;
    if (!LoadImageFile(path, bitmap)) return {};
    if (format) *format = bitmap.PixelFormat();
    return RgbaPixels(bitmap);
}

bool BmpReaderPresent() {
    static const bool present = [] {
        TTempFolder folder;
        WriteBmp(folder / "probe.bmp", Px32, 2, 2, 1);
        return !ReadPixels(folder / "probe.bmp").empty();
    }();
    return present;
}

bool ConversionCodecsPresent() {
    static const bool present = [] {
        TTempFolder folder;
        WriteTga(folder / "probe.tga", Px32, 2, 2, 1);
        TBitmap bitmap;
        if (!LoadImageFile(folder / "probe.tga", bitmap)) return false;
        if (SaveImageFile(bitmap, folder / "probe.png") != TSaveResult::Written) return false;
        return !ReadPixels(folder / "probe.png").empty();
    }();
    return present;
}

QUrl FileUrl(const std::string& path) {
    // Built from the bytes, so that names that are not UTF-8 keep them.
    return QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/"));
}

QList<QUrl> FileUrls(const std::vector<std::string>& paths) {
    QList<QUrl> urls;
    for (const auto& path : paths) urls.append(FileUrl(path));
    return urls;
}

TDropResult SendDrop(TForm1& form, const QMimeData& data, Qt::DropActions actions) {
    TDropResult result;
    QWindow* window = form.windowHandle();
    if (!window) return result;
    // Over the instructions label: the drop must find its way up to the form.
    const QPoint position = form.Label3->geometry().center();
    QDragEnterEvent enter(position, actions, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &enter);
    result.EnterAccepted = enter.isAccepted();
    if (!result.EnterAccepted) return result;
    QDragMoveEvent move(position + QPoint(1, 1), actions, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &move);
    QDropEvent drop(QPointF(position + QPoint(1, 1)), actions, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &drop);
    result.DropAccepted = drop.isAccepted();
    result.Action = drop.dropAction();
    return result;
}

TDropResult DropData(TForm1& form, const QMimeData& data, Qt::DropActions actions) {
    QSignalSpy handled(&form, &TForm1::DropHandled);
    TDropResult result = SendDrop(form, data, actions);
    if (result.DropAccepted) result.Handled = handled.count() > 0 || handled.wait(60000);
    return result;
}

TDropResult DropUrls(TForm1& form, const QList<QUrl>& urls, Qt::DropActions actions) {
    QMimeData data;
    data.setUrls(urls);
    return DropData(form, data, actions);
}

void TObservedForm::ProcessMessages() {
    if (OnProcessMessages) OnProcessMessages(*this);
    TForm1::ProcessMessages();
}

TSnapshot Snapshot(TForm1& form) {
    return {form.Label1->text(),         form.ProgressBar->isVisible(), form.ProgressBar->minimum(),
            form.ProgressBar->maximum(), form.ProgressBar->value(),     form.cursor().shape()};
}

}  // namespace tamberlit::testing
