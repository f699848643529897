#pragma once
// The 6-byte real format and its software conversions to and from 80-bit extended.
//
// Real48, little-endian bytes 0..5: byte 0 is the exponent biased by 129 (0 means zero),
// byte 1 the lowest 8 bits of the 39-bit fraction, bytes 2..5 a little-endian word whose bit
// 31 is the sign and bits 30..0 the highest 31 fraction bits. Value: +-1.fraction * 2^(e-129).
#include <array>
#include <cstdint>

using Real48 = std::array<std::uint8_t, 6>;

// The 80-bit extended format by its fields: a 64-bit significand with explicit leading bit,
// and the sign (bit 15) with the exponent biased by 16383 (bits 14..0).
struct Extended80 {
    std::uint64_t significand = 0;
    std::uint16_t signExponent = 0;

    bool operator==(const Extended80&) const = default;
};

// Exponent 0 gives +0.0; otherwise the exponent becomes byte 0 + 16254 and the significand is
// 1, the 39 fraction bits, then 24 zero bits.
Extended80 Real48ToExtended(const Real48& r);

// Rounds the significand to 40 bits (half away from zero on the magnitude), rebiases the
// exponent, stores six zero bytes on underflow (the sign is lost) and raises EOverflow when
// the exponent exceeds 255.
Real48 ExtendedToReal48(const Extended80& x);

// Between the fields and the machine's long double. On x86-64 long double is the 80-bit
// extended type itself, so this is a byte copy; elsewhere the value is rebuilt with ldexpl,
// exactly where long double has at least 64 significand bits and rounded otherwise.
long double ExtendedToLongDouble(const Extended80& x);
Extended80 LongDoubleToExtended(long double value);

// The nearest extended value to 0.1: significand 0xCCCCCCCCCCCCCCCD, exponent 0x3FFB.
inline constexpr Extended80 kExtendedOneTenth{0xCCCCCCCCCCCCCCCDull, 0x3FFB};
