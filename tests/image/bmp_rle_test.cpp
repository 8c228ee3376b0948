#include "image/bmp_rle.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace tamberlit;
using namespace tamberlit::bmp;

namespace {

// Sixteen colours, none of them black: entry i is blue i * 16 + 1.
std::vector<TRGBQuad> Colors() {
    std::vector<TRGBQuad> table;
    for (int i = 0; i < 16; ++i) table.push_back({static_cast<uint8_t>(i * 16 + 1), 0x80, 0x40, 0});
    return table;
}

// The decoded picture, top row first, rows separated by "/": each pixel is
// the hex digit of its colour-table entry, or "." for black.
std::string Decode(int bits, int width, int height, const std::vector<uint8_t>& data,
                   TRowOrder order = TRowOrder::BottomUp) {
    auto block = TDIBSection::CreateDevice(width, height);
    const auto table = Colors();
    DecodeRunLength(data.data(), data.size(), bits, table, order, *block);
    std::string picture;
    for (int y = 0; y < height; ++y) {
        if (y > 0) picture += '/';
        for (int x = 0; x < width; ++x) {
            const uint8_t* pixel = block->Row(y) + 4 * x;
            char symbol = '?';
            if (pixel[0] == 0 && pixel[1] == 0 && pixel[2] == 0 && pixel[3] == 0) symbol = '.';
            for (int i = 0; i < 16; ++i)
                if (std::memcmp(pixel, &table[i], 4) == 0) symbol = "0123456789abcdef"[i];
            picture += symbol;
        }
    }
    return picture;
}

}  // namespace

TEST(BmpRunLength, EightBitCommands) {
    struct Case {
        const char* name;
        std::vector<uint8_t> data;
        std::string picture;
    } cases[] = {
        {"runs and ends of line", {4, 1, 0, 0, 2, 2, 0, 0, 3, 3, 0, 1}, "333./22../1111"},
        {"a run past the row end is cut, not wrapped", {6, 1, 0, 0, 1, 2, 0, 1}, "..../2.../1111"},
        {"an odd literal run is padded to 16 bits", {0, 3, 5, 6, 7, 0, 1, 8, 0, 1}, "..../..../5678"},
        {"a literal run past the row end is cut", {0, 6, 1, 2, 3, 4, 5, 6, 1, 7, 0, 1}, "..../..../1234"},
        {"delta moves right and up, skipped pixels black", {1, 1, 0, 2, 1, 1, 1, 2, 0, 1}, "..../..2./1..."},
        {"indices beyond the table are black", {1, 200, 1, 3, 0, 1}, "..../..../.3.."},
        {"data ending inside a literal run", {0, 5, 1, 2}, "..../..../12.."},
        {"data ending inside a delta", {1, 1, 0, 2, 1}, "..../..../1..."},
        {"a delta beyond the last row ends the picture", {0, 2, 0, 5, 1, 1}, "..../..../...."},
        {"nothing after the end of the bitmap", {1, 1, 0, 1, 1, 2}, "..../..../1..."},
    };
    for (const auto& c : cases) EXPECT_EQ(Decode(8, 4, 3, c.data), c.picture) << c.name;
}

TEST(BmpRunLength, FourBitCommands) {
    // Runs alternate the two nibbles of their colour byte.
    EXPECT_EQ(Decode(4, 5, 1, {5, 0x12, 0, 1}), "12121");
    // Five literal nibbles take three bytes, padded to four.
    EXPECT_EQ(Decode(4, 6, 1, {0, 5, 0x12, 0x34, 0x50, 0, 1, 0x70, 0, 1}), "123457");
    // Four literal nibbles take two bytes: no padding.
    EXPECT_EQ(Decode(4, 6, 1, {0, 4, 0xAB, 0xCD, 2, 0xEE}), "abcdee");
    EXPECT_EQ(Decode(4, 3, 2, {5, 0x12, 0, 0, 0, 3, 0x45, 0x60, 0, 1}), "456/121");
}

TEST(BmpRunLength, TopDownDataFillsFromTheTop) {
    EXPECT_EQ(Decode(8, 4, 3, {4, 1, 0, 0, 2, 2, 0, 1}, TRowOrder::TopDown), "1111/22../....");
}
