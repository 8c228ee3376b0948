#pragma once
// The extension blocks of GIF89a (graphic control, plain text, comment,
// application) as they belong to a frame, and the registries that map an
// extension label, and an application identifier, to the class that reads it.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/gif/gif_item.hpp"

namespace tamberlit {

class TGIFSubImage;
class TGIFExtension;

inline constexpr uint8_t GIFLabelPlainText = 0x01;
inline constexpr uint8_t GIFLabelGraphicControl = 0xF9;
inline constexpr uint8_t GIFLabelComment = 0xFE;
inline constexpr uint8_t GIFLabelApplication = 0xFF;

// What a registry holds for an extension class: its name, its class-level
// resolution and how to make an instance.
struct TGIFExtensionClass {
    const char* ClassName;
    // Looks further at the bytes after the label (the reader stands just after
    // it) and answers this class, a more specific one, or nullptr when none fits.
    const TGIFExtensionClass* (*ResolveExtensionClass)(const TGIFExtensionClass& self, TGIFReader& reader);
    std::unique_ptr<TGIFExtension> (*Create)(TGIFSubImage& frame);
};

// An extension block belonging to a frame.
class TGIFExtension : public TGIFItem {
public:
    explicit TGIFExtension(TGIFSubImage& frame);
    TGIFSubImage& Frame() const { return *frame_; }
    virtual uint8_t ExtensionLabel() const = 0;
    virtual const TGIFExtensionClass& ExtensionClass() const = 0;

    // Reads introducer and label, then the block's own data.
    void Load(TGIFReader& reader) override;
    // Writes introducer and label, then the block's own data.
    void Save(TStream& stream) override;
    // Every extension block is a GIF89a feature.
    TGIFVersion RequiredVersion() const override { return gv89a; }

protected:
    virtual void LoadData(TGIFReader& reader) = 0;
    virtual void SaveData(TStream& stream) = 0;

private:
    TGIFSubImage* frame_;
};

// Graphic control (label 0xF9): disposal, delay and the transparent index.
class TGIFGraphicControlExtension : public TGIFExtension {
public:
    // The 6-byte record exactly as in the file.
    struct TRecord {
        uint8_t BlockSize = 4;
        uint8_t PackedFields = 0;  // bit 0 transparent, bit 1 user input, bits 2-4 disposal
        uint16_t Delay = 0;        // hundredths of a second
        uint8_t TransparentColorIndex = 0;
        uint8_t Terminator = 0;
    };

    explicit TGIFGraphicControlExtension(TGIFSubImage& frame);
    ~TGIFGraphicControlExtension() override;
    uint8_t ExtensionLabel() const override { return GIFLabelGraphicControl; }
    const TGIFExtensionClass& ExtensionClass() const override;

    const TRecord& Record() const { return record_; }
    bool Transparent() const { return (record_.PackedFields & 0x01) != 0; }
    bool UserInput() const { return (record_.PackedFields & 0x02) != 0; }
    int Disposal() const { return (record_.PackedFields >> 2) & 0x07; }
    int Delay() const { return record_.Delay; }
    uint8_t TransparentColorIndex() const { return record_.TransparentColorIndex; }
    // An index not below the count of a non-empty active colour table reports
    // "Invalid color index" and stores 0.
    void SetTransparentColorIndex(int index);
    // Sets or clears the transparent flag; the frame's transparent mark follows.
    void SetTransparent(bool transparent);
    void SetUserInput(bool userInput);
    void SetDisposal(int disposal);  // 0 to 7
    void SetDelay(int delay);        // hundredths of a second, 0 to 65535

protected:
    void LoadData(TGIFReader& reader) override;
    void SaveData(TStream& stream) override;

private:
    friend class TGIFInternals;
    TRecord record_;
};

// Plain text (label 0x01): a text grid and its lines.
class TGIFTextExtension : public TGIFExtension {
public:
    struct TRecord {
        uint8_t BlockSize = 12;
        uint16_t Left = 0, Top = 0, Width = 0, Height = 0;
        uint8_t CellWidth = 0, CellHeight = 0;
        uint8_t ForegroundColorIndex = 0, BackgroundColorIndex = 0;
    };

    using TGIFExtension::TGIFExtension;
    uint8_t ExtensionLabel() const override { return GIFLabelPlainText; }
    const TGIFExtensionClass& ExtensionClass() const override;
    const TRecord& Record() const { return record_; }
    void SetRecord(const TRecord& record) { record_ = record; }
    std::vector<std::string> Text;  // one string per data sub-block

protected:
    void LoadData(TGIFReader& reader) override;
    void SaveData(TStream& stream) override;

private:
    TRecord record_;
};

// Comment (label 0xFE).
class TGIFCommentExtension : public TGIFExtension {
public:
    using TGIFExtension::TGIFExtension;
    uint8_t ExtensionLabel() const override { return GIFLabelComment; }
    const TGIFExtensionClass& ExtensionClass() const override;
    std::vector<std::string> Comment;  // one string per data sub-block

protected:
    void LoadData(TGIFReader& reader) override;
    void SaveData(TStream& stream) override;
};

// Application extension (label 0xFF): an 11-byte identifier (8 bytes of
// application identifier, 3 of authentication code) and data the class reads.
// The base class has no data reader: an application block of a size it does not
// know cannot be loaded.
class TGIFApplicationExtension : public TGIFExtension {
public:
    using TIdentifier = std::array<uint8_t, 11>;

    using TGIFExtension::TGIFExtension;
    uint8_t ExtensionLabel() const override { return GIFLabelApplication; }
    const TGIFExtensionClass& ExtensionClass() const override;
    TIdentifier Identifier{};
    std::string IdentifierText() const { return std::string(Identifier.begin(), Identifier.end()); }

protected:
    void LoadData(TGIFReader& reader) override;
    void SaveData(TStream& stream) override;
    virtual void ReadAppData(TGIFReader& reader);
    // The data sub-blocks after the identifier, with their terminator. The
    // base class has none: it writes the terminator alone.
    virtual void WriteAppData(TStream& stream);
};

// One data sub-block kept as it was read.
struct TGIFBlock {
    std::vector<uint8_t> Data;
    uint8_t Size() const { return static_cast<uint8_t>(Data.size()); }
};

// An application extension whose identifier is not registered: its sub-blocks
// are kept as they are.
class TGIFUnknownAppExtension : public TGIFApplicationExtension {
public:
    using TGIFApplicationExtension::TGIFApplicationExtension;
    const TGIFExtensionClass& ExtensionClass() const override;
    std::vector<TGIFBlock> Blocks;

protected:
    void ReadAppData(TGIFReader& reader) override;
    void WriteAppData(TStream& stream) override;
};

// The looping extension ("NETSCAPE2.0", also "ANIMEXTS1.0").
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
public:
    explicit TGIFAppExtNSLoop(TGIFSubImage& frame);
    const TGIFExtensionClass& ExtensionClass() const override;
    uint16_t Loops = 0;  // 0: endless
    uint32_t BufferSize = 0;

protected:
    void ReadAppData(TGIFReader& reader) override;
    void WriteAppData(TStream& stream) override;
};

// The extensions of one frame, in file order; the list owns them.
class TGIFExtensionList {
public:
    explicit TGIFExtensionList(TGIFSubImage& frame) : frame_(frame) {}
    int Count() const { return static_cast<int>(items_.size()); }
    TGIFExtension& operator[](int index) const { return *items_[static_cast<size_t>(index)]; }
    void Add(std::unique_ptr<TGIFExtension> extension) { items_.push_back(std::move(extension)); }
    void Delete(int index) { items_.erase(items_.begin() + index); }
    void Clear();
    // Reads the run of extensions in front of a frame's image; leaves the reader
    // at the byte that ended the run.
    void Load(TGIFReader& reader);
    void Save(TStream& stream) const;

private:
    TGIFSubImage& frame_;
    std::vector<std::unique_ptr<TGIFExtension>> items_;
};

// Registries. Lookups search from the last entry to the first, so a later
// entry for the same key wins.
const TGIFExtensionClass* FindExtensionClass(uint8_t label);
const TGIFExtensionClass* FindAppExtensionClass(const TGIFApplicationExtension::TIdentifier& identifier);
// Resolves the class of the extension whose label follows (the reader stands
// just after the 0x21); the reader is left where it was. nullptr when none fits.
const TGIFExtensionClass* ResolveExtensionClass(TGIFReader& reader);

extern const TGIFExtensionClass GIFGraphicControlExtensionClass;
extern const TGIFExtensionClass GIFTextExtensionClass;
extern const TGIFExtensionClass GIFCommentExtensionClass;
extern const TGIFExtensionClass GIFApplicationExtensionClass;
extern const TGIFExtensionClass GIFUnknownAppExtensionClass;
extern const TGIFExtensionClass GIFAppExtNSLoopClass;

}  // namespace tamberlit
