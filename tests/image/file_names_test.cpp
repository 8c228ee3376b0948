#include "image/file_names.hpp"

#include <gtest/gtest.h>

using namespace tamberlit;

TEST(FileNames, CharPosFromFindsOneBasedPositions) {
    EXPECT_EQ(CharPosFrom("a.b.c", '.', 1), 2);
    EXPECT_EQ(CharPosFrom("a.b.c", '.', 3), 4);
    EXPECT_EQ(CharPosFrom("a.b.c", '.', 5), 0);
    EXPECT_EQ(CharPosFrom("a.b.c", '.', 6), 0);  // beyond the end
    EXPECT_EQ(CharPosFrom("", '.', 1), 0);
    EXPECT_EQ(CharPosFrom("abc", '.', 1), 0);
    EXPECT_THROW(CharPosFrom("abc", '.', 0), EAssertionFailed);
}

TEST(FileNames, ChangeFileExtensionTable) {
    struct Case {
        const char* path;
        const char* ext;
        const char* result;
    } cases[] = {
        {"/in/x.bmp", ".png", "/in/x.png"},
        {"/in/x.bmp", "png", "/in/x.png"},
        {"/in/x.tar.bmp", ".tga", "/in/x.tar.tga"},
        {"/in.old/photo", ".tga", "/in.old/photo.tga"},
        {"/in/x.", ".tga", "/in/x.tga"},
        {"/in/.bmp", ".tga", "/in/.tga"},
        {"x", "a.b", "xa.b"},
        {"/in/x.BMP", ".png", "/in/x.png"},
    };
    for (const auto& c : cases) EXPECT_EQ(ChangeFileExtension(c.path, c.ext), c.result) << c.path << " " << c.ext;
}

TEST(FileNames, RemoveFileExtensionStopsAtTheLastFolder) {
    EXPECT_EQ(RemoveFileExtension("/a.b/c"), "/a.b/c");
    EXPECT_EQ(RemoveFileExtension("/a.b/c.d"), "/a.b/c");
    EXPECT_EQ(RemoveFileExtension("noext"), "noext");
    EXPECT_EQ(RemoveFileExtension(".hidden"), "");
    // A "." inside a multi-byte UTF-8 name is still just a byte: names stay whole.
    EXPECT_EQ(RemoveFileExtension("/bilder/\xE5\x9B\xBE.png"), "/bilder/\xE5\x9B\xBE");
}

TEST(FileNames, ExtractFileNameAndCaseHelpers) {
    EXPECT_EQ(ExtractFileName("/a/b/c.png"), "c.png");
    EXPECT_EQ(ExtractFileName("c.png"), "c.png");
    EXPECT_TRUE(EndsWithTextAscii("PHOTO.JPEG", ".jpeg"));
    EXPECT_FALSE(EndsWithTextAscii("peg", ".jpeg"));
    EXPECT_EQ(UpperCaseAscii(".png\xC3\xA4"), ".PNG\xC3\xA4");
}
