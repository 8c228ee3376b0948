#include "image/graphic.hpp"

#include "image/exceptions.hpp"

namespace tamberlit {

void RaiseAssignError(const TGraphic& source, const TGraphic& dest) {
    throw EConvertError(std::string("Cannot assign a ") + source.ClassName() + " to a " + dest.ClassName());
}

void TGraphic::CopyFrom(TGraphic* source) {
    if (source == nullptr) throw EConvertError(std::string("Cannot assign a nil to a ") + ClassName());
    source->AssignTo(*this);
}

void TGraphic::AssignTo(TGraphic& dest) { RaiseAssignError(*this, dest); }

void TGraphic::LoadFile(const std::string& path) {
    TFileStream stream(path);
    LoadFromStream(stream);
}

void TGraphic::SaveFile(const std::string& path) {
    SaveFileAtomically(path, [this](TStream& stream) { SaveToStream(stream); });
}

void TGraphic::Changed() {
    if (OnChange) OnChange(*this);
}

}  // namespace tamberlit
