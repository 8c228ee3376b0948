#include "formats/png/png_library.hpp"

#include <cstring>

namespace tamberlit::png_detail {

void RaisePngError(png_structp png, png_const_charp message) {
    if (auto* record = static_cast<TPngErrorRecord*>(png_get_error_ptr(png)); record && message) {
        std::strncpy(record->Message, message, sizeof record->Message - 1);
        record->Message[sizeof record->Message - 1] = '\0';
    }
    png_longjmp(png, 1);
}

void IgnorePngWarning(png_structp, png_const_charp) {}

}  // namespace tamberlit::png_detail
