// Expands arbitrary packed bytes to a stated size. Only EQDAError may come out; a result
// has exactly the stated size and starts at position 0.
#include "FuzzInput.h"
#include "engine/DArc.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kSizePrefix)
        return -1;
    const std::int32_t stated = StatedSize(data);
    TMemoryStream packed(std::vector<std::uint8_t>(data + kSizePrefix, data + size));
    try {
        const std::unique_ptr<TMemoryStream> out = ExpandBytePairs(packed, stated);
        if (out->Size() != stated || out->Position() != 0 ||
            out->Size() > std::int64_t{kQDALargestEntry})
            std::abort();
    } catch (const EQDAError&) {
    }
    return 0;
}
