#pragma once
// File-name helpers used to build output names. Paths are UTF-8 byte strings;
// "/" is the only directory delimiter.

#include <string>
#include <string_view>

#include "image/exceptions.hpp"

namespace tamberlit {

// A broken promise between caller and callee (a programming error).
class EAssertionFailed : public Exception {
public:
    using Exception::Exception;
};

// The 1-based position of the first c in s at or after position start; 0 when
// there is none, when s is empty or when start lies beyond its end. A start
// below 1 raises EAssertionFailed.
int CharPosFrom(std::string_view s, char c, int start);

// Path without its extension: the part from the last "." to the end, provided
// no "/" follows that ".".
std::string RemoveFileExtension(std::string_view path);

// Path with its extension replaced: ext is appended as it is when it holds a
// ".", else after a ".".
std::string ChangeFileExtension(std::string_view path, std::string_view ext);

// The part of a path after its last "/".
std::string ExtractFileName(std::string_view path);

// Letter case of ASCII letters only: names are UTF-8 bytes, and no other byte
// changes. Comparisons ignore the case of ASCII letters and compare other
// bytes exactly.
inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
inline char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
bool SameTextAscii(std::string_view a, std::string_view b);
bool EndsWithTextAscii(std::string_view text, std::string_view ending);
std::string UpperCaseAscii(std::string_view text);
std::string LowerCaseAscii(std::string_view text);

}  // namespace tamberlit
