// SPDX-License-Identifier: MIT
// Results and errors of the library's C++ core. Nothing in the core throws on
// bad input: every fallible function returns a Status or a Result<T> whose
// message names the cause. (std::bad_alloc may still escape from an
// allocation; the C interface turns it into an OutOfMemory failure, and any
// other exception into an Internal one.)
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace imgctl {

enum class Error {
    None = 0,
    BadHandle,   // 0, negative, unknown or released handle
    BadArgument, // a null pointer or an argument outside what the call accepts
    NotFound,    // the file does not exist
    CannotRead,  // the file exists but cannot be read
    NotImage,    // the content is not a BMP, JPEG or PNG
    Unsupported, // a real variant of a format that this library does not read
    Corrupt,     // damaged or truncated data
    TooLarge,    // the image passes the size limits
    OutOfMemory,
    CannotWrite,      // a save failed for a reason none of the next three names
    PermissionDenied, // the file or folder may not be read or written
    DiskFull,         // no space left, quota used up or the file-size limit reached
    NoFolder,         // the output's folder does not exist or is not a folder
    Internal,         // a fault inside the library, not in the input
};
// The C interface's ImgctlError values are these, in this order.

// Short English name of an error class, used as the message prefix.
const char *errorName(Error e);

class [[nodiscard]] Status {
  public:
    Status() = default;
    Status(Error code, std::string message) : code_(code), message_(std::move(message)) {}
    static Status ok() { return {}; }

    bool isOk() const { return code_ == Error::None; }
    explicit operator bool() const { return isOk(); }
    Error code() const { return code_; }
    const std::string &message() const { return message_; }

  private:
    Error code_ = Error::None;
    std::string message_;
};

template <class T> class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    Result(Status status) : status_(std::move(status)) {}
    Result(Error code, std::string message) : status_(code, std::move(message)) {}

    bool isOk() const { return value_.has_value(); }
    explicit operator bool() const { return isOk(); }
    const Status &status() const { return status_; }
    T &value() & { return *value_; }
    const T &value() const & { return *value_; }
    T &&value() && { return std::move(*value_); }
    T *operator->() { return &*value_; }
    const T *operator->() const { return &*value_; }

  private:
    std::optional<T> value_;
    Status status_;
};

} // namespace imgctl
