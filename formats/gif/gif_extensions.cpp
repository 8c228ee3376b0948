#include "formats/gif/gif_extensions.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "formats/gif/gif_internal.hpp"
#include "image/byte_order.hpp"

namespace tamberlit {

namespace {

// Every stored string or block costs its bytes and the bookkeeping around it.
constexpr uint64_t stringOverhead = 32;

template <class T>
std::unique_ptr<TGIFExtension> CreateExtension(TGIFSubImage& frame) {
    return std::make_unique<T>(frame);
}

// Data sub-blocks as strings (one per sub-block) up to the zero-length block.
void ReadSubBlockStrings(TGIFReader& reader, std::vector<std::string>& strings, TGIFImage& image) {
    strings.clear();
    for (int size = reader.ReadByte(); size > 0; size = reader.ReadByte()) {
        image.ChargeDecoded(static_cast<uint64_t>(size) + stringOverhead);
        std::string text(static_cast<size_t>(size), '\0');
        reader.ReadExact(text.data(), text.size());
        strings.push_back(std::move(text));
    }
}

// Bytes as data sub-blocks of at most 255 bytes; nothing for no bytes.
void WriteSubBlocks(TStream& stream, const uint8_t* bytes, size_t count) {
    for (size_t at = 0; at < count;) {
        const size_t size = std::min<size_t>(255, count - at);
        WriteByte(stream, static_cast<uint8_t>(size));
        stream.WriteBuffer(bytes + at, size);
        at += size;
    }
}

// Each string as data sub-blocks of 255 bytes and a last shorter one (an empty
// string writes none), then one zero-length block.
void WriteSubBlockStrings(TStream& stream, const std::vector<std::string>& strings) {
    for (const std::string& text : strings)
        WriteSubBlocks(stream, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    WriteByte(stream, 0);
}

// The base class of any extension answers itself.
const TGIFExtensionClass* ResolveSelf(const TGIFExtensionClass& self, TGIFReader&) { return &self; }

// Application extensions look at the block size and the identifier that
// follow the label. A block size of 10 is a known writer fault (the
// identifier lacks one byte of its authentication code): such a block is kept
// as an unknown application extension. Any other size than 11 is left to the
// class asked, which fails to read it.
const TGIFExtensionClass* ResolveApplication(const TGIFExtensionClass& self, TGIFReader& reader) {
    const int64_t start = reader.Position();
    const int size = reader.ReadByte();
    if (size < 0) return nullptr;
    if (size == 10) {
        uint8_t skipped[10];
        if (reader.Read(skipped, 10) != 10) return nullptr;
        return &GIFUnknownAppExtensionClass;
    }
    if (size == 11) {
        TGIFApplicationExtension::TIdentifier identifier;
        if (reader.Read(identifier.data(), identifier.size()) == identifier.size()) {
            const TGIFExtensionClass* found = FindAppExtensionClass(identifier);
            return found ? found : &GIFUnknownAppExtensionClass;
        }
    }
    reader.Seek(start);
    return &self;
}

struct TLabelEntry {
    uint8_t label;
    const TGIFExtensionClass* type;
};

struct TIdentifierEntry {
    const char* identifier;  // 11 bytes
    const TGIFExtensionClass* type;
};

const TLabelEntry extensionRegistry[] = {
    {GIFLabelPlainText, &GIFTextExtensionClass},
    {GIFLabelGraphicControl, &GIFGraphicControlExtensionClass},
    {GIFLabelComment, &GIFCommentExtensionClass},
    {GIFLabelApplication, &GIFApplicationExtensionClass},
};

const TIdentifierEntry appExtensionRegistry[] = {
    {"NETSCAPE2.0", &GIFAppExtNSLoopClass},
    {"ANIMEXTS1.0", &GIFAppExtNSLoopClass},
};

}  // namespace

const TGIFExtensionClass GIFGraphicControlExtensionClass = {"TGIFGraphicControlExtension", ResolveSelf,
                                                            CreateExtension<TGIFGraphicControlExtension>};
const TGIFExtensionClass GIFTextExtensionClass = {"TGIFTextExtension", ResolveSelf, CreateExtension<TGIFTextExtension>};
const TGIFExtensionClass GIFCommentExtensionClass = {"TGIFCommentExtension", ResolveSelf,
                                                     CreateExtension<TGIFCommentExtension>};
const TGIFExtensionClass GIFApplicationExtensionClass = {"TGIFApplicationExtension", ResolveApplication,
                                                         CreateExtension<TGIFApplicationExtension>};
const TGIFExtensionClass GIFUnknownAppExtensionClass = {"TGIFUnknownAppExtension", ResolveApplication,
                                                        CreateExtension<TGIFUnknownAppExtension>};
const TGIFExtensionClass GIFAppExtNSLoopClass = {"TGIFAppExtNSLoop", ResolveApplication,
                                                 CreateExtension<TGIFAppExtNSLoop>};

const TGIFExtensionClass* FindExtensionClass(uint8_t label) {
    for (auto entry = std::rbegin(extensionRegistry); entry != std::rend(extensionRegistry); ++entry)
        if (entry->label == label) return entry->type;
    return nullptr;
}

const TGIFExtensionClass* FindAppExtensionClass(const TGIFApplicationExtension::TIdentifier& identifier) {
    for (auto entry = std::rbegin(appExtensionRegistry); entry != std::rend(appExtensionRegistry); ++entry)
        if (std::memcmp(entry->identifier, identifier.data(), identifier.size()) == 0) return entry->type;
    return nullptr;
}

const TGIFExtensionClass* ResolveExtensionClass(TGIFReader& reader) {
    const int64_t start = reader.Position();
    const int label = reader.ReadByte();
    const TGIFExtensionClass* found = label < 0 ? nullptr : FindExtensionClass(static_cast<uint8_t>(label));
    // Each class may answer a more specific one; the answer is final when a
    // class answers itself. Every step that answers another class has read at
    // least one byte, so this ends at the latest with the stream.
    while (found) {
        const TGIFExtensionClass* next = found->ResolveExtensionClass(*found, reader);
        if (next == found) break;
        found = next;
    }
    reader.Seek(start);
    return found;
}

// ---------------------------------------------------------------- TGIFExtension

TGIFExtension::TGIFExtension(TGIFSubImage& frame) : TGIFItem(frame.Image()), frame_(&frame) {}

void TGIFExtension::Load(TGIFReader& reader) {
    uint8_t introducer[2];
    reader.ReadExact(introducer, 2);
    if (introducer[0] != GIFExtensionIntroducer) RaiseGIFError(GIFText::InvalidExtensionIntroducer);
    if (introducer[1] != ExtensionLabel()) RaiseGIFError(GIFText::ExtensionInstanceMismatch);
    LoadData(reader);
}

void TGIFExtension::Save(TStream& stream) {
    WriteRecord(stream, TByteWriter().U8(GIFExtensionIntroducer).U8(ExtensionLabel()));
    SaveData(stream);
}

// ---------------------------------------------------------------- graphic control

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage& frame) : TGIFExtension(frame) {
    TGIFGraphicControlExtension*& first = TGIFInternals::GraphicControl(frame);
    if (!first) first = this;
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension() {
    TGIFSubImage& frame = Frame();
    if (Transparent()) TGIFInternals::SetTransparent(frame, false);
    TGIFGraphicControlExtension*& first = TGIFInternals::GraphicControl(frame);
    if (first == this) first = nullptr;
}

const TGIFExtensionClass& TGIFGraphicControlExtension::ExtensionClass() const {
    return GIFGraphicControlExtensionClass;
}

void TGIFGraphicControlExtension::SetTransparentColorIndex(int index) {
    TGIFColorMap& colors = Frame().ActiveColorMap();
    if (colors.Count() > 0 && index >= colors.Count()) {
        ReportWarning(gsWarning, GIFText::InvalidColorIndex);
        index = 0;
    }
    record_.TransparentColorIndex = static_cast<uint8_t>(index);
}

void TGIFGraphicControlExtension::SetTransparent(bool transparent) {
    record_.PackedFields = static_cast<uint8_t>((record_.PackedFields & ~0x01) | (transparent ? 0x01 : 0));
    // As when read: any transparent graphic control marks the frame.
    if (transparent) TGIFInternals::SetTransparent(Frame(), true);
    else if (Frame().GraphicControlExtension() == this) TGIFInternals::SetTransparent(Frame(), false);
}

void TGIFGraphicControlExtension::SetUserInput(bool userInput) {
    record_.PackedFields = static_cast<uint8_t>((record_.PackedFields & ~0x02) | (userInput ? 0x02 : 0));
}

void TGIFGraphicControlExtension::SetDisposal(int disposal) {
    record_.PackedFields = static_cast<uint8_t>((record_.PackedFields & ~0x1C) | (disposal & 0x07) << 2);
}

void TGIFGraphicControlExtension::SetDelay(int delay) { record_.Delay = static_cast<uint16_t>(delay); }

void TGIFGraphicControlExtension::LoadData(TGIFReader& reader) {
    // Read as one record: a short read replaces only the bytes that arrived.
    uint8_t bytes[6] = {record_.BlockSize, record_.PackedFields, 0, 0, record_.TransparentColorIndex,
                        record_.Terminator};
    PutLittleEndian16(bytes + 2, record_.Delay);
    const size_t got = reader.Read(bytes, sizeof bytes);
    TByteReader fields(bytes);
    record_.BlockSize = fields.U8();
    record_.PackedFields = fields.U8();
    record_.Delay = fields.U16();
    record_.TransparentColorIndex = fields.U8();
    record_.Terminator = fields.U8();
    if (got < sizeof bytes) {
        ReportWarning(gsWarning, GIFText::PrematureEndOfData);
        return;
    }
    if (Transparent()) TGIFInternals::SetTransparent(Frame(), true);
}

// The block size and terminator are written as GIF89a fixes them (4 and 0),
// whatever a damaged file held: other decoders read exactly that many bytes.
void TGIFGraphicControlExtension::SaveData(TStream& stream) {
    TByteWriter fields;
    fields.U8(4).U8(record_.PackedFields).U16(record_.Delay).U8(record_.TransparentColorIndex).U8(0);
    WriteRecord(stream, fields);
}

// ---------------------------------------------------------------- plain text

const TGIFExtensionClass& TGIFTextExtension::ExtensionClass() const { return GIFTextExtensionClass; }

void TGIFTextExtension::LoadData(TGIFReader& reader) {
    uint8_t bytes[13];
    reader.ReadExact(bytes, sizeof bytes);
    TByteReader fields(bytes);
    record_.BlockSize = fields.U8();
    record_.Left = fields.U16();
    record_.Top = fields.U16();
    record_.Width = fields.U16();
    record_.Height = fields.U16();
    record_.CellWidth = fields.U8();
    record_.CellHeight = fields.U8();
    record_.ForegroundColorIndex = fields.U8();
    record_.BackgroundColorIndex = fields.U8();
    ReadSubBlockStrings(reader, Text, Image());
}

void TGIFTextExtension::SaveData(TStream& stream) {
    TByteWriter fields;
    fields.U8(12)
        .U16(record_.Left)
        .U16(record_.Top)
        .U16(record_.Width)
        .U16(record_.Height)
        .U8(record_.CellWidth)
        .U8(record_.CellHeight)
        .U8(record_.ForegroundColorIndex)
        .U8(record_.BackgroundColorIndex);
    WriteRecord(stream, fields);
    WriteSubBlockStrings(stream, Text);
}

// ---------------------------------------------------------------- comment

const TGIFExtensionClass& TGIFCommentExtension::ExtensionClass() const { return GIFCommentExtensionClass; }

void TGIFCommentExtension::LoadData(TGIFReader& reader) { ReadSubBlockStrings(reader, Comment, Image()); }

void TGIFCommentExtension::SaveData(TStream& stream) { WriteSubBlockStrings(stream, Comment); }

// ---------------------------------------------------------------- application

const TGIFExtensionClass& TGIFApplicationExtension::ExtensionClass() const { return GIFApplicationExtensionClass; }

void TGIFApplicationExtension::LoadData(TGIFReader& reader) {
    uint8_t size;
    reader.ReadExact(&size, 1);
    if (size == 10) {
        // The 10 identifier bytes, and the byte after them in place of the
        // missing last byte; that byte is then read again as data.
        Identifier.fill(0);
        reader.ReadExact(Identifier.data(), 10);
        const int next = reader.ReadByte();
        if (next >= 0) {
            Identifier[10] = static_cast<uint8_t>(next);
            reader.StepBack();
        }
    } else if (size < 11) {
        RaiseGIFError(GIFText::UnsupportedAppExtBlockSize);
    } else {
        reader.ReadExact(Identifier.data(), Identifier.size());
        reader.Skip(size - 11);
    }
    ReadAppData(reader);
}

void TGIFApplicationExtension::SaveData(TStream& stream) {
    WriteRecord(stream, TByteWriter().U8(11).Bytes(Identifier.data(), Identifier.size()));
    WriteAppData(stream);
}

// An application block whose size the resolution did not accept has no reader.
void TGIFApplicationExtension::ReadAppData(TGIFReader&) { RaiseGIFError(GIFText::UnsupportedAppExtBlockSize); }

void TGIFApplicationExtension::WriteAppData(TStream& stream) { WriteByte(stream, 0); }

const TGIFExtensionClass& TGIFUnknownAppExtension::ExtensionClass() const { return GIFUnknownAppExtensionClass; }

void TGIFUnknownAppExtension::ReadAppData(TGIFReader& reader) {
    Blocks.clear();
    for (int size = reader.ReadByte(); size > 0; size = reader.ReadByte()) {
        Image().ChargeDecoded(static_cast<uint64_t>(size) + stringOverhead);
        TGIFBlock block;
        block.Data.resize(static_cast<size_t>(size));
        reader.ReadExact(block.Data.data(), block.Data.size());
        Blocks.push_back(std::move(block));
    }
}

// Blocks are written as sub-blocks of their bytes: an empty block would end
// the data early and one above 255 bytes cannot be a single sub-block.
void TGIFUnknownAppExtension::WriteAppData(TStream& stream) {
    for (const TGIFBlock& block : Blocks) WriteSubBlocks(stream, block.Data.data(), block.Data.size());
    WriteByte(stream, 0);
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage& frame) : TGIFApplicationExtension(frame) {
    std::memcpy(Identifier.data(), "NETSCAPE2.0", Identifier.size());
}

const TGIFExtensionClass& TGIFAppExtNSLoop::ExtensionClass() const { return GIFAppExtNSLoopClass; }

void TGIFAppExtNSLoop::ReadAppData(TGIFReader& reader) {
    // Sub-blocks: a size, an id whose low three bits give the kind (1 loop
    // count, 2 buffer size), then the value. The end of the stream ends the data.
    for (;;) {
        const int size = reader.ReadByte();
        if (size <= 0) return;
        const int id = reader.ReadByte();
        if (id < 0) return;
        switch (id & 7) {
            case 1: {
                if (size < 3) RaiseGIFError(GIFText::InvalidGIFData);
                uint8_t bytes[2];
                reader.ReadExact(bytes, 2);
                Loops = LittleEndian16(bytes);
                reader.Skip(size - 3);
                break;
            }
            case 2: {
                if (size < 5) RaiseGIFError(GIFText::InvalidGIFData);
                uint8_t bytes[4];
                reader.ReadExact(bytes, 4);
                BufferSize = LittleEndian32(bytes);
                reader.Skip(size - 5);
                break;
            }
            default: reader.Skip(size - 1); break;
        }
    }
}

void TGIFAppExtNSLoop::WriteAppData(TStream& stream) {
    TByteWriter bytes;
    bytes.U8(3).U8(1).U16(Loops);
    if (BufferSize != 0) bytes.U8(5).U8(2).U32(BufferSize);
    WriteRecord(stream, bytes.U8(0));
}

// ---------------------------------------------------------------- TGIFExtensionList

void TGIFExtensionList::Clear() {
    // Destroy from the last to the first, so that a frame's graphic control
    // reference is cleared by the extension that set it.
    while (!items_.empty()) items_.pop_back();
}

void TGIFExtensionList::Load(TGIFReader& reader) {
    int byte = reader.ReadByte();
    if (byte < 0) return;
    while (byte != GIFImageSeparator && byte != GIFTrailer) {
        if (byte != GIFExtensionIntroducer) {
            frame_.ReportWarning(gsWarning, GIFText::InvalidExtensionIntroducer);
            break;
        }
        const TGIFExtensionClass* type = ResolveExtensionClass(reader);
        if (!type) RaiseGIFError(GIFText::UnknownExtensionType);
        reader.StepBack();
        frame_.Image().ChargeDecoded(stringOverhead);
        std::unique_ptr<TGIFExtension> extension = type->Create(frame_);
        extension->Load(reader);  // on an error the instance goes with the unwinding
        items_.push_back(std::move(extension));
        byte = reader.ReadByte();
        if (byte < 0) return;
    }
    reader.StepBack();
}

void TGIFExtensionList::Save(TStream& stream) const {
    for (const auto& extension : items_) extension->Save(stream);
}

}  // namespace tamberlit
