#include "app/batch_conversion.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "image/bitmap.hpp"
#include "image/file_names.hpp"
#include "image/image_format_conversions.hpp"

namespace tamberlit {

namespace {

const char* const sourceExtensions[] = {".bmp", ".png", ".tga"};

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

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

// The entries of one folder, in byte order, without "." names.
std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* directory = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!directory) return names;  // a folder that cannot be read lists nothing
    while (const dirent* entry = ::readdir(directory)) {
        if (entry->d_name[0] == '.') continue;
        names.emplace_back(entry->d_name);
    }
    ::closedir(directory);
    std::sort(names.begin(), names.end());
    return names;
}

bool IsRealFolder(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool IsLinkToFolder(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return false;
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

void ListStep(TConversionHost& host, const std::string& folder, const std::string& mask,
              std::vector<std::string>& list, bool fullPaths, bool recursive, const std::string& subfolder) {
    host.ProcessMessages();
    const std::vector<std::string> names = FolderEntries(folder + subfolder);
    for (const auto& name : names) {
        if (!MatchesMask(name, mask)) continue;
        if (IsLinkToFolder(folder + subfolder + name)) continue;  // never follow links into folders
        list.push_back((fullPaths ? folder : std::string()) + subfolder + name);
    }
    if (!recursive) return;
    for (const auto& name : names)
        if (IsRealFolder(folder + subfolder + name))
            ListStep(host, folder, mask, list, fullPaths, recursive, subfolder + name + "/");
}

}  // namespace

bool MatchesMask(const std::string& name, const std::string& mask) { return MatchFrom(name.c_str(), mask.c_str()); }

bool IsFolder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

void ListFiles(TConversionHost& host, const std::string& folder, const std::string& mask,
               std::vector<std::string>& list, bool fullPaths, bool recursive) {
    ListStep(host, folder, mask, list, fullPaths, recursive, "");
}

std::vector<std::string> ListSourceFiles(TConversionHost& host, const std::string& folder) {
    std::vector<std::string> list;
    const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    for (const char* extension : sourceExtensions)
        if (host.TargetExtension() != extension) ListFiles(host, base, std::string("*") + extension, list, true, true);
    return list;
}

void ConvertFile(TConversionHost& host, const std::string& path) {
    TBitmap bitmap;
    host.SetStatusText("Converting: \n" + ExtractFileName(path));
    host.ProcessMessages();
    try {
        std::string failure;
        const bool loaded = LoadImageFile(path, bitmap, &failure);
        if (!loaded) {
            host.FileDone(path, "", TFileOutcome::Unreadable, failure);
        } else if (bitmap.PixelFormat() != Px32 && host.AlphaOnly()) {
            host.FileDone(path, "", TFileOutcome::NotThirtyTwoBit, "");
        } else {
            const std::string target = ChangeFileExtension(path, host.TargetExtension());
            switch (SaveImageFile(bitmap, target)) {
                case TSaveResult::Written: host.FileDone(path, target, TFileOutcome::Converted, ""); break;
                case TSaveResult::Unwritable: host.FileDone(path, target, TFileOutcome::Unwritable, ""); break;
                case TSaveResult::NoWriter: host.FileDone(path, target, TFileOutcome::NoWriter, ""); break;
            }
        }
    } catch (const std::exception& error) {
        if (!host.ContinueAfterError(path, error)) throw;
    }
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
        for (size_t i = 0; i < list.size(); ++i) {
            host.SetProgressPosition(static_cast<int>(i));
            ConvertPath(host, list[i]);
            if (host.StopRequested()) break;
        }
    } catch (...) {
        host.SetProgressVisible(false);
        throw;
    }
    host.SetProgressVisible(false);
}

}  // namespace tamberlit
