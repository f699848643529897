#pragma once
// CP932 (Windows Shift-JIS), the code page of every file the program writes or reads, through
// the C library's iconv. Inside the program text is UTF-8.
#include <QString>
#include <optional>
#include <string>
#include <string_view>

// Characters CP932 cannot hold become '?'.
std::string ToCP932(std::string_view utf8);
std::string ToCP932(const QString& text);

// Bytes that are no CP932 (a file the user edited, binary garbage) each become U+FFFD, so
// nothing is dropped silently.
std::string CP932ToUtf8(std::string_view cp932);
QString FromCP932(std::string_view cp932);

// Text in `charset` (an iconv name: "CP932", "EUC-JP", "UTF-8") as UTF-8, or nothing when any
// byte sequence is not valid in that code.
std::optional<std::string> DecodeStrict(std::string_view bytes, const char* charset);
