#pragma once
// The ranking page "intsc.htm": the current scores in a form the user's browser posts to the
// internet ranking service, with a check value that shows whether they were edited.
#include <cstdint>

// What the ranking service expects; it checks a submission with the same values.
inline constexpr const char* kRankServiceAddress = "http://rank.orvane.example/cgi-bin/zelka.cgi";
inline constexpr std::int32_t kRankPageVersion = 200;
inline constexpr std::int32_t kRankCheckMultiplier = 7;
inline constexpr std::int32_t kRankCheckOffset = 39;

// (total + s1 + ... + s5 + version) * multiplier + offset, wrapping in 32 bits.
std::int32_t RankCheckValue(std::int32_t total, const std::int32_t (&scores)[5]);

// Writes "intsc.htm" into the current directory from the main window's panels. A panel that
// is not an integer raises EConvertError before the file is created.
void MakeRankPage();
// Opens "intsc.htm" with the shell.
void OpenRankPage();
