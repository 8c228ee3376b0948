#pragma once
// tamberlit-cli: the batch driver without a window, for scripts, servers,
// large trees and many machines.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/work_list.hpp"
#include "convert/batch_plan.hpp"
#include "convert/gif_target.hpp"

namespace tamberlit {

enum class TVerbosity { Quiet, Normal, Verbose };

struct TCommandLineOptions {
    std::string TargetExtension = ".png";
    bool AlphaOnly = true;
    unsigned Jobs = 0;  // 0: one per processor
    TVerbosity Verbosity = TVerbosity::Normal;
    uint64_t MaxPixels = 0;  // 0: the built-in default
    uint64_t MaxMemory = 0;  // 0: half of the machine's memory
    TGIFSettings GIF;        // --palette, --colors, --dither, --alpha-threshold
    std::vector<std::string> Paths;
    std::vector<std::string> ListFiles;  // --files-from, in order after the paths
    TEntrySeparator Separator = TEntrySeparator::Line;
    TShard Shard;
    bool ListOnly = false;  // --list
    bool Update = false;    // --update
    std::string ReportPath;
    bool ShowHelp = false;
    bool ShowVersion = false;
};

// Parses the arguments (without the program name). Raises std::invalid_argument
// with a message for the user on a bad option.
TCommandLineOptions ParseCommandLine(const std::vector<std::string>& arguments);

std::string HelpText();

// Runs the whole command; returns the process exit status.
int RunCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace tamberlit
