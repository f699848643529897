#include "NetworkAddress.h"

#include <arpa/inet.h>
#include <charconv>
#include <cstring>

namespace {

using Bytes = std::array<std::uint8_t, 16>;

constexpr std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

bool IsMapped(const Bytes& b) {
    return std::memcmp(b.data(), kMappedPrefix, sizeof kMappedPrefix) == 0;
}

// An address as 16 bytes, IPv4 as IPv4-mapped; nothing for any other text.
std::optional<Bytes> ParseAddress(std::string_view text) {
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN)
        return std::nullopt;
    const std::string address(text);
    Bytes b{};
    if (inet_pton(AF_INET, address.c_str(), b.data() + 12) == 1) {
        std::memcpy(b.data(), kMappedPrefix, sizeof kMappedPrefix);
        return b;
    }
    if (inet_pton(AF_INET6, address.c_str(), b.data()) == 1)
        return b;
    return std::nullopt;
}

std::string Text(const Bytes& b) {
    char out[INET6_ADDRSTRLEN] = "";
    if (IsMapped(b))
        inet_ntop(AF_INET, b.data() + 12, out, sizeof out);
    else
        inet_ntop(AF_INET6, b.data(), out, sizeof out);
    return out;
}

bool SamePrefix(const Bytes& a, const Bytes& b, int bits) {
    const int whole = bits / 8;
    if (std::memcmp(a.data(), b.data(), static_cast<std::size_t>(whole)) != 0)
        return false;
    const int rest = bits % 8;
    if (rest == 0)
        return true;
    const auto mask = static_cast<std::uint8_t>(0xff << (8 - rest));
    return (a[whole] & mask) == (b[whole] & mask);
}

} // namespace

std::string CanonicalAddress(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    const auto bytes = ParseAddress(text);
    return bytes ? Text(*bytes) : std::string();
}

std::string LimitBucket(std::string_view address) {
    auto bytes = ParseAddress(address);
    if (!bytes)
        return std::string(address);
    if (IsMapped(*bytes))
        return Text(*bytes);
    std::memset(bytes->data() + 8, 0, 8);
    return Text(*bytes) + "/64";
}

bool NetworkSet::Add(std::string_view text) {
    const std::size_t slash = text.find('/');
    const auto bytes = ParseAddress(text.substr(0, slash));
    if (!bytes)
        return false;
    const bool v4 = IsMapped(*bytes);
    int prefix = v4 ? 32 : 128;
    if (slash != std::string_view::npos) {
        const std::string_view digits = text.substr(slash + 1);
        int value = -1;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
            (digits.size() > 1 && digits[0] == '0') || value < 0 || value > prefix)
            return false;
        prefix = value;
    }
    Network n{*bytes, v4 ? prefix + 96 : prefix};
    // "10.0.0.1/8" is more likely a typing error than a network: refused.
    Bytes masked{};
    for (int bit = 0; bit < n.prefix; ++bit)
        masked[bit / 8] |= static_cast<std::uint8_t>(n.bytes[bit / 8] & (0x80 >> (bit % 8)));
    if (masked != n.bytes)
        return false;
    networks_.push_back(n);
    return true;
}

bool NetworkSet::Contains(std::string_view address) const {
    const auto bytes = ParseAddress(address);
    if (!bytes)
        return false;
    for (const Network& n : networks_)
        if (SamePrefix(*bytes, n.bytes, n.prefix))
            return true;
    return false;
}
