// The file-name helpers on arbitrary byte strings. The input is split at its
// first 0 byte into a path and an extension (a path alone when there is none).
// What must hold for every string:
// - RemoveFileExtension gives a prefix of the path; what it drops starts with
//   "." and holds no "/"; removing again from a name without a "." in its last
//   part changes nothing.
// - ChangeFileExtension is the stem followed by the extension, with a "." put
//   in between only when the extension has none; the new name's extension is
//   the one asked for when that starts with "." and holds no "/".
// - ExtractFileName is the suffix after the last "/".
// - SameTextAscii is an equivalence that ignores ASCII letter case only;
//   EndsWithTextAscii agrees with it; UpperCaseAscii keeps the length and every
//   byte but a-z.
// - CharPosFrom agrees with a plain search and refuses a start below 1.
// - GetImageKind depends on the ending alone and ignores ASCII letter case.

#include <string>
#include <string_view>

#include "fuzz/fuzz_support.hpp"
#include "image/file_names.hpp"
#include "convert/image_format_conversions.hpp"

using namespace tamberlit;
using fuzz::Check;

namespace {

std::string LowerAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return result;
}

void CheckRemoveExtension(std::string_view path) {
    const std::string stem = RemoveFileExtension(path);
    Check(stem.size() <= path.size() && path.substr(0, stem.size()) == stem,
          "RemoveFileExtension: the stem is not a prefix of the path");
    const std::string_view dropped = path.substr(stem.size());
    if (!dropped.empty()) {
        Check(dropped[0] == '.', "RemoveFileExtension: the part dropped does not start with a dot");
        Check(dropped.find('/') == std::string_view::npos, "RemoveFileExtension: the part dropped holds a slash");
        Check(dropped.find('.', 1) == std::string_view::npos,
              "RemoveFileExtension: the part dropped is not from the last dot");
    } else {
        const size_t dot = path.rfind('.');
        Check(dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos,
              "RemoveFileExtension: an extension was left in place");
    }
}

void CheckChangeExtension(std::string_view path, std::string_view ext) {
    const std::string changed = ChangeFileExtension(path, ext);
    const std::string stem = RemoveFileExtension(path);
    const bool dotted = ext.find('.') != std::string_view::npos;
    Check(changed == stem + (dotted ? "" : ".") + std::string(ext),
          "ChangeFileExtension: not the stem followed by the extension");
    if (!ext.empty() && ext[0] == '.' && ext.find('/') == std::string_view::npos &&
        ext.find('.', 1) == std::string_view::npos) {
        Check(RemoveFileExtension(changed) == stem, "ChangeFileExtension: the stem changed");
        Check(ChangeFileExtension(changed, ext) == changed, "ChangeFileExtension: not idempotent");
        Check(EndsWithTextAscii(changed, ext), "ChangeFileExtension: the new name does not end with the extension");
        Check(GetImageKind(changed) == GetImageKind(std::string(ext)) || ext.size() < 4,
              "GetImageKind: the kind does not follow the extension");
    }
}

void CheckExtractName(std::string_view path) {
    const std::string name = ExtractFileName(path);
    Check(name.find('/') == std::string::npos, "ExtractFileName: the name holds a slash");
    Check(name.size() <= path.size() && path.substr(path.size() - name.size()) == name,
          "ExtractFileName: the name is not a suffix of the path");
    if (name.size() < path.size())
        Check(path[path.size() - name.size() - 1] == '/', "ExtractFileName: not after a slash");
}

void CheckCase(std::string_view a, std::string_view b) {
    const std::string upper = UpperCaseAscii(a);
    Check(upper.size() == a.size(), "UpperCaseAscii: the length changed");
    for (size_t i = 0; i < a.size(); ++i) {
        const char c = a[i];
        const bool lower = c >= 'a' && c <= 'z';
        Check(upper[i] == (lower ? static_cast<char>(c - 'a' + 'A') : c), "UpperCaseAscii: a byte changed wrongly");
    }
    Check(SameTextAscii(a, upper) && SameTextAscii(upper, a), "SameTextAscii: a text differs from its upper case");
    Check(SameTextAscii(a, b) == (LowerAscii(a) == LowerAscii(b)), "SameTextAscii: not a case-blind equality");
    Check(SameTextAscii(a, b) == SameTextAscii(b, a), "SameTextAscii: not symmetric");
    Check(
        EndsWithTextAscii(a, b) == (b.size() <= a.size() && LowerAscii(a.substr(a.size() - b.size())) == LowerAscii(b)),
        "EndsWithTextAscii: disagrees with a case-blind comparison of the ending");
    Check(GetImageKind(std::string(a)) == GetImageKind(upper), "GetImageKind: depends on letter case");
}

void CheckCharPos(std::string_view s, const uint8_t* data, size_t size) {
    if (size < 2) return;
    const char c = static_cast<char>(data[0]);
    const int start = static_cast<int>(data[1]) - 2;  // -2 to 253: below 1, inside and beyond the text
    if (start < 1) {
        bool refused = false;
        try {
            CharPosFrom(s, c, start);
        } catch (const EAssertionFailed&) {
            refused = true;
        }
        Check(refused, "CharPosFrom: a start below 1 was taken");
        return;
    }
    const int found = CharPosFrom(s, c, start);
    int expected = 0;
    for (size_t i = static_cast<size_t>(start - 1); i < s.size(); ++i)
        if (s[i] == c) {
            expected = static_cast<int>(i + 1);
            break;
        }
    Check(found == expected, "CharPosFrom: disagrees with a plain search");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\0');
    const std::string_view path = input.substr(0, split);
    const std::string_view ext = split == std::string_view::npos ? std::string_view(".png") : input.substr(split + 1);

    CheckRemoveExtension(path);
    CheckRemoveExtension(ext);
    CheckChangeExtension(path, ext);
    CheckChangeExtension(path, ".png");
    CheckChangeExtension(path, "tga");
    CheckExtractName(path);
    CheckCase(path, ext);
    CheckCharPos(path, data, size);
    return 0;
}
