#include "convert/batch_conversion.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <chrono>
#include <cerrno>
#include <optional>

#include "image/bitmap.hpp"
#include "image/commit_queue.hpp"
#include "image/file_names.hpp"
#include "convert/image_format_conversions.hpp"
#include "image/stream.hpp"

namespace tamberlit {

namespace {

const char* const sourceExtensions[] = {".bmp", ".png", ".tga"};

bool MatchFrom(const char* name, const char* mask) {
    // Iterative wildcard match with backtracking to the last "*".
    const char* starMask = nullptr;
    const char* starName = nullptr;
    while (*name) {
        if (*mask == '*') {
            starMask = ++mask;
            starName = name;
        } else if (*mask == '?' || (*mask && LowerAscii(*mask) == LowerAscii(*name))) {
            ++mask;
            ++name;
        } else if (starMask) {
            mask = starMask;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*mask == '*') ++mask;
    return *mask == 0;
}

struct TFolderEntry {
    std::string name;
    bool isFolder = false;  // a real folder, not a link to one
    bool isLinkToFolder = false;
    bool operator<(const TFolderEntry& other) const { return name < other.name; }
};

// The entries of one folder, in byte order, without "." names. Each entry is
// looked at relative to the open folder, so a name is never resolved through
// a path longer than the folder's own. A subfolder (followLink false) is
// opened only if it is still a folder and not a link put in its place since
// it was listed. A folder that cannot be read lists nothing and leaves the
// system's error number in *error.
std::vector<TFolderEntry> FolderEntries(const std::string& folder, bool followLink, int* error) {
    std::vector<TFolderEntry> entries;
    *error = 0;
    // A trailing "/" would have the link followed all the same.
    std::string path = folder.empty() ? std::string(".") : folder;
    if (!followLink && path.size() > 1 && path.back() == '/') path.pop_back();
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
    DIR* directory = descriptor >= 0 ? ::fdopendir(descriptor) : nullptr;
    if (!directory) {
        *error = errno;
        if (descriptor >= 0) ::close(descriptor);
        return entries;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(directory);
        if (!entry) {
            *error = errno;
            break;
        }
        if (entry->d_name[0] == '.') continue;
        TFolderEntry item;
        item.name = entry->d_name;
        // The folder's own word on an entry's type saves asking for each
        // file; a link is followed, and a file system that does not say is asked.
        if (entry->d_type == DT_REG) {
            entries.push_back(std::move(item));
            continue;
        }
        struct stat status {};
        if (entry->d_type == DT_DIR) {
            item.isFolder = true;
        } else if (::fstatat(descriptor, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
            item.isFolder = S_ISDIR(status.st_mode);
            item.isLinkToFolder = S_ISLNK(status.st_mode) && ::fstatat(descriptor, entry->d_name, &status, 0) == 0 &&
                                  S_ISDIR(status.st_mode);
        }
        entries.push_back(std::move(item));
    }
    ::closedir(directory);
    std::sort(entries.begin(), entries.end());
    return entries;
}

// A tree is at most as deep as a path can be long (each level adds at least
// two bytes), so the recursion is bounded: past PATH_MAX a folder cannot be
// opened and is reported instead of entered.
// Masks and the lists their matches go to: one walk of the tree serves them
// all, reading each folder once however many masks there are.
struct TMaskList {
    std::string mask;
    std::vector<std::string>* list;
};

void ListStep(TConversionHost& host, const std::string& folder, const std::vector<TMaskList>& masks, bool fullPaths,
              bool recursive, const std::string& subfolder) {
    host.ProcessMessages();
    int error = 0;
    const std::vector<TFolderEntry> entries = FolderEntries(folder + subfolder, subfolder.empty(), &error);
    if (error != 0) host.FolderUnreadable(folder + subfolder, SystemErrorText(error));
    for (const auto& entry : entries) {
        // A folder named like a source (x.png/) is entered below, never
        // listed as a file: its files would otherwise be converted twice.
        if (entry.isFolder || entry.isLinkToFolder) continue;
        for (const auto& [mask, list] : masks)
            if (MatchesMask(entry.name, mask))
                list->push_back((fullPaths ? folder : std::string()) + subfolder + entry.name);
    }
    if (!recursive) return;
    for (const auto& entry : entries)
        if (entry.isFolder) ListStep(host, folder, masks, fullPaths, recursive, subfolder + entry.name + "/");
}

}  // namespace

bool MatchesMask(const std::string& name, const std::string& mask) { return MatchFrom(name.c_str(), mask.c_str()); }

bool IsFolder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

void ListFiles(TConversionHost& host, const std::string& folder, const std::string& mask,
               std::vector<std::string>& list, bool fullPaths, bool recursive) {
    ListStep(host, folder, {{mask, &list}}, fullPaths, recursive, "");
}

std::vector<std::string> ListSourceFiles(TConversionHost& host, const std::string& folder) {
    const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    // All BMP sources of the tree, then all PNG, then all TGA, as one pass a
    // mask would list them; one walk reads each folder once.
    std::vector<std::vector<std::string>> lists(std::size(sourceExtensions));
    std::vector<TMaskList> masks;
    for (size_t i = 0; i < std::size(sourceExtensions); ++i)
        if (host.TargetExtension() != sourceExtensions[i])
            masks.push_back({std::string("*") + sourceExtensions[i], &lists[i]});
    ListStep(host, base, masks, true, true, "");
    std::vector<std::string> list;
    for (auto& part : lists)
        list.insert(list.end(), std::make_move_iterator(part.begin()), std::make_move_iterator(part.end()));
    return list;
}

namespace {

uint64_t FileSize(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

// Reads, tests and writes one file; what became of it goes into result.
void ConvertInto(TConversionHost& host, const std::string& path, TFileResult& result) {
    // A GIF is read as its first frame: written back over itself (or over a
    // GIF of the same name) it would lose its other frames.
    if (GetImageKind(path) == ikGIF && GetImageKind(host.TargetExtension()) == ikGIF) {
        result.Outcome = TFileOutcome::Failed;
        result.Target = ChangeFileExtension(path, host.TargetExtension());
        result.Detail = "a GIF is not converted to GIF (only its first frame would be kept)";
        return;
    }
    TBitmap bitmap;
    bitmap.Limits = host.SizeLimits();
    TRowsPresent rows;
    if (!LoadImageFile(path, bitmap, &result.Detail, &rows)) {
        result.Outcome = TFileOutcome::Unreadable;
        return;
    }
    result.Width = bitmap.Width();
    result.Height = bitmap.Height();
    result.Format = bitmap.PixelFormat();
    if (bitmap.PixelFormat() != Px32 && host.AlphaOnly()) {
        result.Outcome = TFileOutcome::NotThirtyTwoBit;
        return;
    }
    result.Target = ChangeFileExtension(path, host.TargetExtension());
    switch (SaveImageFile(bitmap, result.Target, host.GIFSettings())) {
        case TSaveResult::Written:
            result.BytesWritten = FileSize(result.Target);
            if (rows.CutShort()) {
                result.Outcome = TFileOutcome::ConvertedCutShort;
                result.Detail = rows.Text();
            } else {
                result.Outcome = TFileOutcome::Converted;
            }
            return;
        case TSaveResult::Unwritable: result.Outcome = TFileOutcome::Unwritable; return;
        case TSaveResult::NoWriter: result.Outcome = TFileOutcome::NoWriter; return;
    }
}

}  // namespace

void ConvertFile(TConversionHost& host, const std::string& path) {
    host.SetStatusText("Converting: \n" + ExtractFileName(path));
    host.ProcessMessages();
    const auto start = std::chrono::steady_clock::now();
    TFileResult result;
    result.Source = path;
    auto elapsed = [start] {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    TCommitQueue* queue = host.CommitQueue();
    std::optional<TDeferredCommit> deferred;
    if (queue) deferred.emplace();
    try {
        ConvertInto(host, path, result);
    } catch (const std::exception& error) {
        if (!host.ContinueAfterError(path, error)) throw;
        result.Outcome = TFileOutcome::Failed;
        result.Detail = error.what();
        if (result.Target.empty()) result.Target = ChangeFileExtension(path, host.TargetExtension());
    }
    TPendingCommit pending = deferred ? deferred->Take() : TPendingCommit{};
    if (pending.File) {
        // The file is written; it is done when it has taken the old one's place.
        result.BytesWritten = static_cast<uint64_t>(pending.File->Size());
        queue->Submit(std::move(pending), [&host, result, elapsed](std::exception_ptr error) mutable {
            if (error) {
                try {
                    std::rethrow_exception(error);
                } catch (const std::exception& failure) {
                    result.Outcome = TFileOutcome::Failed;
                    result.Detail = failure.what();
                    result.BytesWritten = 0;
                }
            }
            result.Milliseconds = elapsed();
            host.FileDone(result);
        });
        host.ProcessMessages();
        return;
    }
    result.Milliseconds = elapsed();
    host.FileDone(result);
    host.ProcessMessages();
}

void ConvertPath(TConversionHost& host, const std::string& path) {
    if (!IsFolder(path)) {
        ConvertFile(host, path);
        return;
    }
    host.SetStatusText("Preparing list of files inside: \n" + path);
    const std::vector<std::string> list = ListSourceFiles(host, path);
    host.SetProgressRange(0, static_cast<int>(list.size()));
    host.SetProgressVisible(true);
    try {
        // A stop raised during the scan or by the last file ends the folder:
        // the file in progress finishes and nothing else starts.
        for (size_t i = 0; i < list.size() && !host.StopRequested(); ++i) {
            host.SetProgressPosition(static_cast<int>(i));
            ConvertPath(host, list[i]);
        }
    } catch (...) {
        host.SetProgressVisible(false);
        throw;
    }
    host.SetProgressVisible(false);
}

}  // namespace tamberlit
