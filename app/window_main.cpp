// The program body of the conversion window.

#include <QApplication>
#include <QIcon>

#include "app/window_form.hpp"
#include "version.hpp"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tamberlit"));
    QApplication::setApplicationVersion(QStringLiteral(TAMBERLIT_VERSION));
    // Lets desktops match the window to its .desktop entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("tamberlit"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tamberlit/tamberlit-64.png")));

    tamberlit::TForm1 Form1;
    Form1.show();
    return QApplication::exec();
}
