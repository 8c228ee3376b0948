// The program body of the conversion window.

#include <QApplication>
#include <QIcon>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/window_display.hpp"
#include "app/window_form.hpp"
#include "version.hpp"

int main(int argc, char** argv) {
    const std::string missingDisplay =
        tamberlit::MissingDisplayMessage([](const char* name) { return std::getenv(name); },
                                         std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
    if (!missingDisplay.empty()) {
        std::fprintf(stderr, "%s\n", missingDisplay.c_str());
        return 1;
    }

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
