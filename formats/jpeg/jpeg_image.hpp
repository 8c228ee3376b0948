#pragma once
// TJPEGImage: JPEG pictures through the IJG JPEG library (interface version
// 62, as Debian's libjpeg62-turbo provides it). The object keeps the
// compressed bytes and decodes them into a TBitmap on first demand; a bitmap
// assigned to it is compressed when it is saved.

#include <memory>
#include <string>

#include "image/bitmap.hpp"
#include "image/exceptions.hpp"
#include "image/graphic.hpp"
#include "image/stream.hpp"

namespace tamberlit {

// A fatal error reported by the JPEG library: "JPEG error #<message number>".
// The number is the library's message code (jerror.h), e.g. 42 for empty input.
class EJPEG : public EInvalidGraphic {
public:
    explicit EJPEG(int messageCode);
    int MessageCode() const { return messageCode_; }

private:
    int messageCode_;
};

enum TJPEGPerformance : uint8_t { jpBestQuality, jpBestSpeed };
enum TJPEGPixelFormat : uint8_t { jf24Bit, jf8Bit };
// The decoder scales by 1 / 2^scale.
enum TJPEGScale : uint8_t { jsFullSize, jsHalf, jsQuarter, jsEighth };

struct TJPEGSettings {
    int CompressionQuality = 90;  // 1..100, with baseline-compatible tables
    bool Grayscale = false;       // decode to grey levels; encode a one-component file
    TJPEGPerformance Performance = jpBestQuality;
    TJPEGPixelFormat PixelFormat = jf24Bit;  // jf8Bit: colour is quantised to 236 colours
    bool ProgressiveDisplay = false;         // decode progressive files scan by scan
    bool ProgressiveEncoding = false;        // write the library's simple progression
    TJPEGScale Scale = jsFullSize;
    bool Smoothing = true;  // the library's block smoothing of progressive files
};

// The settings every new TJPEGImage starts with. Fixed at start-up: the output
// pixel format is 8-bit only when the screen has 8 or fewer bits per pixel.
const TJPEGSettings& JPEGDefaults();

// The compressed data with what its header says. Shared between images that
// are assigned to each other and never changed once shared: loading or
// compressing makes a new record.
struct TJPEGData {
    TMemoryStream Data;
    int Width = 0;
    int Height = 0;
    bool Grayscale = false;  // the file's colour space is grayscale
};

class TJPEGImage : public TGraphic {
public:
    TJPEGImage();
    ~TJPEGImage() override;

    const char* ClassName() const override { return "TJPEGImage"; }

    // A TJPEGImage source shares its compressed data (and a copy of its cached
    // bitmap); a TBitmap source becomes the cached bitmap, with empty
    // compressed data. Any other source is asked to put its picture in here.
    void CopyFrom(TGraphic* source) override;
    // Into a TBitmap: decodes (once) and shares the cached bitmap with it.
    // Anything else: EConvertError "Cannot assign a TJPEGImage to a <class>".
    void AssignTo(TGraphic& dest) override;

    bool Empty() const override;
    int Width() const override;
    int Height() const override;
    // EInvalidGraphicOperation "Cannot change the size of a JPEG image".
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    HPALETTE Palette() const override;

    // Reads everything from the stream's position to its end and parses the
    // header (EJPEG when it is not a JPEG); pixels are decoded on demand.
    void LoadFromStream(TStream& stream) override;
    // Compresses the cached bitmap when there are no compressed data yet, then
    // writes the compressed bytes.
    void SaveToStream(TStream& stream) override;

    // Decodes the compressed data into the cached bitmap unless one is cached.
    void DIBNeeded();
    // Compresses the cached bitmap unless compressed data exist.
    void JPEGNeeded();
    // Compresses the cached bitmap into new compressed data (empty data when
    // there is no bitmap or it has no pixels).
    void Compress();

    const TJPEGData& Data() const { return *data_; }

    // Settings. Those that change decoding drop a bitmap decoded from data, so
    // that the next assignment decodes again.
    int CompressionQuality() const { return settings_.CompressionQuality; }
    void SetCompressionQuality(int quality);
    bool Grayscale() const { return settings_.Grayscale; }
    void SetGrayscale(bool grayscale);
    TJPEGPerformance Performance() const { return settings_.Performance; }
    void SetPerformance(TJPEGPerformance performance);
    TJPEGPixelFormat PixelFormat() const { return settings_.PixelFormat; }
    void SetPixelFormat(TJPEGPixelFormat format);
    bool ProgressiveDisplay() const { return settings_.ProgressiveDisplay; }
    void SetProgressiveDisplay(bool progressive);
    // Also set from loaded data: true when the file has more than one scan.
    bool ProgressiveEncoding() const { return settings_.ProgressiveEncoding; }
    void SetProgressiveEncoding(bool progressive) { settings_.ProgressiveEncoding = progressive; }
    TJPEGScale Scale() const { return settings_.Scale; }
    void SetScale(TJPEGScale scale);
    bool Smoothing() const { return settings_.Smoothing; }
    void SetSmoothing(bool smoothing);

private:
    void FreeBitmap();
    void DecodingSettingChanged();

    std::shared_ptr<const TJPEGData> data_;
    std::unique_ptr<TBitmap> bitmap_;
    TJPEGSettings settings_;
};

}  // namespace tamberlit
