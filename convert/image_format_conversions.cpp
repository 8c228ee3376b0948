#include "convert/image_format_conversions.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "image/bmp_fallback.hpp"
#include "image/exceptions.hpp"
#include "image/file_names.hpp"
#include "formats/jpeg/jpeg_image.hpp"
#include "formats/gif/gif_image.hpp"
#include "formats/png/png_bitmap.hpp"
#include "formats/tga/tga_file.hpp"

namespace tamberlit {

namespace {

struct TExtension {
    const char* text;
    TImageKind kind;
};

constexpr TExtension extensions[] = {
    {".bmp", ikBMP},  {".tga", ikTGA},  {".png", ikPNG},   {".dat", ikPNG}, {".gif", ikGIF},
    {".jpg", ikJPEG}, {".jpeg", ikJPEG}, {".jfif", ikJPEG}, {".jpe", ikJPEG}, {".jif", ikJPEG},
};

std::unique_ptr<TGraphic> CreateReader(TImageKind kind) {
    switch (kind) {
        case ikBMP: return std::make_unique<TBitmap>();
        case ikTGA: return std::make_unique<TTGABitmap>();
        case ikJPEG: return std::make_unique<TJPEGImage>();
        case ikPNG: return std::make_unique<TPNGBitmap>();
        case ikGIF: {
            // Only the first frame is converted: the others are not decoded.
            auto gif = std::make_unique<TGIFImage>();
            gif->FirstFrameOnly = true;
            return gif;
        }
        default: return nullptr;  // the codec is not part of this build
    }
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
    for (const auto& extension : extensions)
        if (EndsWithTextAscii(path, extension.text)) return extension.kind;
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
    std::unique_ptr<TGraphic> reader = CreateReader(kind);
    if (!reader) {
        if (failure) *failure = "no reader for this kind of file in this build";
        return false;
    }
    TRowsPresent rows;
    if (!Decodes([&] { reader->LoadFile(path); }, failure) && kind == ikBMP) {
        // Second chance: the lenient loader that stands in for the platform's.
        auto& object = static_cast<TBitmap&>(*reader);
        object.DetachHandle();
        // The first failure's text is the one worth reporting.
        if (!Decodes([&] { object.SetHandle(LoadBitmapFileLeniently(path, &rows)); }, nullptr))
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

TSaveResult SaveImageFile(TBitmap& bitmap, const std::string& path) {
    if (IsUnwritableFile(path)) return TSaveResult::Unwritable;
    switch (GetImageKind(path)) {
        case ikBMP: bitmap.SaveFile(path); return TSaveResult::Written;
        case ikTGA: {
            TTGAFile file;
            file.AssignBitmap(bitmap);
            file.SaveFile(path);
            return TSaveResult::Written;
        }
        case ikPNG: {
            TPNGBitmap image;
            image.CopyFrom(&bitmap);
            image.SaveFile(path);
            return TSaveResult::Written;
        }
        case ikJPEG: {
            TJPEGImage image;
            image.CopyFrom(&bitmap);
            image.SaveFile(path);
            return TSaveResult::Written;
        }
        default: return TSaveResult::NoWriter;
    }
}

}  // namespace tamberlit
