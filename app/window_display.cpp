#include "app/window_display.hpp"

namespace tamberlit {

std::string MissingDisplayMessage(const TEnvironment& environment, const std::vector<std::string>& arguments) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = environment(name);
        if (value && *value) return {};
    }
    // Qt takes its options with one dash or two.
    for (const std::string& argument : arguments)
        if (argument == "-platform" || argument == "--platform") return {};
    // Over ssh or in a container the user most likely came through `make run`:
    // name the two ways on from there.
    return "tamberlit: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are unset); "
           "try the window with 'xvfb-run make run', or the command line with 'make run ARGS=\"--help\"'";
}

}  // namespace tamberlit
