#pragma once
// Run-time library: the exception hierarchy and integer text conversion.
#include <cstdint>
#include <stdexcept>
#include <string>

// Base of every error that ends a command in the application. The message is UTF-8 text
// and is what the standard error box shows.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// A text that is not an integer, or one out of the 32-bit range.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A failed file operation; the message names the file and the system's reason.
class EInOutError : public Exception {
public:
    EInOutError(const std::string& message, int errorCode = 0)
        : Exception(message), ErrorCode(errorCode) {}
    int ErrorCode;
};

// Floating-point overflow, raised when a value does not fit its storage format.
class EOverflow : public Exception {
public:
    using Exception::Exception;
};

// Plain decimal text: no separators, no padding, "-" only for a negative number.
std::string IntToStr(std::int32_t value);
std::string IntToStr(std::int64_t value);

// Accepts optional blanks, an optional sign, then decimal digits or '$'/"0x" followed by
// hexadecimal digits, and nothing after them. Anything else, or a value outside the signed
// 32-bit range, raises EConvertError "'<text>' is not a valid integer value".
std::int32_t StrToInt(const std::string& text);
