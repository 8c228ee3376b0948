#include "convert/image_format_conversions.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <memory>

#include "formats/jpeg/jpeg_library.hpp"
#include "convert/gif_target.hpp"
#include "image/bmp_fallback.hpp"
#include "image/byte_order.hpp"
#include "image/exceptions.hpp"
#include "image/file_names.hpp"
#include "formats/jpeg/jpeg_image.hpp"
#include "formats/gif/gif_image.hpp"
#include "formats/png/png_bitmap.hpp"
#include "formats/tga/tga_file.hpp"

namespace tamberlit {

namespace {

std::unique_ptr<TGraphic> ReadGIFFirstFrame() {
    // Only the first frame is converted: the others are not decoded.
    auto gif = std::make_unique<TGIFImage>();
    gif->FirstFrameOnly = true;
    return gif;
}

void WriteBMP(TBitmap& bitmap, const std::string& path, const TGIFSettings&) { bitmap.SaveFile(path); }

void WriteTGA(TBitmap& bitmap, const std::string& path, const TGIFSettings&) {
    TTGAFile file;
    file.AssignBitmap(bitmap);
    file.SaveFile(path);
}

template <typename TImage>
void WriteThrough(TBitmap& bitmap, const std::string& path, const TGIFSettings&) {
    TImage image;
    image.CopyFrom(&bitmap);
    image.SaveFile(path);
}

template <typename TReader>
std::unique_ptr<TGraphic> Read() {
    return std::make_unique<TReader>();
}

// The one table of the formats: a path's ending gives the kind (the endings
// are tried in this order, ignoring letter case), the kind its reader and its
// writer. Only the GIF writer takes the palette settings.
struct TImageFormat {
    TImageKind Kind;
    std::initializer_list<const char*> Endings;
    std::unique_ptr<TGraphic> (*CreateReader)();
    void (*Write)(TBitmap& bitmap, const std::string& path, const TGIFSettings& gif);
};

const TImageFormat formats[] = {
    {ikBMP, {".bmp"}, Read<TBitmap>, WriteBMP},
    {ikTGA, {".tga"}, Read<TTGABitmap>, WriteTGA},
    {ikPNG, {".png", ".dat"}, Read<TPNGBitmap>, WriteThrough<TPNGBitmap>},
    {ikGIF, {".gif"}, ReadGIFFirstFrame, WriteGIFTarget},
    {ikJPEG, {".jpg", ".jpeg", ".jfif", ".jpe", ".jif"}, Read<TJPEGImage>, WriteThrough<TJPEGImage>},
};

const TImageFormat* FormatOf(TImageKind kind) {
    for (const auto& format : formats)
        if (format.Kind == kind) return &format;
    return nullptr;
}

// An existing target the user may not replace: no write permission for us, or
// none for anybody (so that running as root does not overwrite a read-only
// file), or a folder we may not write in, where the new file would be made
// before it takes the old one's place (a read-only file system among them).
bool IsUnwritableFile(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
    if (::access(path.c_str(), W_OK) != 0) return true;
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return ::access(folder.empty() ? "." : folder.c_str(), W_OK) != 0;
}

}  // namespace

TImageKind GetImageKind(const std::string& path) {
    for (const auto& format : formats)
        for (const char* ending : format.Endings)
            if (EndsWithTextAscii(path, ending)) return format.Kind;
    return ikUnknown;
}

// The errors that say a file cannot be read as a picture: its format or data
// (the codecs' own classes derive from EInvalidGraphic), its size, or a file
// that cannot be opened or read. Anything else is no fault of the file.
template <typename Call>
bool Decodes(Call call, std::string* failure) {
    try {
        call();
        return true;
    } catch (const EInvalidGraphic& error) {
        if (failure) *failure = error.what();
    } catch (const EStreamError& error) {
        if (failure) *failure = error.what();
    }
    return false;
}

bool LoadImageFile(const std::string& path, TBitmap& bitmap, std::string* failure, TRowsPresent* rowsPresent) {
    const TImageKind kind = GetImageKind(path);
    if (kind == ikUnknown) {
        if (failure) *failure = "unknown file kind";
        return false;
    }
    std::unique_ptr<TGraphic> reader = FormatOf(kind)->CreateReader();
    reader->Limits = bitmap.Limits;
    TRowsPresent rows;
    if (!Decodes([&] { reader->LoadFile(path); }, failure) && kind == ikBMP) {
        // Second chance: the lenient loader that stands in for the platform's.
        auto& object = static_cast<TBitmap&>(*reader);
        object.DetachHandle();
        // The first failure's text is the one worth reporting.
        if (!Decodes([&] { object.SetHandle(LoadBitmapFileLeniently(path, &rows, bitmap.Limits)); }, nullptr))
            object.CopyFrom(nullptr);
        if (!object.Empty()) object.SetPixelFormat(Px24);
    }
    // JPEG decodes and GIF renders its first frame only here: what fails now
    // is as much a failure to read the file as what failed above.
    if (!Decodes([&] { bitmap.CopyFrom(reader.get()); }, failure)) bitmap.CopyFrom(nullptr);
    if (reader->RowsPresent().Total > 0) rows = reader->RowsPresent();
    // Free the reader before the bitmap asks for its handle: the bitmap is then
    // the only holder of the pixels and needs no private copy of them.
    reader.reset();
    const bool loaded = bitmap.Handle() != nullptr;
    if (rowsPresent) *rowsPresent = loaded ? rows : TRowsPresent{};
    if (loaded && failure) failure->clear();
    if (!loaded && failure && failure->empty()) *failure = "the file holds no picture";
    if (bitmap.PixelFormat() != Px32) bitmap.SetPixelFormat(Px24);
    return loaded;
}

namespace {

uint32_t BigEndian32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

// The first bytes of a file: enough for every header but a JPEG's, whose
// application segments (thumbnails, profiles) may come first.
std::vector<uint8_t> ReadPrefix(const std::string& path, size_t most) {
    TFileStream file(path);
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min<int64_t>(file.Size(), static_cast<int64_t>(most))));
    bytes.resize(file.Read(bytes.data(), bytes.size()));
    return bytes;
}

// GIF: the logical screen, then the first image descriptor after the colour
// table and the extensions (GIF89a, sections 18, 20 and 23).
TDeclaredSize GIFDeclaredSize(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 13) return {};
    TDeclaredSize size{LittleEndian16(&bytes[6]), LittleEndian16(&bytes[8])};
    size_t at = 13 + ((bytes[10] & 0x80) ? 3u << ((bytes[10] & 7) + 1) : 0);
    while (at < bytes.size() && bytes[at] == 0x21) {
        at += 2;  // introducer and label, then sub-blocks up to a 0 size
        while (at < bytes.size() && bytes[at] != 0) at += bytes[at] + 1;
        ++at;
    }
    if (at + 9 <= bytes.size() && bytes[at] == 0x2C) {
        size.Width = std::max<int64_t>(size.Width, LittleEndian16(&bytes[at + 5]));
        size.Height = std::max<int64_t>(size.Height, LittleEndian16(&bytes[at + 7]));
    }
    return size;
}

TDeclaredSize DeclaredSizeOf(TImageKind kind, const std::string& path) {
    const std::vector<uint8_t> bytes = ReadPrefix(path, kind == ikJPEG ? size_t{1} << 20 : size_t{4096});
    const uint8_t* b = bytes.data();
    switch (kind) {
        case ikBMP:
            if (bytes.size() < 26) return {};
            if (LittleEndian32(b + 14) == 12) return {LittleEndian16(b + 18), LittleEndian16(b + 20)};
            return {std::abs(int64_t{static_cast<int32_t>(LittleEndian32(b + 18))}),
                    std::abs(int64_t{static_cast<int32_t>(LittleEndian32(b + 22))})};
        case ikTGA:
            if (bytes.size() < 18) return {};
            return {LittleEndian16(b + 12), LittleEndian16(b + 14)};
        case ikPNG:
            if (bytes.size() < 24) return {};
            return {BigEndian32(b + 16), BigEndian32(b + 20)};
        case ikGIF: return GIFDeclaredSize(bytes);
        case ikJPEG: {
            const TJPEGHeader header = ReadJPEGHeader(b, bytes.size());
            return {header.Width, header.Height};
        }
        default: return {};
    }
}

}  // namespace

TDeclaredSize ReadDeclaredSize(const std::string& path) {
    const TImageKind kind = GetImageKind(path);
    if (kind == ikUnknown) return {};
    // A header that cannot be read declares nothing: the reader refuses the file.
    try {
        return DeclaredSizeOf(kind, path);
    } catch (const EInvalidGraphic&) {
    } catch (const EStreamError&) {
    }
    return {};
}

TSaveResult SaveImageFile(TBitmap& bitmap, const std::string& path, const TGIFSettings& gif) {
    if (IsUnwritableFile(path)) return TSaveResult::Unwritable;
    const TImageFormat* format = FormatOf(GetImageKind(path));
    if (!format || !format->Write) return TSaveResult::NoWriter;
    format->Write(bitmap, path, gif);
    return TSaveResult::Written;
}

}  // namespace tamberlit
