#pragma once
// IP addresses and networks as the service sees its clients: the text an address is kept as,
// the bucket the limits count it in, and the set of networks whose proxies it believes.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// An address in its canonical text ("::1", "127.0.0.1"; an IPv4-mapped IPv6 address as its
// IPv4 address); empty for anything else, such as a port, brackets or a name.
std::string CanonicalAddress(std::string_view text);

// What the limits count an address as: an IPv4 address itself, an IPv6 address by its /64
// ("2001:db8:1:2::/64"), since one client commonly holds a whole /64.
std::string LimitBucket(std::string_view address);

// Addresses and networks ("127.0.0.1", "10.0.0.0/8", "::1", "fd00::/8").
class NetworkSet {
public:
    // Adds one address or network; false (and nothing added) for anything else, a network
    // with bits set past its prefix included.
    bool Add(std::string_view text);
    bool Contains(std::string_view address) const;
    bool Empty() const { return networks_.empty(); }

private:
    struct Network {
        std::array<std::uint8_t, 16> bytes{}; // IPv4 as IPv4-mapped IPv6
        int prefix = 128;
    };
    std::vector<Network> networks_;
};
