// Runs the window's test classes in one program; with a class name as its
// first argument ("form", "drop") only that one, the rest of the arguments
// going to Qt Test.

#include <QApplication>
#include <cstring>

int RunWindowFormTests(int argc, char** argv);
int RunWindowDropTests(int argc, char** argv);

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tamberlit-window-tests"));

    const char* only = argc > 1 && argv[1][0] != '-' ? argv[1] : nullptr;
    if (only) {
        argv[1] = argv[0];
        ++argv;
        --argc;
    }
    int failures = 0;
    if (!only || std::strcmp(only, "form") == 0) failures += RunWindowFormTests(argc, argv);
    if (!only || std::strcmp(only, "drop") == 0) failures += RunWindowDropTests(argc, argv);
    return failures == 0 ? 0 : 1;
}
