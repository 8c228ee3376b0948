#pragma once
// Whether the window has anywhere to open. Qt answers a missing display with
// an abort and a core dump, so the program asks before Qt starts.

#include <functional>
#include <string>
#include <vector>

namespace tamberlit {

// An environment variable's value by name; nullptr when it is unset.
using TEnvironment = std::function<const char*(const char* name)>;

// The one line to print instead of starting Qt, or "" when the environment
// names a display (DISPLAY, WAYLAND_DISPLAY) or a Qt platform of its own
// choosing (QT_QPA_PLATFORM, e.g. offscreen). An empty value names nothing.
// Qt's own -platform argument among arguments (argv without the program's
// name) chooses a platform too.
std::string MissingDisplayMessage(const TEnvironment& environment, const std::vector<std::string>& arguments);

}  // namespace tamberlit
