// minimal_convert: the least work a converter can do with libpng and libjpeg,
// the ceiling Tamberlit's command line is measured against.
//
//   minimal_convert [--to .png|.tga|.bmp] [--all] FILE...
//
// Writes the same files as tamberlit-cli would (same target names, same
// settings: 8-bit RGB/RGBA PNG, not interlaced, one tEXt "Software" chunk,
// libpng's default compression and filters; uncompressed TGA with an 18-byte
// header, bottom row first; BMP with a 54-byte header, bottom row first), but
// with nothing else: each source is read with one read into one buffer, decoded
// straight into the rows of the target file's buffer (or, for a PNG target,
// encoded straight from the source file's own rows where they are stored
// uncompressed), and the result written with one write. Without --all only
// 32-bit sources are converted. TGA and BMP are read and written by hand.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

namespace {

[[noreturn]] void Fail(const std::string& text) { throw std::runtime_error(text); }

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
void Put16(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}
void Put32(uint8_t* p, uint32_t value) {
    Put16(p, value & 0xFFFF);
    Put16(p + 2, value >> 16);
}

// A buffer that never touches memory it is not asked to fill: reserving the
// worst case costs address space only, and growing never copies.
class TBuffer {
public:
    explicit TBuffer(size_t capacity = 0) { Reserve(capacity); }
    void Reserve(size_t capacity) {
        if (capacity <= capacity_) return;
        std::unique_ptr<uint8_t[]> grown(new uint8_t[capacity]);  // default-initialised: untouched
        if (size_) std::memcpy(grown.get(), data_.get(), size_);
        data_ = std::move(grown);
        capacity_ = capacity;
    }
    void Append(const uint8_t* data, size_t size) {
        if (capacity_ - size_ < size) Reserve(std::max(capacity_ * 2, size_ + size));
        std::memcpy(data_.get() + size_, data, size);
        size_ += size;
    }
    void Resize(size_t size) {
        Reserve(size);
        size_ = size;
    }
    uint8_t* Data() { return data_.get(); }
    size_t Size() const { return size_; }

private:
    std::unique_ptr<uint8_t[]> data_;
    size_t size_ = 0, capacity_ = 0;
};

void ReadFile(const std::string& path, TBuffer& buffer) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) Fail("cannot open");
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        Fail("not a regular file");
    }
    const auto size = static_cast<size_t>(status.st_size);
    buffer.Resize(size);
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, buffer.Data() + done, size - done);
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    ::close(fd);
    buffer.Resize(done);
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) Fail("cannot create " + path);
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written <= 0) {
            ::close(fd);
            Fail("cannot write " + path);
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    if (::close(fd) != 0) Fail("cannot write " + path);
}

enum class TKind { Png, Tga, Bmp, Jpeg };

bool EndsWith(const std::string& text, const char* ending) {
    const size_t length = std::strlen(ending);
    if (text.size() < length) return false;
    for (size_t i = 0; i < length; ++i) {
        char c = text[text.size() - length + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != ending[i]) return false;
    }
    return true;
}

bool KindOf(const std::string& path, TKind& kind) {
    if (EndsWith(path, ".png")) kind = TKind::Png;
    else if (EndsWith(path, ".tga")) kind = TKind::Tga;
    else if (EndsWith(path, ".bmp")) kind = TKind::Bmp;
    else if (EndsWith(path, ".jpg") || EndsWith(path, ".jpeg")) kind = TKind::Jpeg;
    else return false;
    return true;
}

// The picture as rows: where each row is (top row first), how many bytes a
// pixel has (3 or 4) and their order.
struct TFrame {
    uint32_t Width = 0, Height = 0, PixelBytes = 4;
    bool BlueFirst = true;
    std::vector<uint8_t*> Rows;
};

// ---- Source headers

struct TSourceInfo {
    uint32_t Width = 0, Height = 0, PixelBytes = 0;
    // Uncompressed rows inside the file buffer, if any.
    size_t PixelOffset = 0;
    size_t Stride = 0;
    bool TopDown = false;
    bool Rle = false;
};

void CheckSize(uint64_t width, uint64_t height) {
    if (width == 0 || height == 0 || width > 65535 || height > 65535 || width * height > (uint64_t{1} << 28))
        Fail("image size out of range");
}

TSourceInfo TgaInfo(TBuffer& file) {
    if (file.Size() < 18) Fail("TGA: short header");
    const uint8_t* h = file.Data();
    TSourceInfo info;
    if ((h[2] != 2 && h[2] != 10) || (h[16] != 24 && h[16] != 32) || h[1] != 0 || (h[17] & 0x10))
        Fail("TGA: kind not handled here");
    info.Width = Le16(h + 12);
    info.Height = Le16(h + 14);
    CheckSize(info.Width, info.Height);
    info.PixelBytes = h[16] / 8u;
    info.PixelOffset = 18 + size_t{h[0]};
    info.Stride = size_t{info.Width} * info.PixelBytes;
    info.TopDown = (h[17] & 0x20) != 0;
    info.Rle = h[2] == 10;
    if (!info.Rle && (file.Size() - info.PixelOffset) / info.Stride < info.Height) Fail("TGA: truncated");
    return info;
}

TSourceInfo BmpInfo(TBuffer& file) {
    if (file.Size() < 54 || file.Data()[0] != 'B' || file.Data()[1] != 'M') Fail("BMP: not a bitmap");
    const uint8_t* h = file.Data() + 14;
    const auto width = static_cast<int32_t>(Le32(h + 4)), height = static_cast<int32_t>(Le32(h + 8));
    const unsigned bits = Le16(h + 14);
    if (Le32(h) < 40 || Le32(h + 16) != 0 || (bits != 24 && bits != 32) || width <= 0 || height == 0 ||
        height == INT32_MIN)
        Fail("BMP: kind not handled here");
    TSourceInfo info;
    info.Width = static_cast<uint32_t>(width);
    info.Height = static_cast<uint32_t>(height < 0 ? -height : height);
    CheckSize(info.Width, info.Height);
    info.PixelBytes = bits / 8;
    info.PixelOffset = 14 + Le32(h);
    info.Stride = (size_t{info.Width} * bits + 31) / 32 * 4;
    info.TopDown = height < 0;
    if (file.Size() < info.PixelOffset || (file.Size() - info.PixelOffset) / info.Stride < info.Height)
        Fail("BMP: truncated");
    return info;
}

void FrameFromFileRows(TBuffer& file, const TSourceInfo& info, TFrame& frame) {
    frame.Width = info.Width;
    frame.Height = info.Height;
    frame.PixelBytes = info.PixelBytes;
    frame.BlueFirst = true;
    frame.Rows.resize(info.Height);
    for (uint32_t y = 0; y < info.Height; ++y)
        frame.Rows[y] = file.Data() + info.PixelOffset + info.Stride * (info.TopDown ? y : info.Height - 1 - y);
}

// Run-length packets (TGA 2.0 document), straight into the frame's rows; a
// packet may run on into the next row.
void DecodeTgaRle(TBuffer& file, const TSourceInfo& info, TFrame& frame) {
    const uint8_t* at = file.Data() + info.PixelOffset;
    const uint8_t* end = file.Data() + file.Size();
    const unsigned bpp = info.PixelBytes;
    unsigned run = 0, raw = 0;
    const uint8_t* runPixel = nullptr;
    for (uint32_t fileRow = 0; fileRow < info.Height; ++fileRow) {
        uint8_t* out = frame.Rows[info.TopDown ? fileRow : info.Height - 1 - fileRow];
        uint32_t x = 0;
        while (x < info.Width) {
            if (run == 0 && raw == 0) {
                if (at >= end) Fail("TGA: truncated");
                const unsigned packet = *at++;
                if (packet & 0x80) {
                    if (static_cast<size_t>(end - at) < bpp) Fail("TGA: truncated");
                    run = (packet & 0x7F) + 1;
                    runPixel = at;
                    at += bpp;
                } else {
                    raw = packet + 1;
                }
            }
            const uint32_t count = std::min<uint32_t>(run ? run : raw, info.Width - x);
            if (run) {
                for (uint32_t i = 0; i < count; ++i) std::memcpy(out + size_t{x + i} * bpp, runPixel, bpp);
                run -= count;
            } else {
                const size_t bytes = size_t{count} * bpp;
                if (static_cast<size_t>(end - at) < bytes) Fail("TGA: truncated");
                std::memcpy(out + size_t{x} * bpp, at, bytes);
                at += bytes;
                raw -= count;
            }
            x += count;
        }
    }
}

// ---- PNG through libpng

struct TMemoryReader {
    const uint8_t* Data;
    size_t Size, Position;
};

void ReadFromMemory(png_structp png, png_bytep data, png_size_t length) {
    auto* source = static_cast<TMemoryReader*>(png_get_io_ptr(png));
    if (source->Size - source->Position < length) png_error(png, "truncated");
    std::memcpy(data, source->Data + source->Position, length);
    source->Position += length;
}

struct TPngHeader {
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    TMemoryReader Source{};
    ~TPngHeader() { png_destroy_read_struct(&Png, &Info, nullptr); }
};

// Reads the header; the sample layout becomes 8-bit B, G, R(, A). Returns false
// on a library error.
bool PngReadHeader(TPngHeader& state, uint32_t& width, uint32_t& height, uint32_t& pixelBytes) {
    if (setjmp(png_jmpbuf(state.Png))) return false;
    png_set_read_fn(state.Png, &state.Source, ReadFromMemory);
    png_read_info(state.Png, state.Info);
    png_set_expand(state.Png);
    png_set_strip_16(state.Png);
    png_set_gray_to_rgb(state.Png);
    png_set_bgr(state.Png);
    png_set_interlace_handling(state.Png);
    png_read_update_info(state.Png, state.Info);
    width = png_get_image_width(state.Png, state.Info);
    height = png_get_image_height(state.Png, state.Info);
    pixelBytes = png_get_channels(state.Png, state.Info);
    return true;
}

bool PngReadRows(TPngHeader& state, png_bytepp rows) {
    if (setjmp(png_jmpbuf(state.Png))) return false;
    png_read_image(state.Png, rows);
    png_read_end(state.Png, nullptr);
    return true;
}

void PngWrite(png_structp png, png_bytep data, png_size_t length) {
    static_cast<TBuffer*>(png_get_io_ptr(png))->Append(data, length);
}
void PngFlush(png_structp) {}

struct TPngWriter {
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    ~TPngWriter() { png_destroy_write_struct(&Png, &Info); }
};

bool PngEncode(TPngWriter& state, TFrame& frame, TBuffer& out) {
    if (setjmp(png_jmpbuf(state.Png))) return false;
    png_set_write_fn(state.Png, &out, PngWrite, PngFlush);
    png_set_IHDR(state.Png, state.Info, frame.Width, frame.Height, 8,
                 frame.PixelBytes == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_text text{};
    text.compression = PNG_TEXT_COMPRESSION_NONE;
    text.key = const_cast<char*>("Software");
    text.text = const_cast<char*>("Quorrin Orvanel");
    png_set_text(state.Png, state.Info, &text, 1);
    png_write_info(state.Png, state.Info);
    if (frame.BlueFirst) png_set_bgr(state.Png);
    png_write_image(state.Png, frame.Rows.data());
    png_write_end(state.Png, state.Info);
    return true;
}

// ---- JPEG through libjpeg

struct TJpegError {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
};
void JpegErrorExit(j_common_ptr info) { std::longjmp(reinterpret_cast<TJpegError*>(info->err)->Jump, 1); }
void JpegQuiet(j_common_ptr, int) {}

struct TJpegReader {
    jpeg_decompress_struct Info{};
    TJpegError Error{};
    TJpegReader() {
        Info.err = jpeg_std_error(&Error.Manager);
        Error.Manager.error_exit = JpegErrorExit;
        Error.Manager.emit_message = JpegQuiet;
        jpeg_create_decompress(&Info);
    }
    ~TJpegReader() { jpeg_destroy_decompress(&Info); }
};

// The library's defaults (accurate integer transform, fancy upsampling, block
// smoothing), with the rows delivered blue first for the TGA and BMP targets.
bool JpegReadHeader(TJpegReader& state, TBuffer& file, bool blueFirst) {
    if (setjmp(state.Error.Jump)) return false;
    jpeg_mem_src(&state.Info, file.Data(), static_cast<unsigned long>(file.Size()));
    jpeg_read_header(&state.Info, TRUE);
    state.Info.out_color_space = blueFirst ? JCS_EXT_BGR : JCS_RGB;
    jpeg_start_decompress(&state.Info);
    return true;
}

bool JpegReadRows(TJpegReader& state, TFrame& frame) {
    if (setjmp(state.Error.Jump)) return false;
    while (state.Info.output_scanline < state.Info.output_height) {
        const JDIMENSION line = state.Info.output_scanline;
        jpeg_read_scanlines(&state.Info, frame.Rows.data() + line, state.Info.output_height - line);
    }
    jpeg_finish_decompress(&state.Info);
    return true;
}

// ---- Targets

// The target's own buffer with its header written, and the frame pointing at
// its rows; for a PNG target a plain pixel block.
void PrepareTarget(TKind target, uint32_t width, uint32_t height, uint32_t pixelBytes, TBuffer& out, TFrame& frame) {
    frame.Width = width;
    frame.Height = height;
    frame.PixelBytes = pixelBytes;
    frame.BlueFirst = true;
    frame.Rows.resize(height);
    const size_t rowBytes = size_t{width} * pixelBytes;
    if (target == TKind::Tga) {
        out.Resize(18 + rowBytes * height);
        uint8_t* h = out.Data();
        std::memset(h, 0, 18);
        h[2] = 2;  // uncompressed true colour, no colour map (entry size 0)
        Put16(h + 12, width);
        Put16(h + 14, height);
        h[16] = static_cast<uint8_t>(pixelBytes * 8);
        h[17] = pixelBytes == 4 ? 0x08 : 0x00;  // origin bottom left; 8 alpha bits in 32-bit pixels only
        for (uint32_t y = 0; y < height; ++y) frame.Rows[y] = h + 18 + rowBytes * (height - 1 - y);
    } else if (target == TKind::Bmp) {
        const size_t stride = (rowBytes + 3) / 4 * 4;
        out.Resize(54 + stride * height);
        uint8_t* h = out.Data();
        std::memset(h, 0, 54);
        h[0] = 'B';
        h[1] = 'M';
        Put32(h + 2, static_cast<uint32_t>(54 + stride * height));
        Put32(h + 10, 54);
        Put32(h + 14, 40);
        Put32(h + 18, width);
        Put32(h + 22, height);
        Put16(h + 26, 1);
        Put16(h + 28, pixelBytes * 8);
        Put32(h + 34, static_cast<uint32_t>(stride * height));
        for (uint32_t y = 0; y < height; ++y) {
            uint8_t* row = h + 54 + stride * (height - 1 - y);
            std::memset(row + rowBytes, 0, stride - rowBytes);
            frame.Rows[y] = row;
        }
    } else {
        out.Resize(rowBytes * height);
        for (uint32_t y = 0; y < height; ++y) frame.Rows[y] = out.Data() + rowBytes * y;
    }
}

enum class TOutcome { Converted, Skipped };

TOutcome ConvertOne(const std::string& path, TKind source, TKind target, bool all, const std::string& targetPath) {
    TBuffer file;
    ReadFile(path, file);
    TBuffer pixels;  // the target file (TGA, BMP) or the block a PNG is encoded from
    TFrame frame;

    if (source == TKind::Tga || source == TKind::Bmp) {
        const TSourceInfo info = source == TKind::Tga ? TgaInfo(file) : BmpInfo(file);
        if (!all && info.PixelBytes != 4) return TOutcome::Skipped;
        if (target == TKind::Png && !info.Rle) {
            FrameFromFileRows(file, info, frame);  // encode from the file's own rows
        } else {
            PrepareTarget(target, info.Width, info.Height, info.PixelBytes, pixels, frame);
            if (info.Rle) {
                DecodeTgaRle(file, info, frame);
            } else {
                TFrame from;
                FrameFromFileRows(file, info, from);
                for (uint32_t y = 0; y < info.Height; ++y)
                    std::memcpy(frame.Rows[y], from.Rows[y], size_t{info.Width} * info.PixelBytes);
            }
        }
    } else if (source == TKind::Png) {
        TPngHeader state;
        state.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        if (!state.Png || !(state.Info = png_create_info_struct(state.Png))) Fail("out of memory");
        state.Source = {file.Data(), file.Size(), 0};
        uint32_t width = 0, height = 0, pixelBytes = 0;
        if (!PngReadHeader(state, width, height, pixelBytes)) Fail("PNG: bad header");
        CheckSize(width, height);
        if (!all && pixelBytes != 4) return TOutcome::Skipped;
        PrepareTarget(target, width, height, pixelBytes, pixels, frame);
        if (!PngReadRows(state, frame.Rows.data())) Fail("PNG: bad data");
    } else {
        if (!all) return TOutcome::Skipped;  // JPEG has no alpha
        TJpegReader state;
        if (!JpegReadHeader(state, file, target != TKind::Png)) Fail("JPEG: bad header");
        CheckSize(state.Info.output_width, state.Info.output_height);
        PrepareTarget(target, state.Info.output_width, state.Info.output_height, 3, pixels, frame);
        frame.BlueFirst = target != TKind::Png;
        if (!JpegReadRows(state, frame)) Fail("JPEG: bad data");
    }

    if (target == TKind::Png) {
        // Room for the worst case (stored deflate blocks, filter bytes) so the
        // encoder never reallocates; untouched room is never resident.
        TBuffer out(size_t{frame.Width} * frame.PixelBytes * frame.Height + frame.Height + 64 * 1024);
        TPngWriter writer;
        writer.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        if (!writer.Png || !(writer.Info = png_create_info_struct(writer.Png))) Fail("out of memory");
        if (!PngEncode(writer, frame, out)) Fail("PNG: cannot encode");
        WriteFile(targetPath, out.Data(), out.Size());
    } else {
        WriteFile(targetPath, pixels.Data(), pixels.Size());
    }
    return TOutcome::Converted;
}

std::string ChangeExtension(const std::string& path, const std::string& extension) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + extension;
    return path.substr(0, dot) + extension;
}

}  // namespace

int main(int argc, char** argv) {
    std::string targetExtension = ".png";
    bool all = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--to" && i + 1 < argc) targetExtension = argv[++i];
        else if (argument == "--all") all = true;
        else files.push_back(argument);
    }
    TKind target;
    if (!KindOf(targetExtension, target) || target == TKind::Jpeg) {
        std::fprintf(stderr, "usage: minimal_convert [--to .png|.tga|.bmp] [--all] FILE...\n");
        return 2;
    }
    unsigned converted = 0, skipped = 0, failed = 0;
    for (const auto& path : files) {
        TKind source;
        if (!KindOf(path, source) || source == target) continue;
        try {
            if (ConvertOne(path, source, target, all, ChangeExtension(path, targetExtension)) == TOutcome::Converted)
                ++converted;
            else ++skipped;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "minimal_convert: %s: %s\n", path.c_str(), error.what());
            ++failed;
        }
    }
    std::printf("converted %u, skipped %u, failed %u\n", converted, skipped, failed);
    return failed ? 1 : 0;
}
