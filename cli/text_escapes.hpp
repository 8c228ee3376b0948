#pragma once
// Names as the command line shows and records them. File names are bytes:
// most are UTF-8, but any byte but "/" and NUL may stand in one, and a message
// or a report line must neither break nor lose such a name.

#include <string>
#include <string_view>

namespace tamberlit {

// One line per message whatever the names in it hold: control characters and
// bytes that are not UTF-8 become escapes (\n, \t, \x1b...); valid UTF-8 is
// kept.
std::string PrintableText(std::string_view text);

// A JSON string (with its quotes) that keeps every byte: valid UTF-8 as it
// is, quotes, backslashes and control characters escaped, and each byte that
// is not part of valid UTF-8 as the lone surrogate U+DC00 + byte (\udc80 to
// \udcff), the convention of Python's "surrogateescape" (os.fsdecode), so
// that os.fsencode(json.loads(line)["source"]) gives the name's bytes back.
std::string JsonString(std::string_view text);

}  // namespace tamberlit
