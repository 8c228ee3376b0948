#include "cli/command_line.hpp"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <memory>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "cli/run_report.hpp"
#include "cli/text_escapes.hpp"
#include "convert/batch_conversion.hpp"
#include "convert/memory_budget.hpp"
#include "image/commit_queue.hpp"
#include "image/file_names.hpp"
#include "image/limits.hpp"
#include "image/stream.hpp"
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

// "K/N" with 0 <= K < N.
TShard ParseShard(const std::string& text) {
    const size_t slash = text.find('/');
    const std::string usage = "--shard takes K/N with 0 <= K < N, not \"" + text + "\"";
    if (slash == std::string::npos) throw std::invalid_argument(usage);
    uint64_t index = 0, count = 0;
    try {
        index = ParseNumber("--shard", text.substr(0, slash));
        count = ParseNumber("--shard", text.substr(slash + 1));
    } catch (const std::invalid_argument&) {
        throw std::invalid_argument(usage);
    }
    if (count == 0 || index >= count || count > UINT32_MAX) throw std::invalid_argument(usage);
    return {static_cast<uint32_t>(index), static_cast<uint32_t>(count)};
}

// A number of bytes, with an optional K, M, G or T (powers of 1024).
uint64_t ParseBytes(const std::string& option, const std::string& text) {
    std::string digits = text;
    uint64_t unit = 1;
    if (!digits.empty()) {
        switch (UpperAscii(digits.back())) {
            case 'K': unit = uint64_t{1} << 10; break;
            case 'M': unit = uint64_t{1} << 20; break;
            case 'G': unit = uint64_t{1} << 30; break;
            case 'T': unit = uint64_t{1} << 40; break;
        }
        if (unit != 1) digits.pop_back();
    }
    const uint64_t value = ParseNumber(option, digits);
    if (value == 0 || value > UINT64_MAX / unit) throw std::invalid_argument(option + " takes a size from 1 byte on");
    return value * unit;
}

std::string NormaliseTarget(const std::string& text) {
    const std::string target = LowerCaseAscii(text.empty() || text[0] == '.' ? text : "." + text);
    if (target != ".png" && target != ".tga" && target != ".bmp" && target != ".gif")
        throw std::invalid_argument("--to takes .png, .tga, .bmp or .gif, not \"" + text + "\"");
    return target;
}

// The words of --palette and --dither, in the order --help lists them.
struct TNamedReduction {
    const char* Name;
    TColorReduction Method;
};
constexpr TNamedReduction paletteNames[] = {
    {"optimized", rmOptimized},  {"optimized-system", rmOptimizedWindows},
    {"cube", rmNetscape},        {"gray", rmGreyRamp},
    {"four-grays", rmFourGreys}, {"mono", rmBlackWhite},
    {"default20", rmWindows20},  {"halftone", rmWindowsHalftone},
};
struct TNamedDither {
    const char* Name;
    TDitherMode Mode;
};
constexpr TNamedDither ditherNames[] = {
    {"none", dmNearest},  {"floyd-steinberg", dmFloydSteinberg},        {"stucki", dmStucki},
    {"sierra", dmSierra}, {"jarvis-judice-ninke", dmJarvisJudiceNinke}, {"stevenson-arche", dmStevensonArce},
    {"burkes", dmBurkes},
};

template <typename TNamed, size_t count>
auto ParseName(const std::string& option, const std::string& text, const TNamed (&names)[count]) {
    std::string known;
    for (const auto& named : names) {
        if (LowerCaseAscii(text) == named.Name) return named;
        known += std::string(known.empty() ? "" : ", ") + named.Name;
    }
    throw std::invalid_argument(option + " takes " + known + ", not \"" + text + "\"");
}

// A power of 2 from 2 to 256; returns its exponent.
int ParseColorCount(const std::string& text) {
    const std::string usage = "--colors takes 2, 4, 8, 16, 32, 64, 128 or 256, not \"" + text + "\"";
    uint64_t count = 0;
    try {
        count = ParseNumber("--colors", text);
    } catch (const std::invalid_argument&) {
        throw std::invalid_argument(usage);
    }
    for (int bits = 1; bits <= 8; ++bits)
        if (count == uint64_t{1} << bits) return bits;
    throw std::invalid_argument(usage);
}

class TCommandLineHost : public TConversionHost {
public:
    TCommandLineHost(const TCommandLineOptions& options, std::ostream& out, std::ostream& err)
        : options_(options), out_(out), err_(err),
          showProgress_(::isatty(STDERR_FILENO) != 0 && options.Verbosity != TVerbosity::Quiet) {}

    std::string TargetExtension() override { return options_.TargetExtension; }
    TGIFSettings GIFSettings() override { return options_.GIF; }
    bool AlphaOnly() override { return options_.AlphaOnly; }
    bool StopRequested() override { return interrupted.load(); }
    TSizeLimits SizeLimits() override {
        return options_.MaxPixels != 0 ? TSizeLimits{options_.MaxPixels} : TSizeLimits{};
    }
    TCommitQueue* CommitQueue() override { return commits_; }
    void SetCommitQueue(TCommitQueue* commits) { commits_ = commits; }

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

    void FileDone(const TFileResult& result) override {
        std::lock_guard lock(mutex_);
        ++finished_;
        const bool verbose = options_.Verbosity == TVerbosity::Verbose;
        const std::string& source = result.Source;
        switch (result.Outcome) {
            case TFileOutcome::Converted:
                ++converted_;
                if (verbose) Say(out_, "converted " + source + " -> " + result.Target);
                break;
            case TFileOutcome::ConvertedCutShort:
                ++converted_;
                cutShort_.push_back(source);
                if (verbose)
                    Say(out_, "converted from a cut-short file " + source + " -> " + result.Target + " (" +
                                  result.Detail + ")");
                break;
            case TFileOutcome::NotThirtyTwoBit:
                ++notThirtyTwoBit_;
                if (verbose) Say(out_, "skipped (not 32-bit) " + source);
                break;
            case TFileOutcome::Unreadable:
                ++unreadable_;
                if (verbose) Say(out_, "unreadable " + source + ": " + result.Detail);
                break;
            case TFileOutcome::Unwritable:
                ++unwritable_;
                if (options_.Verbosity != TVerbosity::Quiet)
                    Say(err_, "tamberlit-cli: " + result.Target + ": read-only target left as it is");
                break;
            case TFileOutcome::UpToDate:
                ++upToDate_;
                if (verbose) Say(out_, "up to date " + source + " -> " + result.Target);
                break;
            case TFileOutcome::Failed:
                ++failed_;
                Say(err_, "tamberlit-cli: " + source + ": " + result.Detail);
                break;
            case TFileOutcome::NoWriter: break;
        }
        Record(result);
    }

    // Reported as FileDone's failure, with what is known of the file.
    bool ContinueAfterError(const std::string&, const std::exception&) override { return true; }

    void FolderUnreadable(const std::string& folder, const std::string& reason) override {
        std::lock_guard lock(mutex_);
        ++foldersNotRead_;
        Say(err_, "tamberlit-cli: " + folder + ": folder not read: " + reason);
        TFileResult result;
        result.Source = folder;
        result.Outcome = TFileOutcome::Failed;
        result.Detail = "folder not read: " + reason;
        Record(result);
    }

    void MissingPath(const std::string& path) {
        TFileResult result;
        result.Source = path;
        result.Outcome = TFileOutcome::Failed;
        result.Detail = "no such file or folder";
        FileDone(result);
    }

    void ListUnreadable(const std::string& message) {
        std::lock_guard lock(mutex_);
        ++failed_;
        Say(err_, "tamberlit-cli: " + message);
    }

    // Every entry's line goes to the report file as it finishes (--report).
    void OpenReport(const std::string& path) { report_ = std::make_unique<TRunReport>(path); }

    void PrintSummary() {
        std::lock_guard lock(mutex_);
        ClearProgress();
        if (options_.Verbosity == TVerbosity::Quiet) return;
        std::string summary = "converted " + std::to_string(converted_) + ", skipped as not 32-bit " +
                              std::to_string(notThirtyTwoBit_) + ", unreadable " + std::to_string(unreadable_) +
                              ", failed " + std::to_string(failed_);
        if (upToDate_ > 0) summary += ", up to date " + std::to_string(upToDate_);
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

    void Record(const TFileResult& result) {
        if (!report_) return;
        try {
            report_->Record(result);
        } catch (const Exception& error) {
            // The run goes on; the record is lost from here, and says so once.
            Say(err_, std::string("tamberlit-cli: ") + error.what());
            report_.reset();
            ++failed_;
        }
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
    unsigned converted_ = 0, notThirtyTwoBit_ = 0, unreadable_ = 0, unwritable_ = 0, failed_ = 0, foldersNotRead_ = 0,
             upToDate_ = 0;
    std::vector<std::string> cutShort_;  // sources, converted
    std::unique_ptr<TRunReport> report_;
    TCommitQueue* commits_ = nullptr;
};

}  // namespace

TCommandLineOptions ParseCommandLine(const std::vector<std::string>& arguments) {
    TCommandLineOptions options;
    bool onlyPaths = false;
    std::string paletteOption;  // the first of the GIF target's options given
    bool colorsGiven = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        auto value = [&](const std::string& option) -> std::string {
            const size_t equals = argument.find('=');
            if (equals != std::string::npos) return argument.substr(equals + 1);
            if (i + 1 >= arguments.size()) throw std::invalid_argument(option + " needs a value");
            return arguments[++i];
        };
        auto is = [&](const char* name) { return argument == name || argument.rfind(std::string(name) + "=", 0) == 0; };
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
        } else if (is("--max-memory")) {
            options.MaxMemory = ParseBytes("--max-memory", value("--max-memory"));
        } else if (is("--palette")) {
            options.GIF.Reduction = ParseName("--palette", value("--palette"), paletteNames).Method;
            if (paletteOption.empty()) paletteOption = "--palette";
        } else if (is("--colors")) {
            options.GIF.ReductionBits = ParseColorCount(value("--colors"));
            colorsGiven = true;
            if (paletteOption.empty()) paletteOption = "--colors";
        } else if (is("--dither")) {
            options.GIF.Dither = ParseName("--dither", value("--dither"), ditherNames).Mode;
            if (paletteOption.empty()) paletteOption = "--dither";
        } else if (is("--alpha-threshold")) {
            const uint64_t threshold = ParseNumber("--alpha-threshold", value("--alpha-threshold"));
            if (threshold > 255) throw std::invalid_argument("--alpha-threshold takes a number from 0 to 255");
            options.GIF.AlphaThreshold = static_cast<int>(threshold);
            if (paletteOption.empty()) paletteOption = "--alpha-threshold";
        } else if (is("--files-from")) {
            options.ListFiles.push_back(value("--files-from"));
        } else if (argument == "-0" || argument == "--null") {
            options.Separator = TEntrySeparator::Nul;
        } else if (is("--shard")) {
            options.Shard = ParseShard(value("--shard"));
        } else if (argument == "--list") {
            options.ListOnly = true;
        } else if (argument == "-u" || argument == "--update") {
            options.Update = true;
        } else if (is("--report")) {
            options.ReportPath = value("--report");
            if (options.ReportPath.empty()) throw std::invalid_argument("--report needs a file name");
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
    // Other targets keep every colour: a palette option there would be a
    // mistake the user should hear of, not a setting silently dropped.
    if (!paletteOption.empty() && options.TargetExtension != ".gif")
        throw std::invalid_argument(paletteOption + " applies only to --to .gif");
    if (colorsGiven && options.GIF.Reduction != rmOptimized)
        throw std::invalid_argument("--colors applies only to --palette optimized");
    return options;
}

std::string HelpText() {
    return "Usage: tamberlit-cli [OPTION]... [PATH]...\n"
           "Convert images with an alpha channel to TGA, PNG, BMP or GIF, each written\n"
           "beside its source under the same name with the new extension.\n"
           "\n"
           "A folder is searched with all its subfolders for .bmp, .png and .tga files\n"
           "(leaving out the target's own kind; names beginning with \".\" and links to\n"
           "folders are skipped). A file named directly may also be a JPEG (.jpg .jpeg\n"
           ".jfif .jpe .jif), a GIF (.gif, first frame) or a PNG named .dat; a file\n"
           "whose extension is the target's is rewritten in place.\n"
           "\n"
           "Options:\n"
           "  --to EXT          target: .png (default), .tga, .bmp or .gif\n"
           "  --all             convert every readable image (24-bit when it has no alpha);\n"
           "                    by default only the 32-bit images, those with alpha\n"
           "  -j, --jobs N      files converted at once (default: one per processor)\n"
           "  --max-pixels N    refuse images of more than N pixels (default " +
           std::to_string(DefaultMaxPixels) +
           ");\n"
           "                    no side may exceed " +
           std::to_string(MaxImageSide) +
           " pixels\n"
           "  --max-memory SIZE decoded pixels all workers may hold at once (default half of\n"
           "                    this machine's memory); SIZE in bytes, or with K, M, G, T\n"
           "\n"
           "GIF target (--to .gif; a usage error with any other target):\n"
           "  --palette NAME    optimized (default: computed from the image),\n"
           "                    optimized-system (236 computed and the 20 system colours),\n"
           "                    cube (216 colours), gray (256 greys), four-grays, mono\n"
           "                    (black and white), default20 (the 20 system colours),\n"
           "                    halftone\n"
           "  --colors N        colours of the optimized palette: 2, 4, 8, 16, 32, 64, 128\n"
           "                    or 256 (default); a picture of no more colours keeps them\n"
           "  --dither NAME     none (default: nearest colour), floyd-steinberg, stucki,\n"
           "                    sierra, jarvis-judice-ninke, stevenson-arche, burkes\n"
           "  --alpha-threshold T\n"
           "                    pixels with alpha below T (0 to 255, default 128) become\n"
           "                    the one transparent colour, the others opaque; 0 keeps\n"
           "                    every pixel opaque. A transparent picture keeps one entry\n"
           "                    for transparency: with 256 colours in use the least used\n"
           "                    one gives way to it, its pixels taking the nearest colour\n"
           "\n"
           "Many machines:\n"
           "  --files-from FILE take the paths from FILE (- for standard input), one a line,\n"
           "                    each handled as a PATH; read as a stream\n"
           "  -0, --null        entries of --files-from end with NUL, not newline (find\n"
           "                    -print0); with --list, print NUL-separated sources\n"
           "  --shard K/N       convert only shard K of N (0 <= K < N): the files whose\n"
           "                    target's path, as written and lexically normal, has an\n"
           "                    FNV-1a 64-bit hash equal to K modulo N. N runs of the same\n"
           "                    list convert every file once and write what one run would\n"
           "  --list            print the work of the run, one source a line in the order\n"
           "                    of a run, a tab and its target (escaped as in messages),\n"
           "                    without reading or writing a picture\n"
           "  -u, --update      convert only where the target is missing or older than a\n"
           "                    source of it; the others count as up to date\n"
           "  --report FILE     write a JSON line for every entry as it finishes: source,\n"
           "                    target, outcome, reason, width, height, pixel_format,\n"
           "                    bytes_written, milliseconds (names keep bytes that are not\n"
           "                    UTF-8 as \\udc80 to \\udcff, as Python's surrogateescape)\n"
           "\n"
           "  -q, --quiet       print only errors\n"
           "  -v, --verbose     print what became of every file\n"
           "  -h, --help        show this help and exit\n"
           "      --version     show the version and exit\n"
           "\n"
           "A target is replaced only once its new content is complete; a read-only\n"
           "target, or one in a folder we may not write in, is left as it is. Sources\n"
           "are only read, except a file named directly whose extension is the\n"
           "target's: it is rewritten in place and keeps only what the format is written\n"
           "with (8-bit RGB or RGBA PNG without its other chunks, uncompressed TGA or BMP);\n"
           "a GIF is not rewritten as a GIF, which would keep only its first frame.\n"
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

namespace {

// --list: the sources in the order a run takes them, with their targets, or
// alone and NUL-separated, ready for --files-from -0.
void PrintList(const TBatchPlan& plan, const TCommandLineOptions& options, std::ostream& out) {
    for (size_t i = 0; i < plan.FileCount(); ++i) {
        const std::string file = plan.File(i);
        if (options.Separator == TEntrySeparator::Nul) out << file << '\0';
        else
            out << PrintableText(file) << '\t' << PrintableText(ChangeFileExtension(file, options.TargetExtension))
                << '\n';
    }
    out.flush();
}

// Holds a file's share of the memory budget while it converts.
class TBudgetShare {
public:
    TBudgetShare(TMemoryBudget& budget, uint64_t bytes) : budget_(budget), bytes_(bytes) {
        if (bytes_ > 0) budget_.Acquire(bytes_);
    }
    ~TBudgetShare() {
        if (bytes_ > 0) budget_.Release(bytes_);
    }
    TBudgetShare(const TBudgetShare&) = delete;
    TBudgetShare& operator=(const TBudgetShare&) = delete;

private:
    TMemoryBudget& budget_;
    uint64_t bytes_;
};

}  // namespace

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
    if (options.Paths.empty() && options.ListFiles.empty()) {
        err << "tamberlit-cli: no PATH given\nTry 'tamberlit-cli --help' for more information.\n";
        return 2;
    }

    TCommandLineHost host(options, out, err);
    if (!options.ReportPath.empty() && !options.ListOnly) {
        try {
            host.OpenReport(options.ReportPath);
        } catch (const Exception& error) {
            err << "tamberlit-cli: " << PrintableText(error.what()) << '\n';
            return 1;
        }
    }

    interrupted.store(false);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ::sigaction(SIGINT, &action, &previous);

    // The plan holds this shard's files only: a list of millions of entries
    // passes through without being kept.
    // An incremental run's plan knows which groups are up to date: the looks
    // at sources and targets that make it serve both.
    TBatchPlanner planner(host, options.Shard, options.Update && !options.ListOnly);
    auto add = [&](const std::string& path) {
        if (planner.Add(path) == TBatchPlanner::TAdded::Missing) host.MissingPath(path);
    };
    for (const auto& path : options.Paths) add(path);
    for (const auto& list : options.ListFiles) {
        try {
            ReadWorkList(list, options.Separator, add);
        } catch (const Exception& error) {
            host.ListUnreadable(error.what());
        }
    }
    const TBatchPlan plan = planner.Finish();

    if (options.ListOnly) {
        PrintList(plan, options, out);
    } else {
        host.SetTotal(plan.FileCount());
        const unsigned workers = options.Jobs != 0 ? options.Jobs : DefaultWorkerCount();
        TMemoryBudget budget(options.MaxMemory != 0 ? options.MaxMemory : DefaultMemoryBudget());
        // Headers are read for the budget only when the workers could hold
        // more than it between them.
        const bool share = workers > 1 && LargestConversionBytes(host.SizeLimits()) * workers > budget.Total();
        auto runGroup = [&](size_t group) {
            // --update, as cp -u and rsync -u decide: a group is converted again
            // as a whole, in list order, when any of its targets is missing or
            // older than a source, so that each target is what a full run writes.
            if (plan.UpToDate(group)) {
                for (const uint32_t index : plan.Group(group)) {
                    TFileResult result;
                    result.Source = plan.File(index);
                    result.Target = ChangeFileExtension(result.Source, options.TargetExtension);
                    result.Outcome = TFileOutcome::UpToDate;
                    host.FileDone(result);
                }
                return;
            }
            for (const uint32_t index : plan.Group(group)) {
                if (interrupted.load()) return;
                const std::string file = plan.File(index);
                TBudgetShare held(budget, share ? ConversionBytes(file) : 0);
                ConvertFile(host, file);
            }
        };
        // A target that replaces a file is synced before it takes the old
        // one's place; those syncs run beside the next conversions.
        TCommitQueue commits;
        host.SetCommitQueue(&commits);
        RunBatchPlan(plan, workers, runGroup, [] { return interrupted.load(); });
        commits.Wait();
        host.SetCommitQueue(nullptr);
        host.PrintSummary();
    }
    ::sigaction(SIGINT, &previous, nullptr);
    if (interrupted.load()) return 130;
    return host.Failed() > 0 ? 1 : 0;
}

}  // namespace tamberlit
