#include "platform/Real48.h"

#include "platform/SysUtils.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {
Real48 Bytes(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3, std::uint8_t b4,
             std::uint8_t b5) {
    return {b0, b1, b2, b3, b4, b5};
}
} // namespace

TEST(Real48, StoresExtendedValuesByteExact) {
    struct Case {
        const char* what;
        Extended80 in;
        Real48 out;
    } cases[] = {
        {"zero", {0, 0}, Bytes(0, 0, 0, 0, 0, 0)},
        {"1.0", {1ull << 63, 0x3FFF}, Bytes(0x81, 0, 0, 0, 0, 0)},
        {"-1.5", {0xC000000000000000ull, 0xBFFF}, Bytes(0x81, 0, 0, 0, 0, 0xC0)},
        {"1 + 2^-39, lowest kept bit",
         {(1ull << 63) | (1ull << 24), 0x3FFF},
         Bytes(0x81, 0x01, 0, 0, 0, 0)},
        {"0.1 rounds up at bit 23", kExtendedOneTenth, Bytes(0x7D, 0xCD, 0xCC, 0xCC, 0xCC, 0x4C)},
        {"just below half is dropped",
         {(1ull << 63) | 0x7FFFFFull, 0x3FFF},
         Bytes(0x81, 0, 0, 0, 0, 0)},
        {"exactly half rounds away",
         {(1ull << 63) | 0x800000ull, 0x3FFF},
         Bytes(0x81, 0x01, 0, 0, 0, 0)},
        {"carry out raises the exponent",
         {0xFFFFFFFFFF800000ull, 0x3FFF},
         Bytes(0x82, 0, 0, 0, 0, 0)},
        {"largest exponent", {1ull << 63, 16254 + 255}, Bytes(0xFF, 0, 0, 0, 0, 0)},
        {"smallest exponent", {1ull << 63, 16254 + 1}, Bytes(0x01, 0, 0, 0, 0, 0)},
        {"underflow is zero", {1ull << 63, 16254}, Bytes(0, 0, 0, 0, 0, 0)},
        {"negative underflow loses the sign",
         {0xFFFFull << 48, 0x8000 | 100},
         Bytes(0, 0, 0, 0, 0, 0)},
        {"negative zero is plain zero", {0, 0x8000}, Bytes(0, 0, 0, 0, 0, 0)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExtendedToReal48(c.in), c.out) << c.what;
}

TEST(Real48, OverflowRaisesTheFloatingPointError) {
    const Extended80 tooLarge[] = {
        {1ull << 63, 16254 + 256},
        {0xFFFFFFFFFFFFFFFFull, 16254 + 255}, // rounding carries past the largest exponent
        {1ull << 63, 0x7FFE},
    };
    for (const Extended80& x : tooLarge)
        EXPECT_THROW(ExtendedToReal48(x), EOverflow) << x.signExponent;
}

TEST(Real48, ExpandsToExtended) {
    struct Case {
        const char* what;
        Real48 in;
        Extended80 out;
    } cases[] = {
        {"zero exponent ignores the other bytes", Bytes(0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF), {0, 0}},
        {"1.0", Bytes(0x81, 0, 0, 0, 0, 0), {1ull << 63, 0x3FFF}},
        {"-1.5", Bytes(0x81, 0, 0, 0, 0, 0xC0), {0xC000000000000000ull, 0xBFFF}},
        {"all fraction bits",
         Bytes(0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F),
         {0xFFFFFFFFFF000000ull, 0x3FFF}},
        {"0.1 keeps 40 significant bits",
         ExtendedToReal48(kExtendedOneTenth),
         {0xCCCCCCCCCD000000ull, 0x3FFB}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Real48ToExtended(c.in), c.out) << c.what;
}

TEST(Real48, LongDoubleFieldsRoundTrip) {
    for (long double v : {0.0L, 1.0L, -1.5L, 0.1L, 5.999L, -1e-30L, 123456789.0L}) {
        const Extended80 x = LongDoubleToExtended(v);
        EXPECT_EQ(ExtendedToLongDouble(x), v);
    }
    EXPECT_EQ(LongDoubleToExtended(1.0L), (Extended80{1ull << 63, 0x3FFF}));
    EXPECT_EQ(ExtendedToLongDouble(kExtendedOneTenth), 0.1L);
    // Through the 6-byte format, 1/3 keeps 40 bits: within 2^-40 relative.
    const long double third = 1.0L / 3.0L;
    const long double back =
        ExtendedToLongDouble(Real48ToExtended(ExtendedToReal48(LongDoubleToExtended(third))));
    EXPECT_NE(back, third);
    EXPECT_LT(std::fabs(back - third) / third, std::ldexp(1.0L, -40));
}
