#include "tests/formats/gif/gif_test_files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <exception>

namespace tamberlit::testing {

std::vector<uint8_t> PackCodes(const std::vector<TCode>& codes) {
    std::vector<uint8_t> bytes;
    uint32_t bucket = 0;
    int bits = 0;
    for (const TCode& code : codes) {
        bucket |= static_cast<uint32_t>(code.value) << bits;
        bits += code.width;
        while (bits >= 8) {
            bytes.push_back(static_cast<uint8_t>(bucket));
            bucket >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0) bytes.push_back(static_cast<uint8_t>(bucket));
    return bytes;
}

TBytes& AppendSubBlocks(TBytes& bytes, const std::vector<uint8_t>& data, size_t blockSize) {
    for (size_t at = 0; at < data.size(); at += blockSize) {
        const size_t size = std::min(blockSize, data.size() - at);
        bytes.U8(static_cast<unsigned>(size));
        bytes.Append(std::vector<uint8_t>(data.begin() + static_cast<ptrdiff_t>(at),
                                          data.begin() + static_cast<ptrdiff_t>(at + size)));
    }
    return bytes.U8(0);
}

std::vector<TCode> LiteralCodes(const std::vector<uint8_t>& pixels, int minimumCodeSize, bool endCode) {
    const int clear = 1 << minimumCodeSize;
    const int width = minimumCodeSize + 1;
    // After a clear the first literal adds no table entry and each later one
    // adds one; clear - 2 literals keep the table below the size change.
    const size_t group = static_cast<size_t>(clear - 2);
    std::vector<TCode> codes;
    for (size_t i = 0; i < pixels.size(); ++i) {
        if (i % group == 0) codes.push_back({clear, width});
        codes.push_back({pixels[i], width});
    }
    if (endCode) codes.push_back({clear + 1, width});
    return codes;
}

TBytes GIFHeader(int width, int height, int sizeCode, const std::vector<TGIFColor>& colors) {
    TBytes bytes;
    bytes.Text("GIF89a").U16(static_cast<unsigned>(width)).U16(static_cast<unsigned>(height));
    bytes.U8(sizeCode >= 0 ? 0x80u | 0x70u | static_cast<unsigned>(sizeCode) : 0u).U8(0).U8(0);
    if (sizeCode >= 0) {
        for (int i = 0; i < (2 << sizeCode); ++i) {
            const TGIFColor color = static_cast<size_t>(i) < colors.size()
                                        ? colors[static_cast<size_t>(i)]
                                        : TGIFColor{uint8_t(i), uint8_t(i), uint8_t(i)};
            bytes.U8(color.Red).U8(color.Green).U8(color.Blue);
        }
    }
    return bytes;
}

TBytes& AppendDescriptor(TBytes& bytes, int left, int top, int width, int height, uint8_t packed) {
    return bytes.U8(0x2C)
        .U16(static_cast<unsigned>(left))
        .U16(static_cast<unsigned>(top))
        .U16(static_cast<unsigned>(width))
        .U16(static_cast<unsigned>(height))
        .U8(packed);
}

TBytes& AppendImageData(TBytes& bytes, int minimumCodeSize, const std::vector<TCode>& codes, size_t blockSize) {
    bytes.U8(static_cast<unsigned>(minimumCodeSize));
    return AppendSubBlocks(bytes, PackCodes(codes), blockSize);
}

TBytes& AppendFrame(TBytes& bytes, int width, int height, const std::vector<uint8_t>& pixels, int minimumCodeSize,
                    uint8_t packed, int left, int top) {
    AppendDescriptor(bytes, left, top, width, height, packed);
    return AppendImageData(bytes, minimumCodeSize, LiteralCodes(pixels, minimumCodeSize));
}

TBytes& AppendGraphicControl(TBytes& bytes, bool transparent, int transparentIndex, int delay) {
    return bytes.U8(0x21)
        .U8(0xF9)
        .U8(4)
        .U8(transparent ? 1 : 0)
        .U16(static_cast<unsigned>(delay))
        .U8(static_cast<unsigned>(transparentIndex))
        .U8(0);
}

TLoadResult LoadGIF(TGIFImage& image, const std::vector<uint8_t>& bytes) {
    TLoadResult result;
    image.OnGIFWarning = [&result](TGIFImage&, const TGIFItem*, TGIFSeverity severity, const std::string& message) {
        EXPECT_EQ(severity, gsWarning);
        result.Warnings.push_back(message);
    };
    TMemoryViewStream stream(bytes.data(), bytes.size());
    try {
        image.LoadFromStream(stream);
    } catch (const std::exception& error) {
        result.Error = error.what();
    }
    image.OnGIFWarning = nullptr;
    return result;
}

std::vector<uint8_t> FramePixels(TGIFSubImage& frame) {
    if (frame.Empty()) return {};
    return std::vector<uint8_t>(frame.Data(), frame.Data() + frame.DataSize());
}

}  // namespace tamberlit::testing
