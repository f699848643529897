// Packs arbitrary bytes with an arbitrary block size and reads them back, both through the
// expander and as an archive entry: what comes back must be what went in.
#include "engine/DArc.h"
#include "tools/ArchivePacker.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return -1;
    // Blocks from 16 bytes to the packer's own size and beyond.
    const std::size_t blockSize = 16 + std::size_t{data[0]} * 61;
    const std::vector<std::uint8_t> plain(data + 1, data + size);
    TMemoryStream packed(PackBytePairs(plain, blockSize));
    if (ExpandBytePairs(packed, static_cast<std::int32_t>(plain.size()))->Bytes() != plain)
        std::abort();

    TMemoryStream archive(BuildArchive({{"a.bin", plain}}, /*packed=*/true));
    if (ReadArchiveEntry(archive, "A.BIN")->Bytes() != plain)
        std::abort();
    return 0;
}
