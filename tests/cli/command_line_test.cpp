#include "cli/command_line.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "tests/support/test_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
namespace fs = std::filesystem;

TEST(CommandLineOptions, DefaultsAreTheWindowsStartState) {
    const auto options = ParseCommandLine({"a"});
    EXPECT_EQ(options.TargetExtension, ".png");
    EXPECT_TRUE(options.AlphaOnly);
    EXPECT_EQ(options.Jobs, 0u);
    EXPECT_EQ(options.Paths, (std::vector<std::string>{"a"}));
}

TEST(CommandLineOptions, EveryOptionAndItsSpellings) {
    const auto options =
        ParseCommandLine({"--to", "TGA", "--all", "-j3", "--verbose", "--max-pixels=100", "--", "--odd-name", "b"});
    EXPECT_EQ(options.TargetExtension, ".tga");
    EXPECT_FALSE(options.AlphaOnly);
    EXPECT_EQ(options.Jobs, 3u);
    EXPECT_EQ(options.Verbosity, TVerbosity::Verbose);
    EXPECT_EQ(options.MaxPixels, 100u);
    EXPECT_EQ(options.Paths, (std::vector<std::string>{"--odd-name", "b"}));
    EXPECT_EQ(ParseCommandLine({"--to=.bmp", "-j", "2"}).TargetExtension, ".bmp");
    EXPECT_EQ(ParseCommandLine({"--jobs", "2"}).Jobs, 2u);
    const auto gif =
        ParseCommandLine({"--to", "GIF", "--colors=16", "--dither", "Stucki", "--alpha-threshold", "0", "a"});
    EXPECT_EQ(gif.GIF.Reduction, rmOptimized);
    EXPECT_EQ(gif.GIF.ReductionBits, 4);
    EXPECT_EQ(gif.GIF.Dither, dmStucki);
    EXPECT_EQ(gif.GIF.AlphaThreshold, 0);
    EXPECT_EQ(ParseCommandLine({"--palette=halftone", "--to", ".gif"}).GIF.Reduction, rmWindowsHalftone);
}

TEST(CommandLineOptions, BadOptionsAreUsageErrors) {
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{"--to", ".jpg", "a"},
                                               {"--to"},
                                               {"-j0", "a"},
                                               {"-jx", "a"},
                                               {"--max-pixels", "0"},
                                               {"--frobnicate"},
                                               // The GIF target's options: bad values, or given with another target.
                                               {"--to", ".gif", "--palette", "web", "a"},
                                               {"--to", ".gif", "--colors", "100", "a"},
                                               {"--to", ".gif", "--colors", "1", "a"},
                                               {"--to", ".gif", "--colors=512", "a"},
                                               {"--to", ".gif", "--dither", "atkinson", "a"},
                                               {"--to", ".gif", "--alpha-threshold", "256", "a"},
                                               {"--to", ".gif", "--palette", "cube", "--colors", "16", "a"},
                                               {"--dither", "burkes", "a"},
                                               {"--to", ".png", "--alpha-threshold", "0", "a"}}) {
        EXPECT_THROW(ParseCommandLine(arguments), std::invalid_argument) << arguments[0];
        std::ostringstream out, err;
        EXPECT_EQ(RunCommandLine(arguments, out, err), 2);
        EXPECT_NE(err.str().find("tamberlit-cli: "), std::string::npos);
    }
}

TEST(CommandLine, HelpVersionAndMissingPaths) {
    std::ostringstream out, err;
    EXPECT_EQ(RunCommandLine({"--help"}, out, err), 0);
    EXPECT_NE(out.str().find("--max-pixels"), std::string::npos);
    // Every line fits a terminal of 80 columns.
    std::istringstream help(out.str());
    for (std::string line; std::getline(help, line);) EXPECT_LE(line.size(), 80u) << line;
    EXPECT_EQ(RunCommandLine({}, out, err), 2);
    std::ostringstream out2, err2;
    EXPECT_EQ(RunCommandLine({"/no/such/path.png"}, out2, err2), 1);
    EXPECT_NE(err2.str().find("/no/such/path.png: no such file or folder"), std::string::npos);
    EXPECT_NE(out2.str().find("failed 1"), std::string::npos);
}
