#pragma once
// A work list (--files-from): the entries of a file or of standard input, one
// a line or separated by NUL bytes (as find -print0 writes them), read as a
// stream so that a list of millions of entries is never held whole.

#include <functional>
#include <string>

namespace tamberlit {

enum class TEntrySeparator { Line, Nul };

// Calls take(entry) for every entry of the list in order; empty entries are
// skipped. path "-" reads standard input. Raises EFOpenError when the list
// cannot be opened and EReadError when reading it fails.
void ReadWorkList(const std::string& path, TEntrySeparator separator, const std::function<void(std::string&&)>& take);

}  // namespace tamberlit
