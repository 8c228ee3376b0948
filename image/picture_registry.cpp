#include "image/picture_registry.hpp"

#include <algorithm>
#include <map>
#include <mutex>

#include "image/file_names.hpp"

namespace tamberlit {

namespace {

struct TRegistry {
    std::mutex lock;
    std::vector<TPictureFileFormat> files;
    std::vector<TPictureClipboardFormat> clipboard;
    std::map<std::string, unsigned> clipboardNames;
};

TRegistry& Registry() {
    // Never destroyed: codecs withdraw their entries from static destructors
    // whose order relative to this one is not fixed.
    static TRegistry* registry = new TRegistry();
    return *registry;
}

}  // namespace

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
                                  const std::string& className, TGraphicFactory factory) {
    auto& registry = Registry();
    std::lock_guard lock(registry.lock);
    registry.files.push_back({extension, description, className, std::move(factory)});
}

void TPicture::RegisterClipboardFormat(unsigned format, const std::string& className) {
    auto& registry = Registry();
    std::lock_guard lock(registry.lock);
    registry.clipboard.push_back({format, className});
}

void TPicture::UnregisterGraphicClass(const std::string& className) {
    auto& registry = Registry();
    std::lock_guard lock(registry.lock);
    std::erase_if(registry.files, [&](const auto& entry) { return entry.ClassName == className; });
    std::erase_if(registry.clipboard, [&](const auto& entry) { return entry.ClassName == className; });
}

std::vector<TPictureFileFormat> TPicture::FileFormats() {
    auto& registry = Registry();
    std::lock_guard lock(registry.lock);
    return registry.files;
}

std::vector<TPictureClipboardFormat> TPicture::ClipboardFormats() {
    auto& registry = Registry();
    std::lock_guard lock(registry.lock);
    return registry.clipboard;
}

std::unique_ptr<TGraphic> TPicture::CreateForExtension(const std::string& extension) {
    TGraphicFactory factory;
    {
        auto& registry = Registry();
        std::lock_guard lock(registry.lock);
        for (const auto& entry : registry.files)
            if (SameTextAscii(entry.Extension, extension)) {
                factory = entry.Create;
                break;
            }
    }
    return factory ? factory() : nullptr;
}

unsigned RegisterClipboardFormat(const std::string& name) {
    auto& registry = Registry();
    std::lock_guard lock(registry.lock);
    auto found = registry.clipboardNames.find(name);
    if (found != registry.clipboardNames.end()) return found->second;
    const unsigned format = 0xC000 + static_cast<unsigned>(registry.clipboardNames.size());
    registry.clipboardNames.emplace(name, format);
    return format;
}

std::string ClipboardFormatName(unsigned format) {
    auto& registry = Registry();
    std::lock_guard lock(registry.lock);
    for (const auto& [name, value] : registry.clipboardNames)
        if (value == format) return name;
    return {};
}

TPictureFormatRegistration::TPictureFormatRegistration(std::vector<std::string> extensions,
                                                       const std::string& description, const std::string& className,
                                                       TGraphicFactory factory)
    : className_(className) {
    for (const auto& extension : extensions) TPicture::RegisterFileFormat(extension, description, className, factory);
}

TPictureFormatRegistration::~TPictureFormatRegistration() { TPicture::UnregisterGraphicClass(className_); }

}  // namespace tamberlit
