// The MMX operation runner against a scalar model of each instruction, lane by lane.
#include "cpu/PentiumMMX.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace {

using U64 = std::uint64_t;

U64 Mask(int bits) {
    return bits == 64 ? ~U64{0} : (U64{1} << bits) - 1;
}
U64 Lane(U64 v, int bits, int i) {
    return (v >> (i * bits)) & Mask(bits);
}
std::int64_t SignedLane(U64 v, int bits, int i) {
    // Moves the lane's sign bit to bit 63; the arithmetic shift back extends it.
    return static_cast<std::int64_t>(Lane(v, bits, i) << (64 - bits)) >> (64 - bits);
}
U64 Put(U64 r, int bits, int i, std::int64_t x) {
    return r | ((static_cast<U64>(x) & Mask(bits)) << (i * bits));
}
std::int64_t ClampSigned(std::int64_t x, int bits) {
    const std::int64_t hi = (std::int64_t{1} << (bits - 1)) - 1;
    return std::clamp(x, -hi - 1, hi);
}
std::int64_t ClampUnsigned(std::int64_t x, int bits) {
    return std::clamp<std::int64_t>(x, 0, static_cast<std::int64_t>(Mask(bits)));
}

// Applies f to each pair of lanes; f sees the lanes as unsigned and as signed numbers.
using LaneFn = std::function<std::int64_t(U64 ud, U64 us, std::int64_t sd, std::int64_t ss)>;
U64 Lanewise(int bits, U64 d, U64 s, const LaneFn& f) {
    U64 r = 0;
    for (int i = 0; i < 64 / bits; ++i)
        r = Put(
            r, bits, i,
            f(Lane(d, bits, i), Lane(s, bits, i), SignedLane(d, bits, i), SignedLane(s, bits, i)));
    return r;
}

U64 ShiftRightLogical(int bits, U64 d, U64 count) {
    if (count >= static_cast<U64>(bits))
        return 0;
    return Lanewise(bits, d, 0, [&](U64 ud, U64, auto, auto) { return ud >> count; });
}
U64 ShiftRightArithmetic(int bits, U64 d, U64 count) {
    const U64 c = std::min<U64>(count, bits - 1); // larger counts fill with the sign
    return Lanewise(bits, d, 0, [&](U64, U64, std::int64_t sd, auto) { return sd >> c; });
}
U64 ShiftLeft(int bits, U64 d, U64 count) {
    if (count >= static_cast<U64>(bits))
        return 0;
    return Lanewise(bits, d, 0, [&](U64 ud, U64, auto, auto) { return ud << count; });
}
U64 Compare(int bits, U64 d, U64 s, bool greater) {
    return Lanewise(bits, d, s, [&](U64, U64, std::int64_t sd, std::int64_t ss) {
        return (greater ? sd > ss : sd == ss) ? -1 : 0;
    });
}
// Words (or doublewords) of d then of s, saturated into half-width lanes.
U64 Pack(int bits, U64 d, U64 s, bool unsignedResult) {
    U64 r = 0;
    const int n = 64 / bits;
    for (int i = 0; i < 2 * n; ++i) {
        const std::int64_t x = SignedLane(i < n ? d : s, bits, i % n);
        r = Put(r, bits / 2, i,
                unsignedResult ? ClampUnsigned(x, bits / 2) : ClampSigned(x, bits / 2));
    }
    return r;
}
// Interleaves the low (or high) half of the lanes of d and s, d first.
U64 Unpack(int bits, U64 d, U64 s, bool high) {
    U64 r = 0;
    const int n = 32 / bits;
    for (int i = 0; i < n; ++i) {
        const int from = high ? n + i : i;
        r = Put(r, bits, 2 * i, static_cast<std::int64_t>(Lane(d, bits, from)));
        r = Put(r, bits, 2 * i + 1, static_cast<std::int64_t>(Lane(s, bits, from)));
    }
    return r;
}
U64 AddSubtract(int bits, U64 d, U64 s, int sign, char saturation) {
    return Lanewise(bits, d, s, [&](U64 ud, U64 us, std::int64_t sd, std::int64_t ss) {
        switch (saturation) {
        case 'u':
            return ClampUnsigned(
                static_cast<std::int64_t>(ud) + sign * static_cast<std::int64_t>(us), bits);
        case 's':
            return ClampSigned(sd + sign * ss, bits);
        default:
            return static_cast<std::int64_t>(ud + static_cast<U64>(sign) * us);
        }
    });
}
U64 MultiplyAdd(U64 d, U64 s) {
    U64 r = 0;
    for (int i = 0; i < 2; ++i) {
        const std::int64_t sum = SignedLane(d, 16, 2 * i) * SignedLane(s, 16, 2 * i) +
                                 SignedLane(d, 16, 2 * i + 1) * SignedLane(s, 16, 2 * i + 1);
        r = Put(r, 32, i, sum); // 0x8000 * 0x8000 twice wraps to 0x80000000
    }
    return r;
}

struct Operation {
    int op;
    const char* name;
    std::function<U64(U64, U64)> model;
};

const std::vector<Operation>& Operations() {
    static const std::vector<Operation> table = {
        {1, "PAND", [](U64 d, U64 s) { return d & s; }},
        {2, "PANDN", [](U64 d, U64 s) { return ~d & s; }},
        {3, "POR", [](U64 d, U64 s) { return d | s; }},
        {4, "PXOR", [](U64 d, U64 s) { return d ^ s; }},
        {5, "PSRLW", [](U64 d, U64 s) { return ShiftRightLogical(16, d, s); }},
        {6, "PSRLD", [](U64 d, U64 s) { return ShiftRightLogical(32, d, s); }},
        {7, "PSRLQ", [](U64 d, U64 s) { return ShiftRightLogical(64, d, s); }},
        {8, "PSRAW", [](U64 d, U64 s) { return ShiftRightArithmetic(16, d, s); }},
        {9, "PSRAD", [](U64 d, U64 s) { return ShiftRightArithmetic(32, d, s); }},
        {10, "PSLLW", [](U64 d, U64 s) { return ShiftLeft(16, d, s); }},
        {11, "PSLLD", [](U64 d, U64 s) { return ShiftLeft(32, d, s); }},
        {12, "PSLLQ", [](U64 d, U64 s) { return ShiftLeft(64, d, s); }},
        {13, "PCMPGTB", [](U64 d, U64 s) { return Compare(8, d, s, true); }},
        {14, "PCMPGTW", [](U64 d, U64 s) { return Compare(16, d, s, true); }},
        {15, "PCMPGTD", [](U64 d, U64 s) { return Compare(32, d, s, true); }},
        {16, "PCMPEQB", [](U64 d, U64 s) { return Compare(8, d, s, false); }},
        {17, "PCMPEQW", [](U64 d, U64 s) { return Compare(16, d, s, false); }},
        {18, "PCMPEQD", [](U64 d, U64 s) { return Compare(32, d, s, false); }},
        {19, "PACKSSWB", [](U64 d, U64 s) { return Pack(16, d, s, false); }},
        {20, "PACKSSDW", [](U64 d, U64 s) { return Pack(32, d, s, false); }},
        {21, "PACKUSWB", [](U64 d, U64 s) { return Pack(16, d, s, true); }},
        {22, "PUNPCKLBW", [](U64 d, U64 s) { return Unpack(8, d, s, false); }},
        {23, "PUNPCKLWD", [](U64 d, U64 s) { return Unpack(16, d, s, false); }},
        {24, "PUNPCKLDQ", [](U64 d, U64 s) { return Unpack(32, d, s, false); }},
        {25, "PUNPCKHBW", [](U64 d, U64 s) { return Unpack(8, d, s, true); }},
        {26, "PUNPCKHWD", [](U64 d, U64 s) { return Unpack(16, d, s, true); }},
        {27, "PUNPCKHDQ", [](U64 d, U64 s) { return Unpack(32, d, s, true); }},
        {28, "PADDUSB", [](U64 d, U64 s) { return AddSubtract(8, d, s, 1, 'u'); }},
        {29, "PADDUSW", [](U64 d, U64 s) { return AddSubtract(16, d, s, 1, 'u'); }},
        {30, "PADDSB", [](U64 d, U64 s) { return AddSubtract(8, d, s, 1, 's'); }},
        {31, "PADDSW", [](U64 d, U64 s) { return AddSubtract(16, d, s, 1, 's'); }},
        {32, "PADDB", [](U64 d, U64 s) { return AddSubtract(8, d, s, 1, 'w'); }},
        {33, "PADDW", [](U64 d, U64 s) { return AddSubtract(16, d, s, 1, 'w'); }},
        {34, "PADDD", [](U64 d, U64 s) { return AddSubtract(32, d, s, 1, 'w'); }},
        {35, "PSUBUSB", [](U64 d, U64 s) { return AddSubtract(8, d, s, -1, 'u'); }},
        {36, "PSUBUSW", [](U64 d, U64 s) { return AddSubtract(16, d, s, -1, 'u'); }},
        {37, "PSUBSB", [](U64 d, U64 s) { return AddSubtract(8, d, s, -1, 's'); }},
        {38, "PSUBSW", [](U64 d, U64 s) { return AddSubtract(16, d, s, -1, 's'); }},
        {39, "PSUBB", [](U64 d, U64 s) { return AddSubtract(8, d, s, -1, 'w'); }},
        {40, "PSUBW", [](U64 d, U64 s) { return AddSubtract(16, d, s, -1, 'w'); }},
        {41, "PSUBD", [](U64 d, U64 s) { return AddSubtract(32, d, s, -1, 'w'); }},
        {42, "PMULLW",
         [](U64 d, U64 s) {
             return Lanewise(16, d, s,
                             [](U64, U64, std::int64_t a, std::int64_t b) { return a * b; });
         }},
        {43, "PMULHW",
         [](U64 d, U64 s) {
             return Lanewise(
                 16, d, s, [](U64, U64, std::int64_t a, std::int64_t b) { return (a * b) >> 16; });
         }},
        {44, "PMADDWD", MultiplyAdd},
    };
    return table;
}

// Operands that reach every saturation and sign boundary, shift counts around every element
// width (including counts with high bits set), and a spread of pseudo-random values.
std::vector<U64> Operands() {
    std::vector<U64> values = {
        0,
        ~U64{0},
        0x0001000200030004ull,
        0x0001000100010001ull,
        0x8000800080008000ull,
        0x7FFF7FFF7FFF7FFFull,
        0x80000000'7FFFFFFFull,
        0x7F80FF017F80FF01ull,
        0x8081FF007F01FE80ull,
        0x0100FF80007F8001ull,
        0x123456789ABCDEF0ull,
        0xFEDCBA9876543210ull,
        0x00FF00FF00FF00FFull,
        0xFF00FF00FF00FF00ull,
    };
    for (U64 count : {1, 3, 7, 8, 15, 16, 17, 31, 32, 33, 63, 64, 65, 255, 256})
        values.push_back(count);
    values.push_back(0x0000000100000000ull); // a count of 2^32: high bits count
    values.push_back(0x8000000000000001ull);
    U64 seed = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < 24; ++i) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        values.push_back(seed ^ (seed >> 29));
    }
    return values;
}

TEST(MmxOperate, EveryOperationMatchesItsInstructionDefinition) {
    TPentiumMMX cpu;
    const std::vector<U64> operands = Operands();
    ASSERT_EQ(Operations().size(), 44u);
    for (const Operation& operation : Operations()) {
        int failures = 0;
        for (U64 a : operands) {
            for (U64 b : operands) {
                U64 result = 0xDEADBEEFDEADBEEFull;
                cpu.MmxOperate(static_cast<BYTE>(operation.op), a, b, result);
                const U64 expected = operation.model(a, b);
                if (result != expected && failures++ < 3)
                    ADD_FAILURE() << operation.name << std::hex << " a=0x" << a << " b=0x" << b
                                  << " gave 0x" << result << ", expected 0x" << expected;
            }
        }
        EXPECT_EQ(failures, 0) << operation.name;
    }
}

TEST(MmxOperate, WorkedExamples) {
    struct Case {
        int op;
        U64 a, b, expected;
    } cases[] = {
        {33, 0x0001000200030004ull, 0x0001000100010001ull, 0x0002000300040005ull}, // PADDW
        {5, 0xFFFFFFFFFFFFFFFFull, 16, 0},                                         // PSRLW
        {5, 0xFFFFFFFFFFFFFFFFull, 0x0000000100000000ull, 0},
        {5, 0x8000800080008000ull, 15, 0x0001000100010001ull},
        {8, 0x8000700080007000ull, 40, 0xFFFF0000FFFF0000ull},                     // PSRAW fills
        {44, 0x8000800080008000ull, 0x8000800080008000ull, 0x8000000080000000ull}, // PMADDWD
        {44, 0x0002000300040005ull, 0x0001000100010001ull, 0x0000000500000009ull},
        {19, 0x0100FF80007F8000ull, 0, 0x000000007F807F80ull},                     // PACKSSWB
        {21, 0x0100FF80007F8000ull, 0x00FF000100020003ull, 0xFF010203FF007F00ull}, // PACKUSWB
        {22, 0x0706050403020100ull, 0x1716151413121110ull, 0x1303120211011000ull}, // PUNPCKLBW
        {27, 0x7766554433221100ull, 0xFFEEDDCCBBAA9988ull, 0xFFEEDDCC77665544ull}, // PUNPCKHDQ
        {28, 0xF0F0F0F0F0F0F0F0ull, 0x2020202000000000ull, 0xFFFFFFFFF0F0F0F0ull}, // PADDUSB
        {37, 0x80807F7F00000000ull, 0x017F80FF00000000ull, 0x80807F7F00000000ull}, // PSUBSB
        {43, 0x7FFF800000020000ull, 0x7FFF800000030000ull, 0x3FFF400000000000ull}, // PMULHW
    };
    TPentiumMMX cpu;
    for (const Case& c : cases) {
        U64 result = 1;
        cpu.MmxOperate(static_cast<BYTE>(c.op), c.a, c.b, result);
        EXPECT_EQ(result, c.expected) << "op " << c.op;
    }
}

TEST(MmxOperate, OperationsOutsideTheTableGiveZero) {
    TPentiumMMX cpu;
    for (int op : {0, 45, 46, 100, 255}) {
        U64 result = 0x1234;
        cpu.MmxOperate(static_cast<BYTE>(op), ~U64{0}, ~U64{0}, result);
        EXPECT_EQ(result, 0u) << "op " << op;
    }
}

TEST(MmxOperate, ResultMayBeAnOperandAndOperandsStayUnchanged) {
    TPentiumMMX cpu;
    U64 a = 0x0001000200030004ull;
    const U64 b = 0x0001000100010001ull;
    cpu.MmxOperate(33, a, b, a);
    EXPECT_EQ(a, 0x0002000300040005ull);
    U64 c = 0x00FF;
    U64 d = 0x0F0F;
    U64 out = 0;
    cpu.MmxOperate(1, c, d, out);
    EXPECT_EQ(out, 0x000Fu);
    EXPECT_EQ(c, 0x00FFu);
    EXPECT_EQ(d, 0x0F0Fu);
}

// MMX and x87 share their registers; an operation that left the MMX state set would make
// the next floating-point computation give garbage.
TEST(MmxOperate, LeavesTheFloatingPointUnitUsable) {
    TPentiumMMX cpu;
    volatile long double x = 1.25L;
    for (int op = 1; op <= 44; ++op) {
        U64 result = 0;
        cpu.MmxOperate(static_cast<BYTE>(op), 0x0123456789ABCDEFull, 3, result);
        const long double y = x * 4.0L + 0.5L;
        ASSERT_EQ(y, 5.5L) << "after op " << op;
    }
}

} // namespace
