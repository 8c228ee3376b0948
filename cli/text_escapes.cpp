#include "cli/text_escapes.hpp"

namespace tamberlit {

namespace {

const char hex[] = "0123456789abcdef";

// The length of the valid UTF-8 sequence (printable or not) that starts at
// bytes[i], 0 when none does.
size_t Utf8Length(const unsigned char* bytes, size_t size, size_t i) {
    const unsigned char c = bytes[i];
    if (c < 0x80) return 1;
    if (c < 0xc2 || c > 0xf4) return 0;
    const size_t want = c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4;
    // The second byte's range rules out overlong forms, surrogates and code
    // points past U+10FFFF.
    const unsigned char low = c == 0xe0 ? 0xa0 : c == 0xf0 ? 0x90 : 0x80;
    const unsigned char high = c == 0xed ? 0x9f : c == 0xf4 ? 0x8f : 0xbf;
    if (i + want > size || bytes[i + 1] < low || bytes[i + 1] > high) return 0;
    for (size_t k = 2; k < want; ++k)
        if (bytes[i + k] < 0x80 || bytes[i + k] > 0xbf) return 0;
    return want;
}

}  // namespace

std::string PrintableText(std::string_view text) {
    std::string printable;
    printable.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = bytes[i];
        const size_t length = Utf8Length(bytes, text.size(), i);
        if (length > 0 && (c >= 0x20 && c != 0x7f)) {
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

std::string JsonString(std::string_view text) {
    std::string json = "\"";
    json.reserve(text.size() + 2);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = bytes[i];
        const size_t length = Utf8Length(bytes, text.size(), i);
        if (length > 1 || (length == 1 && c >= 0x20 && c != '"' && c != '\\')) {
            json.append(text, i, length);
            i += length;
            continue;
        }
        if (c == '"') json += "\\\"";
        else if (c == '\\') json += "\\\\";
        else if (c == '\n') json += "\\n";
        else if (c == '\t') json += "\\t";
        else if (c == '\r') json += "\\r";
        else {
            // A control character (\u00XX), or a byte of no valid UTF-8
            // sequence (\udcXX).
            json += c < 0x80 ? "\\u00" : "\\udc";
            json += hex[c >> 4];
            json += hex[c & 15];
        }
        ++i;
    }
    return json + "\"";
}

}  // namespace tamberlit
