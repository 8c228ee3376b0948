// The GIF LZW decoder alone (DecodeFrameData, reached through a frame that
// holds nothing but an image descriptor), checked against a plain
// decoder that walks every string through the table as GIF89a, appendix F,
// describes it.
//
// Input: one byte width - 1, one byte height - 1, one byte whose bit 0 makes
// the frame interlaced, then the frame's image data as a GIF file holds it
// (minimum code size, data sub-blocks, terminator).
//
// Where the reference finds the code stream sound, the decoder's pixels must
// be the reference's exactly: all of them when the stream ends with the end
// code or fills the frame (the rest keeping the fill value 0), else those the
// complete codes give. Damaged streams (codes beyond the next free entry, a
// code after a clear that is not a value) are only checked for memory errors.

#include <cstring>
#include <vector>

#include "formats/gif/gif_image.hpp"
#include "formats/gif/gif_lzw_decoder.hpp"
#include "fuzz/fuzz_support.hpp"
#include "image/exceptions.hpp"

using namespace tamberlit;

namespace {

struct TReference {
    std::vector<uint8_t> Pixels;  // in data order
    bool Sound = true;            // every code read was one a sound encoder writes
    bool Finished = false;        // the end code was met or the frame is full
    bool Refused = false;         // the minimum code size is out of range
};

// The code stream's bytes: the sub-blocks joined. ended: a terminator was met.
std::vector<uint8_t> JoinSubBlocks(const uint8_t* data, size_t size, size_t& at, bool& ended) {
    std::vector<uint8_t> bytes;
    ended = false;
    while (at < size) {
        const size_t length = data[at++];
        if (length == 0) {
            ended = true;
            break;
        }
        const size_t take = std::min(length, size - at);
        bytes.insert(bytes.end(), data + at, data + at + take);
        at += take;
    }
    return bytes;
}

TReference DecodeReference(const uint8_t* data, size_t size, size_t total) {
    TReference result;
    if (size == 0) return result;  // no data at all: every pixel keeps the fill
    const int minimumCodeSize = data[0];
    if (minimumCodeSize > 11) {
        result.Refused = true;
        return result;
    }
    size_t at = 1;
    bool ended = false;
    const std::vector<uint8_t> bytes = JoinSubBlocks(data, size, at, ended);
    // Without a terminator the decoder may leave out a code that ends on the
    // last bit of the data: such a code is not compared.
    const uint64_t bitCount = bytes.empty() ? 0 : uint64_t{8} * bytes.size() - (ended ? 0 : 1);
    uint64_t bit = 0;

    const int clear = 1 << minimumCodeSize;
    const int end = clear + 1;
    std::vector<uint16_t> prefix(4096);
    std::vector<uint8_t> suffix(4096);
    for (int i = 0; i < clear; ++i) suffix[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    int codeSize = 0, next = 0, threshold = 0;
    auto reset = [&] {
        codeSize = minimumCodeSize + 1;
        next = clear + 2;
        threshold = 2 * clear;
    };
    reset();
    bool afterClear = true;
    int previous = 0;
    std::vector<uint8_t> string;
    auto expand = [&](int code) {
        string.clear();
        while (code >= clear) {
            string.push_back(suffix[static_cast<size_t>(code)]);
            code = prefix[static_cast<size_t>(code)];
        }
        string.push_back(static_cast<uint8_t>(code));
        std::reverse(string.begin(), string.end());
    };

    while (result.Pixels.size() < total) {
        if (bit + static_cast<uint64_t>(codeSize) > bitCount) return result;  // incomplete
        int code = 0;
        for (int i = 0; i < codeSize; ++i, ++bit)
            code |= ((bytes[static_cast<size_t>(bit >> 3)] >> (bit & 7)) & 1) << i;
        if (code == clear) {
            reset();
            afterClear = true;
            continue;
        }
        if (afterClear) {
            if (code > clear) {
                result.Sound = false;
                return result;
            }
            result.Pixels.push_back(static_cast<uint8_t>(code));
            previous = code;
            afterClear = false;
            continue;
        }
        if (code == end) {
            result.Finished = true;
            return result;
        }
        if (code < next) {
            expand(code);
        } else if (code == next) {
            expand(previous);
            string.push_back(string[0]);
        } else {
            result.Sound = false;
            return result;
        }
        if (next < 4096) {
            prefix[static_cast<size_t>(next)] = static_cast<uint16_t>(previous);
            suffix[static_cast<size_t>(next)] = string[0];
            ++next;
            if (next >= threshold && threshold < 4096) {
                threshold *= 2;
                ++codeSize;
            }
        }
        result.Pixels.insert(result.Pixels.end(), string.begin(), string.end());
        previous = code;
    }
    result.Finished = true;
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const int width = data[0] + 1;
    const int height = data[1] + 1;
    const bool interlaced = (data[2] & 1) != 0;
    const uint8_t* imageData = data + 3;
    const size_t imageSize = size - 3;
    const size_t total = static_cast<size_t>(width) * static_cast<size_t>(height);

    // The frame is read from an image descriptor of its size (no local colour
    // table) followed by the data: what comes before the data is then the
    // reader's own, and the pixels are allocated once, by the decoder.
    std::vector<uint8_t> frameBytes = {0x2C, 0, 0, 0, 0};
    for (int side : {width, height}) {
        frameBytes.push_back(static_cast<uint8_t>(side & 0xFF));
        frameBytes.push_back(static_cast<uint8_t>(side >> 8));
    }
    frameBytes.push_back(interlaced ? 0x40 : 0);
    frameBytes.insert(frameBytes.end(), imageData, imageData + imageSize);

    TGIFImage image;
    image.Limits = fuzz::Limits;
    image.Header().Descriptor.ScreenWidth = static_cast<uint16_t>(width);
    image.Header().Descriptor.ScreenHeight = static_cast<uint16_t>(height);
    TGIFSubImage frame(image);
    TMemoryViewStream stream(frameBytes.data(), frameBytes.size());

    const TReference reference = DecodeReference(imageData, imageSize, total);
    // A picture whose data reach less than half of its rows is refused as cut
    // short (the frame read alone is the image's first, its picture). Where
    // the data end, the decoder takes what codes the bits left in its buffer
    // still give (at most 16, of at most 4096 pixels each), the reference
    // none: the decoder may refuse when the reference reaches less than half,
    // and must when even those codes could not make up the difference.
    auto cutShortAt = [&](size_t pixels) {
        return 2 * (std::min(pixels, total) / static_cast<size_t>(width)) < static_cast<size_t>(height);
    };
    const bool cutShort = cutShortAt(reference.Pixels.size());
    const bool mustRefuse = cutShortAt(reference.Pixels.size() + 16 * 4096);
    try {
        frame.LoadFromStream(stream);
    } catch (const Exception& error) {
        if (reference.Sound && reference.Finished && !reference.Refused && !cutShort) {
            std::fprintf(stderr, "decoder: %s\n", error.what());
            fuzz::Fail("the decoder refused a sound code stream");
        }
        return 0;
    }
    fuzz::Check(!reference.Refused, "the decoder took a minimum code size above 11");
    fuzz::Check(!(reference.Sound && mustRefuse), "the decoder took a picture that holds less than half of its rows");
    fuzz::Check(stream.Position() <= stream.Size(), "the reader stands beyond the data");
    fuzz::Check(frame.DataSize() == total, "the frame's pixels are not width x height");

    // The decoder's pixels in data order.
    std::vector<uint8_t> pixels(total);
    const uint8_t* decoded = frame.Data();
    if (interlaced) {
        TInterlacedRows rows(height);
        for (int k = 0; k < height; ++k, rows.Advance())
            std::memcpy(pixels.data() + static_cast<size_t>(k) * static_cast<size_t>(width),
                        decoded + static_cast<size_t>(rows.Row()) * static_cast<size_t>(width),
                        static_cast<size_t>(width));
    } else {
        std::memcpy(pixels.data(), decoded, total);
    }

    const size_t compared = std::min(reference.Pixels.size(), total);
    fuzz::Check(compared == 0 || std::memcmp(pixels.data(), reference.Pixels.data(), compared) == 0,
                "the decoder's pixels differ from the reference decoding");
    if (reference.Sound && reference.Finished)
        for (size_t i = compared; i < total; ++i)
            fuzz::Check(pixels[i] == 0, "pixels the data do not reach do not keep the fill value");
    return 0;
}
