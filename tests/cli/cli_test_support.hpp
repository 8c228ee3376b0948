#pragma once
// Helpers for the tests that run tamberlit-cli under fault injectors and on
// odd folders: running a shell command, finding a tool, pictures with known
// pixels, and a snapshot of a folder's files to compare before and after.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "formats/png/png_bitmap.hpp"
#include "formats/tga/tga_file.hpp"
#include "convert/image_format_conversions.hpp"
#include "tests/support/test_support.hpp"

namespace tamberlit::testing {

struct TCommandRun {
    int exitCode = -1;   // -1 when the program did not exit by itself
    int signal = 0;      // the signal that ended it, if one did
    std::string output;  // standard output and standard error together
};

inline std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted.append("'\\''");
        else quoted.push_back(c);
    }
    return quoted + "'";
}

// "tamberlit-cli" with its arguments, quoted for the shell.
inline std::string CliCommand(const std::vector<std::string>& arguments) {
    std::string command = ShellQuote(TAMBERLIT_CLI_PATH);
    for (const auto& argument : arguments) command += " " + ShellQuote(argument);
    return command;
}

// Runs command through /bin/sh with standard input closed. A program ended
// by a signal is seen as such even behind a tracer that re-raises it or exits
// with 128 + the signal's number, as a shell would.
inline TCommandRun RunShell(const std::string& command) {
    TCommandRun run;
    FILE* pipe = ::popen(("exec " + command + " </dev/null 2>&1").c_str(), "r");
    if (!pipe) return run;
    std::array<char, 4096> buffer{};
    size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.output.append(buffer.data(), got);
    const int status = ::pclose(pipe);
    if (WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
        if (run.exitCode > 128 && run.exitCode < 128 + 65) {
            run.signal = run.exitCode - 128;
            run.exitCode = -1;
        }
    } else if (WIFSIGNALED(status)) {
        run.signal = WTERMSIG(status);
    }
    return run;
}

// strace with the program to trace after it. LeakSanitizer cannot work under
// a tracer and would fail a sanitizer build's run, so it is switched off there.
inline std::string Strace(const std::string& options) { return "env ASAN_OPTIONS=detect_leaks=0 strace " + options; }

inline bool HaveTool(const std::string& name) {
    return std::system(("command -v " + ShellQuote(name) + " >/dev/null 2>&1").c_str()) == 0;
}

// Why strace cannot be used here, or "" when it can: it may be missing, or
// tracing may be forbidden (a container without ptrace).
inline std::string StraceUnavailable() {
    if (!HaveTool("strace")) return "strace is missing (Debian: strace)";
    const TCommandRun probe = RunShell("strace -f -qq -o /dev/null true");
    if (probe.exitCode != 0) return "strace cannot trace here: " + probe.output;
    return "";
}

// A picture whose pixels differ from each other and, by seed, from another's.
inline void PaintPicture(TBitmap& bitmap, int width, int height, int seed) {
    PaintPixels(bitmap, width, height, Px32, [seed](int x, int y, int channel) {
        const int values[4] = {x * 7, y * 13, x * y, x + y};
        return values[channel] + seed;
    });
}

inline void SaveTgaFile(TBitmap& bitmap, const std::string& path) {
    TTGAFile file;
    file.AssignBitmap(bitmap);
    file.SaveFile(path);
}

inline void SavePngFile(TBitmap& bitmap, const std::string& path) {
    TPNGBitmap png;
    png.CopyFrom(&bitmap);
    png.SaveFile(path);
}

// The picture in a file as RGBA bytes, or nothing when it cannot be read.
inline std::vector<uint8_t> PicturePixels(const std::string& path) {
    TBitmap bitmap;
    if (!LoadImageFile(path, bitmap)) return {};
    return RgbaPixels(bitmap);
}

// Every entry below a folder (links not followed): a file by the hash of
// its bytes, a link by where it points, anything else by its kind.
inline std::map<std::string, std::string> FolderSnapshot(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> snapshot;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        const std::string name = it->path().lexically_relative(folder).string();
        const auto status = it->symlink_status();
        if (fs::is_symlink(status)) snapshot[name] = "link to " + fs::read_symlink(it->path()).string();
        else if (fs::is_regular_file(status)) snapshot[name] = Sha256Hex(ReadFileBytes(it->path().string()));
        else if (fs::is_directory(status)) snapshot[name] = "folder";
        else snapshot[name] = "special";
    }
    return snapshot;
}

// The temporary files a save leaves behind (".<name>.tmp-XXXXXX") anywhere below folder.
inline std::vector<std::string> StrayTemporaries(const std::filesystem::path& folder) {
    std::vector<std::string> found;
    for (const auto& [name, content] : FolderSnapshot(folder))
        if (std::filesystem::path(name).filename().string().find(".tmp-") != std::string::npos) found.push_back(name);
    return found;
}

}  // namespace tamberlit::testing
