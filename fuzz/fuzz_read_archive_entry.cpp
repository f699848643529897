// Reads entries from an arbitrary archive: the fixed names the scene uses and the names the
// directory holds. Only EQDAError may come out; a result never holds more than the largest
// entry allowed.
#include "FuzzInput.h"
#include "engine/DArc.h"

#include <cstdlib>
#include <cstring>

namespace {

std::uint32_t U32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

void TryEntry(TMemoryStream& archive, const std::string& name) {
    try {
        const std::unique_ptr<TMemoryStream> entry = ReadArchiveEntry(archive, name);
        if (entry->Position() != 0)
            std::abort();
    } catch (const EQDAError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> names{"samp4.bmp", "BOSS2.BMP", "samp5.bmp"};
    if (size >= kQDAHeaderSize) {
        const std::size_t fit = (size - kQDAHeaderSize) / kQDAEntrySize;
        const std::size_t count = std::min<std::size_t>(U32(data + 8), fit);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* entry = data + kQDAHeaderSize + i * kQDAEntrySize;
            const auto* name = reinterpret_cast<const char*>(entry + 12);
            const void* end = std::memchr(name, 0, kQDANameSize);
            if (end != nullptr && names.size() < 3 + kEntriesTried)
                names.push_back(
                    DecodeArchiveName(std::string(name, static_cast<const char*>(end))));
        }
    }
    TMemoryStream archive(std::vector<std::uint8_t>(data, data + size));
    try {
        const TQDADirectory directory = ReadArchiveDirectory(archive);
        // Every listed entry with data must be readable or refused cleanly, and a read entry
        // has exactly its stated size.
        for (std::size_t i = 0; i < directory.Entries.size() && i < kEntriesTried; ++i) {
            const TQDAEntry& entry = directory.Entries[i];
            try {
                const auto bytes = ReadArchiveEntry(archive, DecodeArchiveName(entry.Name));
                if (bytes->Size() > std::int64_t{kQDALargestEntry})
                    std::abort();
            } catch (const EQDAError&) {
            }
        }
    } catch (const EQDAError&) {
    }
    for (const std::string& name : names)
        TryEntry(archive, name);
    return 0;
}
