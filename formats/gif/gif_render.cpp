#include "formats/gif/gif_image.hpp"

namespace tamberlit {

// Placeholder until the rendering lands.
TBitmap* TGIFImage::RenderedBitmap() { return nullptr; }
HPALETTE TGIFImage::ImagePalette() { return palette_; }
bool TGIFImage::ShouldDither() const {
    return (DrawOptions & goUseDithering) && (!(DrawOptions & goDitherOnlyOnPalettedScreens) || PalettedScreen);
}
HPALETTE TGIFImage::Palette() const { return palette_; }
void TGIFImage::SetPalette(HPALETTE palette) { palette_ = std::move(palette); }
void TGIFImage::AssignTo(TGraphic& dest) { TGraphic::AssignTo(dest); }
TBitmap* TGIFSubImage::FrameBitmap() { return nullptr; }
HPALETTE TGIFSubImage::FramePalette() { return palette_; }
void TGIFSubImage::SetFramePalette(HPALETTE palette) { palette_ = std::move(palette); }
void TGIFSubImage::AssignTo(TBitmap&) {}

}  // namespace tamberlit
