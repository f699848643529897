#include "CpuArithmetic.h"

// The empty asm statements below are optimisation barriers: each tells the compiler that the
// named value may have been read and changed, so every listed operation is executed, one at
// a time, in the listed order, on a value the compiler cannot predict.
#define OPAQUE_REGISTER(value) asm volatile("" : "+r"(value))
#define OPAQUE_MEMORY(value) asm volatile("" : "+m"(value))

namespace {

std::int32_t IntegerPart() {
    std::int32_t acc = 0;
    for (std::int32_t count = 50; count != 0; --count) {
        acc = acc + 1;
        OPAQUE_REGISTER(acc);
        OPAQUE_REGISTER(count);
    }
    for (std::int32_t count = 50; count != 0; --count) {
        acc = acc - 1;
        OPAQUE_REGISTER(acc);
        OPAQUE_REGISTER(count);
    }
    for (std::int32_t count = 50; count != 0; --count) {
        acc = acc + acc;
        OPAQUE_REGISTER(acc);
        OPAQUE_REGISTER(count);
    }
    // Division by one, done as signed division by a power of two always is: a sign test
    // that biases a negative dividend, then an arithmetic right shift, here by 0.
    for (std::int32_t count = 50; count != 0; --count) {
        std::int32_t shift = 0;
        OPAQUE_REGISTER(shift);
        if (acc < 0)
            acc = acc + ((1 << shift) - 1);
        acc = acc >> shift;
        OPAQUE_REGISTER(acc);
        OPAQUE_REGISTER(count);
    }
    return acc;
}

enum class Op { Add, Subtract, Multiply, Divide };

template <Op op> void RealLoop(Real48& r, const long double& tenth) {
    for (std::int32_t count = 50; count != 0; --count) {
        OPAQUE_MEMORY(r);
        const long double x = ExtendedToLongDouble(Real48ToExtended(r));
        long double y;
        if constexpr (op == Op::Add)
            y = x + tenth;
        else if constexpr (op == Op::Subtract)
            y = x - tenth;
        else if constexpr (op == Op::Multiply)
            y = x * tenth;
        else
            y = x / tenth;
        r = ExtendedToReal48(LongDoubleToExtended(y));
        OPAQUE_MEMORY(r);
        OPAQUE_REGISTER(count);
    }
}

} // namespace

CpuIterationResult CpuArithmeticIteration() {
    const std::int32_t acc = IntegerPart();

    long double tenth = ExtendedToLongDouble(kExtendedOneTenth);
    OPAQUE_MEMORY(tenth);
    Real48 r{}; // all six bytes zero
    RealLoop<Op::Add>(r, tenth);
    RealLoop<Op::Subtract>(r, tenth);
    RealLoop<Op::Multiply>(r, tenth);
    RealLoop<Op::Divide>(r, tenth);
    return {acc, r};
}
