#pragma once
// The error classes of the bitmap model and its codecs. Every error carries the
// message text that the user finally sees.

#include <stdexcept>
#include <string>

namespace tamberlit {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// Graphic data that cannot be decoded ("Bitmap image is not valid", ...).
class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

// An operation a graphic cannot perform ("Scan line index out of range", ...).
class EInvalidGraphicOperation : public Exception {
public:
    using Exception::Exception;
};

// Assignment between graphic classes that cannot take each other's pictures.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

class EOutOfMemory : public Exception {
public:
    using Exception::Exception;
};

class EStreamError : public Exception {
public:
    using Exception::Exception;
};

class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// A picture whose decoded size exceeds the configured limit; raised before any
// pixel memory is allocated.
class EImageTooLarge : public EInvalidGraphic {
public:
    using EInvalidGraphic::EInvalidGraphic;
};

// The silent abort: unwinds an operation without an error report.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
};

}  // namespace tamberlit
