#include "PentiumMMX.h"

#ifdef ZELKA_CPU_X86
#include <cpuid.h>
#include <x86intrin.h>
#endif

namespace {
ScriptedProcessor* installed = nullptr;

constexpr DWORD kIdFlag = 0x200000;

// Flips the ID flag and reports whether the flip took. The flag stays flipped: only its
// being writable matters.
bool ToggleIdFlag() {
    if (installed)
        return installed->ToggleIdFlag();
#ifdef ZELKA_CPU_X86
    const auto before = __readeflags();
    __writeeflags(before ^ kIdFlag);
    const auto after = __readeflags();
    return before != after;
#else
    return false;
#endif
}

TCpuidRegisters Cpuid(DWORD leaf) {
    if (installed)
        return installed->Cpuid(leaf);
    TCpuidRegisters r;
#ifdef ZELKA_CPU_X86
    __cpuid_count(leaf, 0, r.Eax, r.Ebx, r.Ecx, r.Edx);
#else
    (void)leaf;
#endif
    return r;
}

// The registers of leaf 1 when the processor has that leaf, else the getter's failure.
TCpuidRegisters Leaf1(bool errorEnable, const char* getter) {
    if (static_cast<LONG>(Cpuid(0).Eax) >= 1)
        return Cpuid(1);
    if (errorEnable)
        throw EPentiumMMXError(std::string("CPU not supported ") + getter);
    return {};
}

void AppendBytes(std::string& text, DWORD word) {
    for (int i = 0; i < 4; ++i)
        text.push_back(static_cast<char>((word >> (8 * i)) & 0xFF));
}
} // namespace

ScriptedProcessor::ScriptedProcessor(bool hasCpuid, std::map<DWORD, TCpuidRegisters> leaves)
    : hasCpuid_(hasCpuid), leaves_(std::move(leaves)), previous_(installed) {
    installed = this;
}

ScriptedProcessor::~ScriptedProcessor() {
    installed = previous_;
}

ScriptedProcessor* ScriptedProcessor::Installed() {
    return installed;
}

bool ScriptedProcessor::ToggleIdFlag() {
    ++idFlagTests_;
    return hasCpuid_;
}

TCpuidRegisters ScriptedProcessor::Cpuid(DWORD leaf) {
    calls_.push_back(leaf);
    const auto it = leaves_.find(leaf);
    return it == leaves_.end() ? TCpuidRegisters{} : it->second;
}

bool TPentiumMMX::CpuIDsupport() const {
    return ToggleIdFlag();
}

// The feature tests never raise: a processor without leaf 1 simply lacks the feature.
bool TPentiumMMX::RDTSCsupport() const {
    return CpuIDsupport() && (Leaf1(false, "FeatureFlags").Edx & 0x10) != 0;
}

bool TPentiumMMX::MMXsupport() const {
    return CpuIDsupport() && (Leaf1(false, "FeatureFlags").Edx & 0x800000) != 0;
}

bool TPentiumMMX::HypervisorPresent() const {
    return CpuIDsupport() && (Leaf1(false, "FeatureFlags").Ecx & 0x80000000u) != 0;
}

std::string TPentiumMMX::VendorString() const {
    const TCpuidRegisters r = Cpuid(0);
    std::string vendor;
    vendor.reserve(12);
    AppendBytes(vendor, r.Ebx);
    AppendBytes(vendor, r.Edx);
    AppendBytes(vendor, r.Ecx);
    return vendor;
}

BYTE TPentiumMMX::SteppingID() const {
    return static_cast<BYTE>(Leaf1(ErrorEnable, "SteppingID").Eax & 0xF);
}

BYTE TPentiumMMX::Model() const {
    return static_cast<BYTE>((Leaf1(ErrorEnable, "Model").Eax & 0xF0) >> 4);
}

WORD TPentiumMMX::Family() const {
    return static_cast<WORD>((Leaf1(ErrorEnable, "Family").Eax & 0xF00) >> 8);
}

LONG TPentiumMMX::FeatureFlags() const {
    return static_cast<LONG>(Leaf1(ErrorEnable, "FeatureFlags").Edx);
}

// The intervals subtract 16 bits at a time from the lowest piece up, carrying the borrow.
DWORD TPentiumMMX::Interval32(DWORD now, DWORD before) const {
    DWORD result = 0;
    DWORD borrow = 0;
    for (int shift = 0; shift < 32; shift += 16) {
        const DWORD a = (now >> shift) & 0xFFFF;
        const DWORD b = ((before >> shift) & 0xFFFF) + borrow;
        borrow = a < b ? 1 : 0;
        result |= ((a + (borrow << 16) - b) & 0xFFFF) << shift;
    }
    return result;
}

void TPentiumMMX::Interval64(const TCounterSample& now, const TCounterSample& before,
                             TCounterSample& result) const {
    // Pieces from the lowest: low word's halves, then high word's halves.
    const DWORD a[2] = {now.Low, now.High};
    const DWORD b[2] = {before.Low, before.High};
    DWORD out[2] = {0, 0};
    DWORD borrow = 0;
    for (int piece = 0; piece < 4; ++piece) {
        const int word = piece / 2;
        const int shift = (piece % 2) * 16;
        const DWORD x = (a[word] >> shift) & 0xFFFF;
        const DWORD y = ((b[word] >> shift) & 0xFFFF) + borrow;
        borrow = x < y ? 1 : 0;
        out[word] |= ((x + (borrow << 16) - y) & 0xFFFF) << shift;
    }
    result.High = out[1];
    result.Low = out[0];
}

#ifdef ZELKA_CPU_X86
namespace {

// One MMX instruction on two quadwords.
using MmxInstruction = std::uint64_t (*)(std::uint64_t a, std::uint64_t b);

// Clears the MMX state, loads a into mm0 and b into mm1, runs "insn mm1, mm0" (mm0 is the
// destination), stores mm0 and clears the MMX state again. The x87 registers share storage
// with the MMX ones, so they are declared clobbered too.
#define ZELKA_MMX_OP(insn)                                                                         \
    [](std::uint64_t a, std::uint64_t b) {                                                         \
        std::uint64_t out = 0;                                                                     \
        asm volatile("emms\n\t"                                                                    \
                     "movq %1, %%mm0\n\t"                                                          \
                     "movq %2, %%mm1\n\t" insn " %%mm1, %%mm0\n\t"                                 \
                     "movq %%mm0, %0\n\t"                                                          \
                     "emms"                                                                        \
                     : "=m"(out)                                                                   \
                     : "m"(a), "m"(b)                                                              \
                     : "mm0", "mm1", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)",   \
                       "st(7)");                                                                   \
        return out;                                                                                \
    }

// The operations by number.
const MmxInstruction kMmxOperations[] = {
    ZELKA_MMX_OP("pand"),      // 1
    ZELKA_MMX_OP("pandn"),     // 2
    ZELKA_MMX_OP("por"),       // 3
    ZELKA_MMX_OP("pxor"),      // 4
    ZELKA_MMX_OP("psrlw"),     // 5
    ZELKA_MMX_OP("psrld"),     // 6
    ZELKA_MMX_OP("psrlq"),     // 7
    ZELKA_MMX_OP("psraw"),     // 8
    ZELKA_MMX_OP("psrad"),     // 9
    ZELKA_MMX_OP("psllw"),     // 10
    ZELKA_MMX_OP("pslld"),     // 11
    ZELKA_MMX_OP("psllq"),     // 12
    ZELKA_MMX_OP("pcmpgtb"),   // 13
    ZELKA_MMX_OP("pcmpgtw"),   // 14
    ZELKA_MMX_OP("pcmpgtd"),   // 15
    ZELKA_MMX_OP("pcmpeqb"),   // 16
    ZELKA_MMX_OP("pcmpeqw"),   // 17
    ZELKA_MMX_OP("pcmpeqd"),   // 18
    ZELKA_MMX_OP("packsswb"),  // 19
    ZELKA_MMX_OP("packssdw"),  // 20
    ZELKA_MMX_OP("packuswb"),  // 21
    ZELKA_MMX_OP("punpcklbw"), // 22
    ZELKA_MMX_OP("punpcklwd"), // 23
    ZELKA_MMX_OP("punpckldq"), // 24
    ZELKA_MMX_OP("punpckhbw"), // 25
    ZELKA_MMX_OP("punpckhwd"), // 26
    ZELKA_MMX_OP("punpckhdq"), // 27
    ZELKA_MMX_OP("paddusb"),   // 28
    ZELKA_MMX_OP("paddusw"),   // 29
    ZELKA_MMX_OP("paddsb"),    // 30
    ZELKA_MMX_OP("paddsw"),    // 31
    ZELKA_MMX_OP("paddb"),     // 32
    ZELKA_MMX_OP("paddw"),     // 33
    ZELKA_MMX_OP("paddd"),     // 34
    ZELKA_MMX_OP("psubusb"),   // 35
    ZELKA_MMX_OP("psubusw"),   // 36
    ZELKA_MMX_OP("psubsb"),    // 37
    ZELKA_MMX_OP("psubsw"),    // 38
    ZELKA_MMX_OP("psubb"),     // 39
    ZELKA_MMX_OP("psubw"),     // 40
    ZELKA_MMX_OP("psubd"),     // 41
    ZELKA_MMX_OP("pmullw"),    // 42
    ZELKA_MMX_OP("pmulhw"),    // 43
    ZELKA_MMX_OP("pmaddwd"),   // 44
};
#undef ZELKA_MMX_OP

} // namespace

void TPentiumMMX::MmxOperate(BYTE op, const std::uint64_t& first, const std::uint64_t& second,
                             std::uint64_t& result) const {
    // No such operation: the result is 0. The operands are read before result is written, so
    // result may be the same variable as one of them.
    result = op >= 1 && op <= std::size(kMmxOperations) ? kMmxOperations[op - 1](first, second) : 0;
}
#else
void TPentiumMMX::MmxOperate(BYTE, const std::uint64_t&, const std::uint64_t&,
                             std::uint64_t& result) const {
    result = 0;
}
#endif
