#pragma once
// Errors and warnings of the GIF codec and its fixed message texts. Errors are
// raised as GIFException; warnings go to the image's OnGIFWarning handler and
// let reading go on.

#include <string>

#include "image/exceptions.hpp"

namespace tamberlit {

class GIFException : public EInvalidGraphic {
public:
    using EInvalidGraphic::EInvalidGraphic;
};

[[noreturn]] void RaiseGIFError(const std::string& message);

// Severity of a report to OnGIFWarning; everything the reader reports is gsWarning.
enum TGIFSeverity { gsInfo, gsWarning, gsError };

// The codec's message texts.
namespace GIFText {
inline constexpr const char* ImageHasNoDIB = "Image has no DIB";
inline constexpr const char* InvalidStreamOperation = "Invalid stream operation";
inline constexpr const char* ColorNotInColorTable = "Color not in color table";
inline constexpr const char* ColorTableIsEmpty = "Color table is empty";
inline constexpr const char* ImageIsEmpty = "Image is empty";
inline constexpr const char* InvalidReductionMethod = "Invalid reduction method";
inline constexpr const char* GIFImage = "GIF Image";
inline constexpr const char* Loading = "Loading...";
inline constexpr const char* Saving = "Saving...";
inline constexpr const char* Converting = "Converting...";
inline constexpr const char* Rendering = "Rendering...";
inline constexpr const char* Copying = "Copying...";
inline constexpr const char* DecoderBitBufferUnderRun = "Decoder bit buffer under-run";
inline constexpr const char* CircularDecoderTableEntry = "Circular decoder table entry";
inline constexpr const char* InvalidImageTrailer = "Invalid Image trailer";
inline constexpr const char* ExtensionInstanceMismatch =
    "Internal error: Extension Instance does not match Extension Label";
inline constexpr const char* UnsupportedAppExtBlockSize = "Unsupported Application Extension block size";
inline constexpr const char* UnknownGIFBlockType = "Unknown GIF block type";
inline constexpr const char* ObjectTypeNotSupported = "Object type not supported for operation";
inline constexpr const char* InvalidGIFData = "Invalid GIF data";
inline constexpr const char* ImageHeightTooSmall = "Image height too small for contained frames";
inline constexpr const char* ImageWidthTooSmall = "Image width too small for contained frames";
inline constexpr const char* ImageExceedsScreen = "Image exceeds Logical Screen size";
inline constexpr const char* NoColorTable = "No global or local color table defined";
inline constexpr const char* InvalidPixelCoordinates = "Invalid pixel coordinates";
inline constexpr const char* UnsupportedPixelFormat = "Unsupported PixelFormat";
inline constexpr const char* InvalidImageDimensions = "Invalid image dimensions";
inline constexpr const char* PrematureEndOfData = "Premature end of data";
inline constexpr const char* ColorTableOverflow = "Color table overflow";
inline constexpr const char* InvalidColorIndex = "Invalid color index";
inline constexpr const char* UnsupportedGIFVersion = "Unsupported GIF version";
inline constexpr const char* InvalidGIFSignature = "Invalid GIF signature";
inline constexpr const char* UnknownExtensionType = "Unknown extension type";
inline constexpr const char* InvalidExtensionIntroducer = "Invalid extension introducer";
inline constexpr const char* DIBAllocationFailed = "Failed to allocate memory for GIF DIB";
}  // namespace GIFText

}  // namespace tamberlit
