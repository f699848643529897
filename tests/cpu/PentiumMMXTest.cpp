// Identification, feature tests, time-stamp halves and counter intervals.
#include "cpu/PentiumMMX.h"

#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <x86intrin.h>

namespace {

// "GenuineIntel" as leaf 0 spells it: EBX, EDX, ECX.
constexpr TCpuidRegisters kLeaf0Intel{1, 0x756E6547, 0x6C65746E, 0x49656E69};

TEST(PentiumMMXIdentification, Leaf1FieldsComeFromEaxAndEdx) {
    struct Case {
        DWORD eax, edx;
        BYTE stepping, model;
        WORD family;
        LONG flags;
    } cases[] = {
        {0x00000543, 0x008001BF, 3, 4, 5, 0x008001BF},         // a first MMX processor
        {0x00A20F10, 0x178BFBFF, 0, 1, 15, 0x178BFBFF},        // extended fields ignored
        {0xFFFFFFFF, 0x80000000, 15, 15, 15, LONG{INT32_MIN}}, // flags are signed
        {0x00000000, 0x00000000, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        ScriptedProcessor cpu(true, {{0, kLeaf0Intel}, {1, {c.eax, 0, 0, c.edx}}});
        TPentiumMMX mmx;
        mmx.ErrorEnable = true;
        EXPECT_EQ(mmx.SteppingID(), c.stepping) << std::hex << c.eax;
        EXPECT_EQ(mmx.Model(), c.model) << std::hex << c.eax;
        EXPECT_EQ(mmx.Family(), c.family) << std::hex << c.eax;
        EXPECT_EQ(mmx.FeatureFlags(), c.flags) << std::hex << c.edx;
        // Each getter asks leaf 0, then leaf 1; nothing is cached.
        EXPECT_EQ(cpu.CpuidCalls(), (std::vector<DWORD>{0, 1, 0, 1, 0, 1, 0, 1}));
    }
}

TEST(PentiumMMXIdentification, WithoutLeaf1GettersGiveZeroOrRaise) {
    struct Getter {
        const char* message;
        std::function<long(const TPentiumMMX&)> read;
    } getters[] = {
        {"CPU not supported SteppingID", [](const TPentiumMMX& m) { return m.SteppingID(); }},
        {"CPU not supported Model", [](const TPentiumMMX& m) { return m.Model(); }},
        {"CPU not supported Family", [](const TPentiumMMX& m) { return m.Family(); }},
        {"CPU not supported FeatureFlags", [](const TPentiumMMX& m) { return m.FeatureFlags(); }},
    };
    // Highest leaf 0, and one that is negative as a signed number.
    for (DWORD highest : {0u, 0x80000004u}) {
        for (const Getter& g : getters) {
            ScriptedProcessor cpu(true, {{0, {highest, 1, 2, 3}}, {1, {0xFFF, 0, 0, ~0u}}});
            TPentiumMMX mmx;
            EXPECT_EQ(g.read(mmx), 0) << g.message;
            mmx.ErrorEnable = true;
            try {
                g.read(mmx);
                ADD_FAILURE() << "no error for " << g.message;
            } catch (const EPentiumMMXError& e) {
                EXPECT_EQ(e.Message(), g.message);
                EXPECT_EQ(e.ErrorCode, 65537u);
            }
            // The CPUID support test is not made and leaf 1 is never executed.
            EXPECT_EQ(cpu.IdFlagTests(), 0);
            EXPECT_EQ(cpu.CpuidCalls(), (std::vector<DWORD>{0, 0}));
        }
    }
}

TEST(PentiumMMXIdentification, ErrorIsAnApplicationException) {
    ScriptedProcessor cpu(true, {});
    TPentiumMMX mmx;
    mmx.ErrorEnable = true;
    EXPECT_THROW(mmx.Family(), Exception);
}

TEST(PentiumMMXIdentification, FeatureTestsNeedCpuidAndTheirBit) {
    struct Case {
        bool hasCpuid;
        DWORD highest, ecx, edx;
        bool rdtsc, mmx, hypervisor;
    } cases[] = {
        {true, 1, 0, 0x00800010, true, true, false},
        {true, 1, 0, 0x00000010, true, false, false},
        {true, 1, 0, 0x00800000, false, true, false},
        {true, 1, 0x7FFFFFFF, 0xFF7FFFEF, false, false, false}, // every other bit set
        {true, 1, 0x80000000, 0, false, false, true},
        {true, 0, 0x80000000, 0x00800010, false, false, false}, // no leaf 1: flags read as 0
        {false, 1, 0x80000000, 0x00800010, false, false, false},
    };
    for (const Case& c : cases) {
        ScriptedProcessor cpu(c.hasCpuid, {{0, {c.highest, 0, 0, 0}}, {1, {0, 0, c.ecx, c.edx}}});
        TPentiumMMX mmx;
        mmx.ErrorEnable = true; // the feature tests never fail
        EXPECT_EQ(mmx.CpuIDsupport(), c.hasCpuid);
        EXPECT_EQ(mmx.RDTSCsupport(), c.rdtsc) << std::hex << c.edx;
        EXPECT_EQ(mmx.MMXsupport(), c.mmx) << std::hex << c.edx;
        EXPECT_EQ(mmx.HypervisorPresent(), c.hypervisor) << std::hex << c.ecx;
        EXPECT_EQ(cpu.IdFlagTests(), 4);
        if (!c.hasCpuid) {
            EXPECT_TRUE(cpu.CpuidCalls().empty()) << "CPUID executed without support";
        }
    }
}

TEST(PentiumMMXIdentification, VendorIsEbxEdxEcxLowByteFirst) {
    struct Case {
        TCpuidRegisters leaf0;
        std::string vendor;
    } cases[] = {
        {kLeaf0Intel, "GenuineIntel"},
        {{0, 0x68747541, 0x444D4163, 0x69746E65}, "AuthenticAMD"},
        {{0, 0x00000041, 0, 0x42000000}, std::string("A\0\0\0\0\0\0B\0\0\0\0", 12)},
    };
    for (const Case& c : cases) {
        ScriptedProcessor cpu(false, {{0, c.leaf0}}); // no support test is made
        TPentiumMMX mmx;
        EXPECT_EQ(mmx.VendorString(), c.vendor);
        EXPECT_EQ(cpu.CpuidCalls(), std::vector<DWORD>{0});
    }
}

// What the kernel read from this processor: a value independent of our own instructions.
std::string CpuInfoField(const std::string& name) {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string key = line.substr(0, colon);
        key.erase(key.find_last_not_of(" \t") + 1);
        if (key == name)
            return colon + 2 <= line.size() ? line.substr(colon + 2) : "";
    }
    return {};
}

TEST(PentiumMMXRealProcessor, AgreesWithTheKernelsView) {
    const std::string vendor = CpuInfoField("vendor_id");
    if (vendor.empty())
        GTEST_SKIP() << "no /proc/cpuinfo";
    TPentiumMMX mmx;
    mmx.ErrorEnable = true;
    EXPECT_TRUE(mmx.CpuIDsupport());
    EXPECT_EQ(mmx.VendorString(), vendor);
    // The kernel adds the extended family and model; ours are the base fields.
    const int family = std::stoi(CpuInfoField("cpu family"));
    EXPECT_EQ(mmx.Family(), std::min(family, 15));
    EXPECT_EQ(mmx.Model(), std::stoi(CpuInfoField("model")) & 0xF);
    EXPECT_EQ(mmx.SteppingID(), std::stoi(CpuInfoField("stepping")));

    std::istringstream flags(" " + CpuInfoField("flags") + " ");
    const std::string all = flags.str();
    auto has = [&](const char* flag) {
        return all.find(" " + std::string(flag) + " ") != std::string::npos;
    };
    struct Bit {
        const char* flag;
        int bit;
    } bits[] = {{"fpu", 0}, {"tsc", 4}, {"cx8", 8}, {"cmov", 15}, {"mmx", 23}, {"sse2", 26}};
    for (const Bit& b : bits)
        EXPECT_EQ((mmx.FeatureFlags() >> b.bit) & 1, has(b.flag) ? 1 : 0) << b.flag;
    EXPECT_EQ(mmx.RDTSCsupport(), has("tsc"));
    EXPECT_EQ(mmx.MMXsupport(), has("mmx"));
}

TEST(PentiumMMXRealProcessor, TimeStampHalvesAreTwoReadsOfTheCounter) {
    TPentiumMMX mmx;
    // A scripted processor does not reach the counter.
    ScriptedProcessor scripted(false, {});
    const std::uint64_t before = __rdtsc();
    const auto high = static_cast<DWORD>(mmx.TimeStampHigh());
    const std::uint64_t between = __rdtsc();
    const auto low = static_cast<DWORD>(mmx.TimeStampLow());
    const std::uint64_t after = __rdtsc();
    EXPECT_GE(high, static_cast<DWORD>(before >> 32));
    EXPECT_LE(high, static_cast<DWORD>(between >> 32));
    // The low half lies between the surrounding reads (modulo 2^32).
    EXPECT_LE(static_cast<DWORD>(low - static_cast<DWORD>(between)),
              static_cast<DWORD>(after - between));
    // Successive low halves move forward.
    const auto first = static_cast<DWORD>(mmx.TimeStampLow());
    const auto second = static_cast<DWORD>(mmx.TimeStampLow());
    EXPECT_GT(static_cast<LONG>(second - first), 0);
}

TEST(PentiumMMXIntervals, Interval32WrapsModulo2To32) {
    struct Case {
        DWORD now, before, expected;
    } cases[] = {
        {5, 0xFFFFFFFE, 7},
        {7, 7, 0},
        {0x00010000, 0x0000FFFF, 1}, // borrow from the upper piece
        {0, 1, 0xFFFFFFFF},
        {0x80000000, 0x7FFFFFFF, 1},
        {0x12345678, 0x00005679, 0x1233FFFF},
        {0xFFFFFFFF, 0, 0xFFFFFFFF},
    };
    TPentiumMMX mmx;
    for (const Case& c : cases) {
        EXPECT_EQ(mmx.Interval32(c.now, c.before), c.expected) << c.now << " - " << c.before;
        EXPECT_EQ(mmx.Interval32(c.now, c.before), static_cast<DWORD>(c.now - c.before));
    }
}

std::uint64_t Value(const TCounterSample& s) {
    return (std::uint64_t{s.High} << 32) | s.Low;
}
TCounterSample Sample(std::uint64_t v) {
    return {static_cast<DWORD>(v >> 32), static_cast<DWORD>(v)};
}

TEST(PentiumMMXIntervals, Interval64WrapsModulo2To64InTheHighFirstLayout) {
    struct Case {
        TCounterSample now, before, expected;
    } cases[] = {
        {{1, 0}, {0, 1}, {0, 0xFFFFFFFF}},
        {{0, 0}, {0, 1}, {0xFFFFFFFF, 0xFFFFFFFF}}, // before above now wraps
        {{0, 5}, {0xFFFFFFFF, 0xFFFFFFFE}, {0, 7}},
        {{0x00010000, 0}, {0, 1}, {0x0000FFFF, 0xFFFFFFFF}}, // borrow through three pieces
        {{0x12345678, 0x9ABCDEF0}, {0x12345678, 0x9ABCDEF0}, {0, 0}},
        {{0x80000000, 0}, {0x7FFFFFFF, 0xFFFFFFFF}, {0, 1}},
    };
    TPentiumMMX mmx;
    for (const Case& c : cases) {
        TCounterSample result{0xAAAA, 0xBBBB};
        mmx.Interval64(c.now, c.before, result);
        EXPECT_EQ(result.High, c.expected.High) << std::hex << Value(c.now);
        EXPECT_EQ(result.Low, c.expected.Low) << std::hex << Value(c.now);
        EXPECT_EQ(Value(result), Value(c.now) - Value(c.before));
    }
    // Samples spread over the whole range against plain wrapping subtraction.
    std::uint64_t x = 0x243F6A8885A308D3ull;
    for (int i = 0; i < 200; ++i) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        const std::uint64_t y = x * 0x9E3779B97F4A7C15ull;
        TCounterSample result;
        mmx.Interval64(Sample(x), Sample(y), result);
        ASSERT_EQ(Value(result), x - y) << std::hex << x << " - " << y;
    }
}

TEST(PentiumMMXIntervals, Interval64LeavesItsInputsAndMayWriteOverThem) {
    TPentiumMMX mmx;
    TCounterSample now{1, 0};
    const TCounterSample before{0, 1};
    TCounterSample result;
    mmx.Interval64(now, before, result);
    EXPECT_EQ(now.High, 1u);
    EXPECT_EQ(now.Low, 0u);
    mmx.Interval64(now, before, now);
    EXPECT_EQ(Value(now), 0xFFFFFFFFu);
}

} // namespace
