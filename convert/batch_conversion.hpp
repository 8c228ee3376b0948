#pragma once
// The batch driver: one dropped path becomes conversions. A folder is listed
// recursively (BMP, then PNG, then TGA sources, leaving out the target's own
// kind) and its files converted one by one; a file is loaded, tested against
// the alpha-only rule and saved beside its source with the target extension.

#include <string>
#include <vector>

#include "convert/conversion_host.hpp"

namespace tamberlit {

void ConvertPath(TConversionHost& host, const std::string& path);

// Converts one file (never a folder), as ConvertPath does for a file.
void ConvertFile(TConversionHost& host, const std::string& path);

// Appends to list the entries below folder (which ends with "/") whose names
// match mask, a wildcard pattern compared without regard to letter case.
// Names beginning with "." are never listed or entered, symbolic links to
// folders are neither listed nor entered, and a folder that cannot be read
// adds nothing and is passed to the host's FolderUnreadable. Each folder's
// names are taken in byte order.
void ListFiles(TConversionHost& host, const std::string& folder, const std::string& mask,
               std::vector<std::string>& list, bool fullPaths, bool recursive);

// The sources ConvertPath lists for a folder: every ".bmp", then ".png", then
// ".tga" file of the tree, leaving out the kind the host's target names.
std::vector<std::string> ListSourceFiles(TConversionHost& host, const std::string& folder);

bool MatchesMask(const std::string& name, const std::string& mask);
bool IsFolder(const std::string& path);

}  // namespace tamberlit
