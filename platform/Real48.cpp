#include "Real48.h"

#include "SysUtils.h"

#include <cfloat>
#include <cmath>
#include <cstring>

namespace {
constexpr int kRealBias = 129;
constexpr int kExtendedBias = 16383;
constexpr int kBiasDelta = kExtendedBias - kRealBias; // 16254
constexpr std::uint64_t kLeadingBit = 1ull << 63;
} // namespace

Extended80 Real48ToExtended(const Real48& r) {
    if (r[0] == 0)
        return {};
    std::uint32_t high = 0;
    std::memcpy(&high, &r[2], 4); // the format is little-endian, as is every host we build on
    const std::uint16_t sign = (high >> 31) ? 0x8000 : 0;
    const std::uint64_t fraction =
        (static_cast<std::uint64_t>(high & 0x7FFFFFFFu) << 8) | r[1]; // 39 bits
    return {kLeadingBit | (fraction << 24), static_cast<std::uint16_t>(sign | (r[0] + kBiasDelta))};
}

Real48 ExtendedToReal48(const Extended80& x) {
    std::uint64_t significand = x.significand;
    int exponent = x.signExponent & 0x7FFF;
    const bool negative = (x.signExponent & 0x8000) != 0;
    // Keep the top 40 bits, adding one at the 40th when the highest dropped bit is set.
    if (significand & (1ull << 23)) {
        const std::uint64_t rounded = significand + (1ull << 24);
        if (rounded < significand) { // carried out of the significand: 1.0 * 2^(e+1)
            significand = kLeadingBit;
            ++exponent;
        } else {
            significand = rounded;
        }
    }
    const int realExponent = exponent - kBiasDelta;
    Real48 r{};
    if (realExponent <= 0)
        return r;
    if (realExponent > 255)
        throw EOverflow("Floating point overflow");
    const std::uint64_t fraction = (significand >> 24) & ((1ull << 39) - 1);
    r[0] = static_cast<std::uint8_t>(realExponent);
    r[1] = static_cast<std::uint8_t>(fraction & 0xFF);
    const std::uint32_t high =
        static_cast<std::uint32_t>(fraction >> 8) | (negative ? 0x80000000u : 0u);
    std::memcpy(&r[2], &high, 4);
    return r;
}

#if LDBL_MANT_DIG == 64 && defined(__x86_64__)
long double ExtendedToLongDouble(const Extended80& x) {
    long double value = 0;
    std::memcpy(&value, &x.significand, 8);
    std::memcpy(reinterpret_cast<unsigned char*>(&value) + 8, &x.signExponent, 2);
    return value;
}

Extended80 LongDoubleToExtended(long double value) {
    Extended80 x;
    std::memcpy(&x.significand, &value, 8);
    std::memcpy(&x.signExponent, reinterpret_cast<const unsigned char*>(&value) + 8, 2);
    return x;
}
#else
long double ExtendedToLongDouble(const Extended80& x) {
    const int exponent = x.signExponent & 0x7FFF;
    if (x.significand == 0)
        return (x.signExponent & 0x8000) ? -0.0L : 0.0L;
    // Split the significand so that no bits are lost where long double is wider than 64 bits.
    const long double high = std::ldexp(static_cast<long double>(x.significand >> 32), 32);
    const long double low = static_cast<long double>(x.significand & 0xFFFFFFFFu);
    long double value = std::ldexp(high + low, exponent - kExtendedBias - 63);
    return (x.signExponent & 0x8000) ? -value : value;
}

Extended80 LongDoubleToExtended(long double value) {
    Extended80 x;
    if (std::signbit(value)) {
        x.signExponent = 0x8000;
        value = -value;
    }
    if (value == 0)
        return x;
    int exponent = 0;
    const long double mantissa = std::frexp(value, &exponent); // [0.5, 1)
    const long double scaled = std::ldexp(mantissa, 64);
    const long double high = std::floor(std::ldexp(scaled, -32));
    const long double low = scaled - std::ldexp(high, 32);
    x.significand = (static_cast<std::uint64_t>(high) << 32) | static_cast<std::uint64_t>(low);
    x.signExponent |= static_cast<std::uint16_t>(exponent - 1 + kExtendedBias);
    return x;
}
#endif
