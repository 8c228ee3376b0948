// Names in messages and in the report: nothing breaks a line, nothing is lost.

#include "cli/text_escapes.hpp"

#include <gtest/gtest.h>

using namespace tamberlit;

TEST(TextEscapes, MessagesStayOneLineAndReportsKeepEveryByte) {
    struct TCase {
        std::string name, printable, json;
    } cases[] = {
        {"plain/a.tga", "plain/a.tga", "\"plain/a.tga\""},
        {"tab\there\nnew", "tab\\there\\nnew", "\"tab\\there\\nnew\""},
        {"quote\"back\\slash", "quote\"back\\slash", "\"quote\\\"back\\\\slash\""},
        {"\x1b[31m\x7f", "\\x1b[31m\\x7f", "\"\\u001b[31m\x7f\""},
        {"caf\xc3\xa9 \xe7\xb4\xa0\xe6\x9d\x90", "caf\xc3\xa9 \xe7\xb4\xa0\xe6\x9d\x90",
         "\"caf\xc3\xa9 \xe7\xb4\xa0\xe6\x9d\x90\""},
        // Latin-1 bytes, an overlong form, a cut sequence: no UTF-8.
        {"\xe9t\xe9", "\\xe9t\\xe9", "\"\\udce9t\\udce9\""},
        {"\xc0\xaf", "\\xc0\\xaf", "\"\\udcc0\\udcaf\""},
        {"end\xe7\xb4", "end\\xe7\\xb4", "\"end\\udce7\\udcb4\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PrintableText(c.name), c.printable);
        EXPECT_EQ(JsonString(c.name), c.json);
    }
}
