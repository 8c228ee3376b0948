#include "image/file_names.hpp"

namespace tamberlit {

int CharPosFrom(std::string_view s, char c, int start) {
    if (start < 1) throw EAssertionFailed("CharPosFrom: start must be at least 1");
    if (s.empty() || static_cast<size_t>(start) > s.size()) return 0;
    const size_t found = s.find(c, static_cast<size_t>(start - 1));
    return found == std::string_view::npos ? 0 : static_cast<int>(found + 1);
}

std::string RemoveFileExtension(std::string_view path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos) return std::string(path);
    if (path.find('/', dot) != std::string_view::npos) return std::string(path);
    return std::string(path.substr(0, dot));
}

std::string ChangeFileExtension(std::string_view path, std::string_view ext) {
    std::string result = RemoveFileExtension(path);
    if (CharPosFrom(ext, '.', 1) == 0) result += '.';
    result += ext;
    return result;
}

std::string ExtractFileName(std::string_view path) {
    const size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool SameTextAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

bool EndsWithTextAscii(std::string_view text, std::string_view ending) {
    return text.size() >= ending.size() && SameTextAscii(text.substr(text.size() - ending.size()), ending);
}

std::string UpperCaseAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = UpperAscii(c);
    return result;
}

std::string LowerCaseAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = LowerAscii(c);
    return result;
}

}  // namespace tamberlit
