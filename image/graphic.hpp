#pragma once
// TGraphic: the abstract picture every image class derives from.

#include <functional>
#include <string>

#include "image/limits.hpp"
#include "image/palette.hpp"
#include "image/stream.hpp"

namespace tamberlit {

class TGraphic {
public:
    virtual ~TGraphic() = default;
    TGraphic() = default;
    TGraphic(const TGraphic&) = delete;
    TGraphic& operator=(const TGraphic&) = delete;

    // The class name used in messages ("Cannot assign a TGIFImage to a TJPEGImage").
    virtual const char* ClassName() const = 0;

    // Makes this graphic a copy of source. The default asks the source to put
    // its picture into this graphic (AssignTo).
    virtual void CopyFrom(TGraphic* source);
    // Puts this graphic's picture into dest. The default refuses with
    // EConvertError "Cannot assign a <this class> to a <dest class>".
    virtual void AssignTo(TGraphic& dest);

    virtual bool Empty() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void SetWidth(int width) = 0;
    virtual void SetHeight(int height) = 0;
    virtual HPALETTE Palette() const { return nullptr; }
    virtual void SetPalette(HPALETTE) {}

    // LoadFile opens the named file (TFileStream) and calls LoadFromStream;
    // SaveFile writes SaveToStream's bytes to a temporary file that then
    // replaces the named file (SaveFileAtomically).
    virtual void LoadFile(const std::string& path);
    virtual void SaveFile(const std::string& path);
    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream) = 0;

    // What the last load found of the picture's rows in the file: fewer rows
    // present than the picture has when the file was cut short (at least
    // half of them: readers refuse a file that holds less). A reader that
    // decodes on demand (JPEG, GIF) knows it once the picture is decoded.
    const TRowsPresent& RowsPresent() const { return rowsPresent_; }

    std::function<void(TGraphic&)> OnChange;

    // The decoded-size limit the next load keeps to (and a bitmap's blocks).
    TSizeLimits Limits;

protected:
    virtual void Changed();

    TRowsPresent rowsPresent_;
};

[[noreturn]] void RaiseAssignError(const TGraphic& source, const TGraphic& dest);

}  // namespace tamberlit
