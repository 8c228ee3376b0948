#pragma once
// The picture-format registry: a start-up table of (extension, description,
// class) that the codec units fill. The converter chooses codecs by extension
// itself; the table makes the formats known to anything that lists pictures.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image/graphic.hpp"

namespace tamberlit {

using TGraphicFactory = std::function<std::unique_ptr<TGraphic>()>;

struct TPictureFileFormat {
    std::string Extension;    // without the dot, as registered ("TGA", "jpeg")
    std::string Description;  // "TGA-Format"
    std::string ClassName;    // "TTGABitmap"
    TGraphicFactory Create;
};

struct TPictureClipboardFormat {
    unsigned Format = 0;
    std::string ClassName;
};

class TPicture {
public:
    static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                   const std::string& className, TGraphicFactory factory);
    static void RegisterClipboardFormat(unsigned format, const std::string& className);
    // Removes every file and clipboard entry of the class.
    static void UnregisterGraphicClass(const std::string& className);
    static std::vector<TPictureFileFormat> FileFormats();
    static std::vector<TPictureClipboardFormat> ClipboardFormats();
    // The class registered for an extension (case-insensitive, without dot), or nullptr.
    static std::unique_ptr<TGraphic> CreateForExtension(const std::string& extension);
};

// Stand-in for the window system's clipboard-format registration: the same
// name always gives the same number, numbers start at 0xC000.
unsigned RegisterClipboardFormat(const std::string& name);
std::string ClipboardFormatName(unsigned format);

// Registers a class at start-up and withdraws it at shut-down. A codec keeps
// one of these as a static object beside its class.
class TPictureFormatRegistration {
public:
    TPictureFormatRegistration(std::vector<std::string> extensions, const std::string& description,
                               const std::string& className, TGraphicFactory factory);
    ~TPictureFormatRegistration();
    TPictureFormatRegistration(const TPictureFormatRegistration&) = delete;
    TPictureFormatRegistration& operator=(const TPictureFormatRegistration&) = delete;

private:
    std::string className_;
};

}  // namespace tamberlit
