#pragma once
// What the ranking page and the ranking service agree on: the page-format version, the check
// value that shows whether the scores were edited, and where a local service listens. The
// program writes the page with these; zelka-rank verifies a submission with the same values.
#include <cstdint>
#include <string>

inline constexpr std::int32_t kRankPageVersion = 200;
inline constexpr std::int32_t kRankCheckMultiplier = 7;
inline constexpr std::int32_t kRankCheckOffset = 39;

// The service's default address and the form's action path on it.
inline constexpr const char* kRankDefaultHost = "127.0.0.1";
inline constexpr int kRankDefaultPort = 8932;
inline constexpr const char* kRankActionPath = "/cgi-bin/zelka.cgi";

// (total + s1 + ... + s5 + version) * multiplier + offset, wrapping in 32 bits.
std::int32_t RankCheckValue(std::int32_t total, const std::int32_t (&scores)[5]);

// The form's action address: ZELKA_RANK_URL when set and not empty, otherwise the action path
// on a local zelka-rank at its default address.
std::string RankServiceAddress();
