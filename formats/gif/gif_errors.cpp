#include "formats/gif/gif_errors.hpp"

namespace tamberlit {

void RaiseGIFError(const std::string& message) { throw GIFException(message); }

}  // namespace tamberlit
