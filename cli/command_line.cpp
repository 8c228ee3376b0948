#include "cli/command_line.hpp"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <charconv>
#include <ostream>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "convert/batch_conversion.hpp"
#include "convert/batch_plan.hpp"
#include "image/file_names.hpp"
#include "image/limits.hpp"
#include "version.hpp"

namespace tamberlit {

namespace {

std::atomic<bool> interrupted{false};

void OnInterrupt(int) {
    interrupted.store(true);
    // A second Ctrl-C ends the program at once.
    ::signal(SIGINT, SIG_DFL);
}

uint64_t ParseNumber(const std::string& option, const std::string& text) {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        throw std::invalid_argument(option + " needs a whole number, not \"" + text + "\"");
    return value;
}

std::string NormaliseTarget(const std::string& text) {
    const std::string target = LowerCaseAscii(text.empty() || text[0] == '.' ? text : "." + text);
    if (target != ".png" && target != ".tga" && target != ".bmp")
        throw std::invalid_argument("--to takes .png, .tga or .bmp, not \"" + text + "\"");
    return target;
}

// A message line as a terminal shows it and a script reads it: one line per
// message whatever the names in it hold. Control characters and bytes that
// are not UTF-8 become escapes (\n, \t, \x1b...); valid UTF-8 is kept.
std::string PrintableText(const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    std::string printable;
    printable.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    for (size_t i = 0; i < size;) {
        const unsigned char c = bytes[i];
        size_t length = 0;  // of a valid UTF-8 sequence starting here, 0 if none
        if (c >= 0x20 && c < 0x7f) {
            length = 1;
        } else if (c >= 0xc2 && c <= 0xf4) {
            const size_t want = c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4;
            // The second byte's range rules out overlong forms, surrogates
            // and code points past U+10FFFF.
            const unsigned char low = c == 0xe0 ? 0xa0 : c == 0xf0 ? 0x90 : 0x80;
            const unsigned char high = c == 0xed ? 0x9f : c == 0xf4 ? 0x8f : 0xbf;
            bool valid = i + want <= size && bytes[i + 1] >= low && bytes[i + 1] <= high;
            for (size_t k = 2; valid && k < want; ++k) valid = bytes[i + k] >= 0x80 && bytes[i + k] <= 0xbf;
            if (valid) length = want;
        }
        if (length > 0) {
            printable.append(text, i, length);
            i += length;
            continue;
        }
        if (c == '\n') printable += "\\n";
        else if (c == '\t') printable += "\\t";
        else if (c == '\r') printable += "\\r";
        else {
            printable += "\\x";
            printable += hex[c >> 4];
            printable += hex[c & 15];
        }
        ++i;
    }
    return printable;
}

class TCommandLineHost : public TConversionHost {
public:
    TCommandLineHost(const TCommandLineOptions& options, std::ostream& out, std::ostream& err)
        : options_(options), out_(out), err_(err), showProgress_(::isatty(STDERR_FILENO) != 0 &&
                                                                 options.Verbosity != TVerbosity::Quiet) {}

    std::string TargetExtension() override { return options_.TargetExtension; }
    bool AlphaOnly() override { return options_.AlphaOnly; }
    bool StopRequested() override { return interrupted.load(); }
    TSizeLimits SizeLimits() override {
        return options_.MaxPixels != 0 ? TSizeLimits{options_.MaxPixels} : TSizeLimits{};
    }

    void SetStatusText(const std::string& text) override {
        std::lock_guard lock(mutex_);
        std::string line = text;
        for (char& c : line)
            if (c == '\n') c = ' ';
        status_ = PrintableText(line);
        DrawProgress();
    }
    // The command line shows its own progress over the whole run (SetTotal);
    // the per-folder progress of the batch driver is not used.
    void SetProgressRange(int, int) override {}
    void SetProgressPosition(int) override {}
    void SetProgressVisible(bool) override {}
    void ProcessMessages() override {}

    void SetTotal(size_t total) { total_ = total; }

    void FileDone(const std::string& source, const std::string& target, TFileOutcome outcome,
                  const std::string& detail) override {
        std::lock_guard lock(mutex_);
        ++finished_;
        switch (outcome) {
            case TFileOutcome::Converted:
                ++converted_;
                if (options_.Verbosity == TVerbosity::Verbose) Say(out_, "converted " + source + " -> " + target);
                break;
            case TFileOutcome::ConvertedCutShort:
                ++converted_;
                cutShort_.push_back(source);
                if (options_.Verbosity == TVerbosity::Verbose)
                    Say(out_, "converted from a cut-short file " + source + " -> " + target + " (" + detail + ")");
                break;
            case TFileOutcome::NotThirtyTwoBit:
                ++notThirtyTwoBit_;
                if (options_.Verbosity == TVerbosity::Verbose) Say(out_, "skipped (not 32-bit) " + source);
                break;
            case TFileOutcome::Unreadable:
                ++unreadable_;
                if (options_.Verbosity == TVerbosity::Verbose) Say(out_, "unreadable " + source + ": " + detail);
                break;
            case TFileOutcome::Unwritable:
                ++unwritable_;
                if (options_.Verbosity != TVerbosity::Quiet)
                    Say(err_, "tamberlit-cli: " + target + ": read-only target left as it is");
                break;
            case TFileOutcome::NoWriter: break;
        }
    }

    bool ContinueAfterError(const std::string& source, const std::exception& error) override {
        std::lock_guard lock(mutex_);
        ++finished_;
        ++failed_;
        Say(err_, "tamberlit-cli: " + source + ": " + error.what());
        return true;
    }

    void FolderUnreadable(const std::string& folder, const std::string& reason) override {
        std::lock_guard lock(mutex_);
        ++foldersNotRead_;
        Say(err_, "tamberlit-cli: " + folder + ": folder not read: " + reason);
    }

    void MissingPath(const std::string& path) {
        std::lock_guard lock(mutex_);
        ++failed_;
        Say(err_, "tamberlit-cli: " + path + ": no such file or folder");
    }

    void PrintSummary() {
        std::lock_guard lock(mutex_);
        ClearProgress();
        if (options_.Verbosity == TVerbosity::Quiet) return;
        std::string summary = "converted " + std::to_string(converted_) + ", skipped as not 32-bit " +
                              std::to_string(notThirtyTwoBit_) + ", unreadable " + std::to_string(unreadable_) +
                              ", failed " + std::to_string(failed_);
        if (!cutShort_.empty()) summary += ", " + CutShortSummary();
        if (unwritable_ > 0) summary += ", read-only targets left " + std::to_string(unwritable_);
        if (foldersNotRead_ > 0) summary += ", folders not read " + std::to_string(foldersNotRead_);
        if (unreadable_ > 0 && options_.Verbosity != TVerbosity::Verbose) summary += " (--verbose lists them)";
        if (interrupted.load()) summary += "; interrupted";
        out_ << PrintableText(summary) << '\n';
    }

    // Files that failed and folders that could not be searched.
    unsigned Failed() const { return failed_ + foldersNotRead_; }

private:
    // Their copies lack what the sources do not hold: name them, so that
    // nobody deletes a source believing its copy complete.
    std::string CutShortSummary() {
        constexpr size_t named = 10;
        std::sort(cutShort_.begin(), cutShort_.end());  // the same words whatever the workers' order
        std::string text = "converted from a cut-short file " + std::to_string(cutShort_.size()) + " (";
        for (size_t i = 0; i < std::min(named, cutShort_.size()); ++i) text += (i > 0 ? ", " : "") + cutShort_[i];
        if (cutShort_.size() > named)
            text += " and " + std::to_string(cutShort_.size() - named) + " more" +
                    (options_.Verbosity == TVerbosity::Verbose ? "" : ", --verbose lists them");
        return text + ")";
    }

    void Say(std::ostream& stream, const std::string& line) {
        ClearProgress();
        stream << PrintableText(line) << '\n';
        stream.flush();
    }
    void DrawProgress() {
        if (!showProgress_) return;
        err_ << "\r\033[K[" << finished_ + 1 << '/' << total_ << "] "
             << std::string_view(status_).substr(0, std::min<size_t>(status_.size(), 100));
        err_.flush();
        drawn_ = true;
    }
    void ClearProgress() {
        if (drawn_) {
            err_ << "\r\033[K";
            err_.flush();
            drawn_ = false;
        }
    }

    const TCommandLineOptions& options_;
    std::ostream& out_;
    std::ostream& err_;
    bool showProgress_;
    bool drawn_ = false;
    std::mutex mutex_;
    std::string status_;
    size_t total_ = 0;
    size_t finished_ = 0;
    unsigned converted_ = 0, notThirtyTwoBit_ = 0, unreadable_ = 0, unwritable_ = 0, failed_ = 0,
             foldersNotRead_ = 0;
    std::vector<std::string> cutShort_;  // sources, converted
};

}  // namespace

TCommandLineOptions ParseCommandLine(const std::vector<std::string>& arguments) {
    TCommandLineOptions options;
    bool onlyPaths = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        auto value = [&](const std::string& option) -> std::string {
            const size_t equals = argument.find('=');
            if (equals != std::string::npos) return argument.substr(equals + 1);
            if (i + 1 >= arguments.size()) throw std::invalid_argument(option + " needs a value");
            return arguments[++i];
        };
        auto is = [&](const char* name) {
            return argument == name || argument.rfind(std::string(name) + "=", 0) == 0;
        };
        if (onlyPaths || argument.empty() || argument[0] != '-' || argument == "-") {
            options.Paths.push_back(argument);
        } else if (argument == "--") {
            onlyPaths = true;
        } else if (argument == "-h" || argument == "--help") {
            options.ShowHelp = true;
        } else if (argument == "--version") {
            options.ShowVersion = true;
        } else if (is("--to")) {
            options.TargetExtension = NormaliseTarget(value("--to"));
        } else if (argument == "--all") {
            options.AlphaOnly = false;
        } else if (argument == "--alpha-only") {
            options.AlphaOnly = true;
        } else if (argument == "-q" || argument == "--quiet") {
            options.Verbosity = TVerbosity::Quiet;
        } else if (argument == "-v" || argument == "--verbose") {
            options.Verbosity = TVerbosity::Verbose;
        } else if (is("--max-pixels")) {
            options.MaxPixels = ParseNumber("--max-pixels", value("--max-pixels"));
            if (options.MaxPixels == 0) throw std::invalid_argument("--max-pixels must be at least 1");
        } else if (is("--jobs") || argument.rfind("-j", 0) == 0) {
            std::string text;
            if (argument.rfind("-j", 0) == 0 && argument.size() > 2) text = argument.substr(2);
            else text = value(argument.rfind("-j", 0) == 0 ? "-j" : "--jobs");
            const uint64_t jobs = ParseNumber("-j", text);
            if (jobs == 0 || jobs > 1024) throw std::invalid_argument("-j takes a number from 1 to 1024");
            options.Jobs = static_cast<unsigned>(jobs);
        } else {
            throw std::invalid_argument("unknown option \"" + argument + "\"");
        }
    }
    return options;
}

std::string HelpText() {
    return "Usage: tamberlit-cli [OPTION]... PATH...\n"
           "Convert images with an alpha channel to TGA, PNG or BMP, each written beside\n"
           "its source under the same name with the new extension.\n"
           "\n"
           "A folder is searched with all its subfolders for .bmp, .png and .tga files\n"
           "(leaving out the target's own kind; names beginning with \".\" and links to\n"
           "folders are skipped). A file named directly may also be a JPEG (.jpg .jpeg\n"
           ".jfif .jpe .jif), a GIF (.gif, first frame) or a PNG named .dat; a file\n"
           "whose extension is the target's is rewritten in place.\n"
           "\n"
           "Options:\n"
           "  --to EXT          target: .png (default), .tga or .bmp\n"
           "  --all             convert every readable image (24-bit when it has no alpha);\n"
           "                    by default only 32-bit images, those with alpha, are converted\n"
           "  -j, --jobs N      files converted at once (default: one per processor)\n"
           "  --max-pixels N    refuse images of more than N pixels (default " +
           std::to_string(DefaultMaxPixels) + ");\n"
           "                    no side may exceed " + std::to_string(MaxImageSide) + " pixels\n"
           "  -q, --quiet       print only errors\n"
           "  -v, --verbose     print what became of every file\n"
           "  -h, --help        show this help and exit\n"
           "      --version     show the version and exit\n"
           "\n"
           "A target is replaced only once its new content is complete; a read-only\n"
           "target, or one in a folder we may not write in, is left as it is. Sources\n"
           "are only read, except a file named directly whose extension is the\n"
           "target's: it is rewritten in place and keeps only what the format is written\n"
           "with (8-bit RGB or RGBA PNG without its other chunks, uncompressed TGA or BMP).\n"
           "\n"
           "A file whose data end before its picture does is converted when it holds at\n"
           "least half of the rows (the rest left blank) and named in the summary as\n"
           "converted from a cut-short file; holding less, it is unreadable.\n"
           "\n"
           "An error is reported with the file's name and the other files are still\n"
           "converted; so is a folder that cannot be read. Ctrl-C stops after the files\n"
           "in progress.\n"
           "\n"
           "Exit status: 0 when no file failed, 1 when any file failed or a folder could\n"
           "not be read, 2 for a usage error, 130 when interrupted.\n";
}

int RunCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    TCommandLineOptions options;
    try {
        options = ParseCommandLine(arguments);
    } catch (const std::invalid_argument& error) {
        err << "tamberlit-cli: " << error.what() << "\nTry 'tamberlit-cli --help' for more information.\n";
        return 2;
    }
    if (options.ShowHelp) {
        out << HelpText();
        return 0;
    }
    if (options.ShowVersion) {
        out << "tamberlit-cli " << TAMBERLIT_VERSION << '\n';
        return 0;
    }
    if (options.Paths.empty()) {
        err << "tamberlit-cli: no PATH given\nTry 'tamberlit-cli --help' for more information.\n";
        return 2;
    }

    interrupted.store(false);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ::sigaction(SIGINT, &action, &previous);

    TCommandLineHost host(options, out, err);
    std::vector<std::string> paths;
    for (const auto& path : options.Paths) {
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0) {
            host.MissingPath(path);
            continue;
        }
        paths.push_back(path);
    }
    const TBatchPlan plan = PlanBatch(host, paths);
    host.SetTotal(plan.Files.size());
    const unsigned workers = options.Jobs != 0 ? options.Jobs : DefaultWorkerCount();
    RunBatchPlan(
        plan, workers, [&](const std::string& file) { ConvertFile(host, file); },
        [] { return interrupted.load(); });
    host.PrintSummary();
    ::sigaction(SIGINT, &previous, nullptr);
    if (interrupted.load()) return 130;
    return host.Failed() > 0 ? 1 : 0;
}

}  // namespace tamberlit
