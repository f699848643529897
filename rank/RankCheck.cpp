#include "RankCheck.h"

#include <cstdlib>

std::int32_t RankCheckValue(std::int32_t total, const std::int32_t (&scores)[5]) {
    std::uint32_t sum = static_cast<std::uint32_t>(total) + kRankPageVersion;
    for (std::int32_t score : scores)
        sum += static_cast<std::uint32_t>(score);
    return static_cast<std::int32_t>(sum * kRankCheckMultiplier + kRankCheckOffset);
}

std::string RankServiceAddress() {
    if (const char* url = std::getenv("ZELKA_RANK_URL"); url != nullptr && *url != '\0')
        return url;
    return std::string("http://") + kRankDefaultHost + ":" + std::to_string(kRankDefaultPort) +
           kRankActionPath;
}
