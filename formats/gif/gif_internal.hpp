#pragma once
// What the files of the GIF codec share among themselves and callers do not
// use. Only formats/gif includes this header; callers include gif_image.hpp.

#include "formats/gif/gif_image.hpp"

namespace tamberlit {

// The progress bracket of a long step of an image (loading, saving, copying,
// converting, rendering): gpsStarting at 0 when it is made, gpsEnding when it
// goes, at 100 after a step that completed and at 0 after one that an error
// left or that was given up.
class TGIFProgressScope {
public:
    TGIFProgressScope(TGIFImage& image, const char* message);
    // Like every report, the end may raise what the handler raises, except
    // while an error is leaving the step.
    ~TGIFProgressScope() noexcept(false);
    TGIFProgressScope(const TGIFProgressScope&) = delete;
    TGIFProgressScope& operator=(const TGIFProgressScope&) = delete;

    // The step stops without an error and without its result (a silent abort).
    void GiveUp() { givenUp_ = true; }

private:
    TGIFImage& image_;
    const char* message_;
    const int errorsAtStart_;  // exceptions already under way when the step began
    bool givenUp_ = false;
};

}  // namespace tamberlit
