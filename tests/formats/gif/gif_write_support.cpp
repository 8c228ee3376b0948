#include "tests/formats/gif/gif_write_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#ifdef TAMBERLIT_HAVE_GIFLIB
#include <gif_lib.h>
#endif

namespace tamberlit::testing {

TGIFSubImage& AddFrame(TGIFImage& image, int width, int height, const std::vector<uint8_t>& pixels,
                       const std::vector<TGIFColor>& colors, int left, int top) {
    auto frame = std::make_unique<TGIFSubImage>(image);
    frame->SetBounds(left, top, width, height);
    if (!pixels.empty()) std::memcpy(frame->Data(), pixels.data(), pixels.size());
    if (!colors.empty()) frame->ColorMap().Assign(colors.data(), static_cast<int>(colors.size()));
    TGIFSubImage& added = *frame;
    image.Images().Add(std::move(frame));
    return added;
}

std::vector<TGIFColor> TestColors(int count) {
    std::vector<TGIFColor> colors;
    for (int i = 0; i < count; ++i) colors.push_back({uint8_t(i * 37), uint8_t(255 - i), uint8_t(i * 5)});
    return colors;
}

std::vector<uint8_t> SaveGIF(TGIFImage& image) {
    TMemoryStream stream;
    image.SaveToStream(stream);
    return std::vector<uint8_t>(stream.Memory(), stream.Memory() + stream.ByteCount());
}

namespace {

class TWalker {
public:
    explicit TWalker(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    size_t Position() const { return at_; }
    bool AtEnd() const { return at_ >= bytes_.size(); }
    uint8_t U8() {
        if (at_ >= bytes_.size()) throw std::runtime_error("GIF ends early at " + std::to_string(at_));
        return bytes_[at_++];
    }
    int U16() {
        const int low = U8();
        return low | U8() << 8;
    }
    std::vector<uint8_t> Bytes(size_t count) {
        if (bytes_.size() - at_ < count) throw std::runtime_error("GIF ends early at " + std::to_string(at_));
        std::vector<uint8_t> out(bytes_.begin() + static_cast<ptrdiff_t>(at_),
                                 bytes_.begin() + static_cast<ptrdiff_t>(at_ + count));
        at_ += count;
        return out;
    }
    std::vector<std::vector<uint8_t>> SubBlocks() {
        std::vector<std::vector<uint8_t>> blocks;
        for (uint8_t size = U8(); size != 0; size = U8()) blocks.push_back(Bytes(size));
        return blocks;
    }

private:
    const std::vector<uint8_t>& bytes_;
    size_t at_ = 0;
};

}  // namespace

TWrittenGIF WalkGIF(const std::vector<uint8_t>& bytes) {
    TWrittenGIF gif;
    TWalker walk(bytes);
    try {
        const std::vector<uint8_t> signature = walk.Bytes(6);
        gif.Signature.assign(signature.begin(), signature.end());
        gif.ScreenWidth = walk.U16();
        gif.ScreenHeight = walk.U16();
        gif.PackedFields = walk.U8();
        walk.U8();
        walk.U8();
        if (gif.PackedFields & 0x80) gif.GlobalTable = walk.Bytes(3u << ((gif.PackedFields & 7) + 1));
        while (!walk.AtEnd()) {
            const uint8_t block = walk.U8();
            if (block == 0x3B) {
                gif.Trailer = true;
                EXPECT_TRUE(walk.AtEnd()) << "bytes after the trailer";
                break;
            }
            if (block == 0x21) {
                TWrittenGIF::TExtension extension{walk.U8(), walk.SubBlocks()};
                gif.Extensions.push_back(std::move(extension));
                continue;
            }
            if (block != 0x2C) throw std::runtime_error("unknown block " + std::to_string(block));
            TWrittenFrame frame;
            frame.DescriptorOffset = walk.Position() - 1;
            walk.Bytes(8);
            frame.PackedFields = walk.U8();
            if (frame.PackedFields & 0x80) {
                frame.LocalColors = 2 << (frame.PackedFields & 7);
                walk.Bytes(3 * static_cast<size_t>(frame.LocalColors));
            }
            frame.MinimumCodeSize = walk.U8();
            for (const auto& data : walk.SubBlocks()) {
                frame.BlockSizes.push_back(data.size());
                frame.Data.insert(frame.Data.end(), data.begin(), data.end());
            }
            gif.Frames.push_back(std::move(frame));
        }
    } catch (const std::exception& error) {
        ADD_FAILURE() << error.what();
    }
    EXPECT_TRUE(gif.Trailer) << "no trailer";
    return gif;
}

TCodeTrace TraceCodes(const std::vector<uint8_t>& data, int minimumCodeSize) {
    TCodeTrace trace;
    const int clear = 1 << minimumCodeSize;
    int size = minimumCodeSize + 1;
    int next = clear + 2;
    bool first = true;
    size_t bit = 0;
    while (bit + static_cast<size_t>(size) <= data.size() * 8) {
        int code = 0;
        for (int i = 0; i < size; ++i, ++bit) code |= (data[bit / 8] >> (bit % 8) & 1) << i;
        trace.Codes.push_back(code);
        trace.NextSlot.push_back(next);
        trace.CodeSize.push_back(size);
        if (code == clear + 1) break;
        if (code == clear) {
            size = minimumCodeSize + 1;
            next = clear + 2;
            first = true;
            continue;
        }
        if (first) {
            first = false;
            continue;
        }
        if (next < 4096) ++next;
        if (next == 1 << size && size < 12) ++size;
    }
    return trace;
}

#ifdef TAMBERLIT_HAVE_GIFLIB

namespace {

struct TSource {
    const std::vector<uint8_t>* bytes;
    size_t position;
};

int ReadBytes(GifFileType* gif, GifByteType* out, int count) {
    auto* source = static_cast<TSource*>(gif->UserData);
    const size_t take = std::min(static_cast<size_t>(count), source->bytes->size() - source->position);
    std::memcpy(out, source->bytes->data() + source->position, take);
    source->position += take;
    return static_cast<int>(take);
}

}  // namespace

std::optional<TGiflibFile> DecodeFileWithGiflib(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        uint8_t buffer[65536];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
        std::fclose(file);
    }
    TGiflibFile file;
    if (bytes.size() >= 10) {
        file.Signature.assign(bytes.begin(), bytes.begin() + 6);
        file.ScreenWidth = bytes[6] | bytes[7] << 8;
        file.ScreenHeight = bytes[8] | bytes[9] << 8;
    }
    file.Frames = *DecodeWithGiflib(bytes);
    return file;
}

std::optional<std::vector<TGiflibFrame>> DecodeWithGiflib(const std::vector<uint8_t>& bytes) {
    std::vector<TGiflibFrame> frames;
    TSource source{&bytes, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&source, ReadBytes, &error);
    if (!gif) {
        ADD_FAILURE() << "giflib cannot open the file: " << GifErrorString(error);
        return frames;
    }
    if (DGifSlurp(gif) != GIF_OK) {
        ADD_FAILURE() << "giflib cannot decode the file: " << GifErrorString(gif->Error);
    } else {
        for (int i = 0; i < gif->ImageCount; ++i) {
            const SavedImage& image = gif->SavedImages[i];
            const GifImageDesc& place = image.ImageDesc;
            TGiflibFrame frame;
            frame.Left = place.Left;
            frame.Top = place.Top;
            frame.Width = place.Width;
            frame.Height = place.Height;
            const size_t size = static_cast<size_t>(place.Width) * static_cast<size_t>(place.Height);
            frame.Pixels.assign(image.RasterBits, image.RasterBits + size);
            EXPECT_LE(place.Left + place.Width, gif->SWidth) << "frame " << i << " beyond the screen";
            EXPECT_LE(place.Top + place.Height, gif->SHeight) << "frame " << i << " beyond the screen";
            const ColorMapObject* colors = place.ColorMap ? place.ColorMap : gif->SColorMap;
            GraphicsControlBlock control{};
            if (DGifSavedExtensionToGCB(gif, i, &control) == GIF_OK) frame.TransparentIndex = control.TransparentColor;
            if (colors) {
                for (int c = 0; c < colors->ColorCount; ++c)
                    frame.Colors.insert(frame.Colors.end(),
                                        {colors->Colors[c].Red, colors->Colors[c].Green, colors->Colors[c].Blue});
                const uint8_t highest = size ? *std::max_element(frame.Pixels.begin(), frame.Pixels.end()) : 0;
                EXPECT_LT(highest, colors->ColorCount) << "frame " << i << " uses colours beyond its table";
            }
            frames.push_back(std::move(frame));
        }
    }
    DGifCloseFile(gif, &error);
    return frames;
}

#else

std::optional<std::vector<TGiflibFrame>> DecodeWithGiflib(const std::vector<uint8_t>&) { return std::nullopt; }
std::optional<TGiflibFile> DecodeFileWithGiflib(const std::string&) { return std::nullopt; }

#endif

}  // namespace tamberlit::testing
