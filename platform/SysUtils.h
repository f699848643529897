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

// Separators of number formatting: the user's locale, as the C library reports it after the
// program's locale set-up; "," and "." where the locale defines none.
struct TFormatSettings {
    std::string ThousandSeparator = ",";
    std::string DecimalSeparator = ".";
};
TFormatSettings LocaleFormatSettings();

// Formats a number by a picture such as "#,##0KB" or "000.0000": '0' is a digit always
// shown, '#' a digit shown when significant, ',' in the integer part turns on thousands
// separators, '.' marks the decimals; text before the first and after the last placeholder
// is copied. Rounds half away from zero to the number of decimal placeholders.
std::string FormatFloat(const std::string& format, long double value,
                        const TFormatSettings& settings = LocaleFormatSettings());
