#pragma once
// Reader of QDA archives: a 256-byte header, a directory of 268-byte entries and the
// entries' bytes, stored unchanged or packed with byte pair encoding.
//
// The archive is untrusted input. Every count, offset and size it claims is checked against
// the bytes really there before anything is read or allocated; a malformed archive raises
// EQDAError with a text that says what is wrong.
#include "platform/Classes.h"
#include "platform/SysUtils.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class EQDAError : public Exception {
public:
    using Exception::Exception;
};

// The two failures callers tell apart: not an archive at all, and no such entry.
inline constexpr const char* kQDANotAnArchive = "QDAファイルではありません";
inline constexpr const char* kQDAEntryNotFound = "指定されたIDを持つファイルが見つかりません";

inline constexpr std::uint32_t kQDAHeaderSize = 256;
inline constexpr std::uint32_t kQDAEntrySize = 268;
inline constexpr std::uint32_t kQDANameSize = 256;
inline constexpr std::uint32_t kQDAPacked = 1;
// The most bytes one entry may hold once expanded. The archives hold bitmaps of a few
// hundred kilobytes; a stated size above this is refused before anything is expanded, as a
// few packed bytes can otherwise expand to gigabytes.
inline constexpr std::uint32_t kQDALargestEntry = 64u << 20;

struct TQDAEntry {
    std::uint32_t DataOffset = 0;
    std::uint32_t PackedSize = 0;
    std::uint32_t Size = 0;
    std::string Name; // the archive's own bytes (CP932), without the terminating zero
};

struct TQDADirectory {
    bool Packed = false;
    std::vector<TQDAEntry> Entries;
};

// Opens the archive file, reads one entry and closes the file again. A file that cannot be
// opened raises EFOpenError. The caller owns the returned stream, positioned at 0.
std::unique_ptr<TMemoryStream> OpenArchiveEntry(const std::string& archiveFileName,
                                                const std::string& entryName);

// Reads the entry of that name (UTF-8; compared without regard to case, first match wins)
// from an archive read from its start. The caller owns the returned stream, positioned at 0.
std::unique_ptr<TMemoryStream> ReadArchiveEntry(TStream& archive, const std::string& entryName);

// Expands byte-pair-packed blocks, from the input's position to its end, into exactly
// expandedSize bytes; a size above kQDALargestEntry raises EQDAError.
std::unique_ptr<TMemoryStream> ExpandBytePairs(TMemoryStream& packed, std::int32_t expandedSize);

// The header and every directory entry, each checked as ReadArchiveEntry checks the
// entries it passes: names terminated, data inside the file.
TQDADirectory ReadArchiveDirectory(TStream& archive);

// Archive names are in the program's code page (CP932). Encoding fails for text that has
// no CP932 form; decoding shows undecodable bytes as U+FFFD.
std::optional<std::string> EncodeArchiveName(const std::string& text);
std::string DecodeArchiveName(const std::string& name);
// Whether two archive names (CP932) are the same name to the reader, whatever their case.
bool ArchiveNamesMatch(const std::string& a, const std::string& b);
