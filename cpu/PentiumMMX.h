#pragma once
// Direct access to the processor: identification (CPUID), the time-stamp counter (RDTSC)
// and the MMX integer vector instructions.
//
// On x86-64 and 32-bit x86 every member runs the real instructions. On any other processor
// (or when built with ZELKA_CPU_PORTABLE) there is neither CPUID nor a time-stamp counter:
// - CpuIDsupport, RDTSCsupport and MMXsupport are false;
// - CPUID reads as all zeros, so VendorString is twelve NUL characters and the leaf-1
//   getters see highest leaf 0 (EPentiumMMXError when ErrorEnable, else 0);
// - TimeStampHigh and TimeStampLow are 0;
// - MmxOperate has no MMX unit to run on and leaves every result 0, as for an unknown op.
#include "platform/SysUtils.h"
#include "platform/WinTypes.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#if !defined(ZELKA_CPU_PORTABLE) && (defined(__x86_64__) || defined(__i386__))
#define ZELKA_CPU_X86 1
#endif

// Raised by the identification getters when the processor lacks CPUID leaf 1.
class EPentiumMMXError : public Exception {
public:
    explicit EPentiumMMXError(const std::string& message, DWORD errorCode = 65537)
        : Exception(message), ErrorCode(errorCode) {}
    DWORD ErrorCode;
};

// A 64-bit counter sample as the program stores it: the high word first, then the low word
// (the reverse of the processor's own order).
struct TCounterSample {
    DWORD High = 0;
    DWORD Low = 0;
};

class TPentiumMMX {
public:
    // Whether the leaf-1 getters raise EPentiumMMXError instead of returning 0 on a
    // processor whose highest CPUID leaf is 0.
    bool ErrorEnable = false;

    // Every read asks the processor again; nothing is cached.
    bool CpuIDsupport() const;
    bool RDTSCsupport() const;
    bool MMXsupport() const;
    // Bit 31 of ECX in leaf 1: set by a hypervisor for the processors of its virtual machines.
    bool HypervisorPresent() const;
    // The 12 bytes of EBX, EDX, ECX of CPUID leaf 0, zero bytes included.
    std::string VendorString() const;
    BYTE SteppingID() const;
    BYTE Model() const;
    WORD Family() const;
    LONG FeatureFlags() const;

    // Each half executes its own RDTSC, so high then low are halves of two instants.
    LONG TimeStampHigh() const;
    LONG TimeStampLow() const;

    // (now - before) modulo 2^32.
    DWORD Interval32(DWORD now, DWORD before) const;
    // (now - before) modulo 2^64 in the high-first layout; result may be now or before.
    void Interval64(const TCounterSample& now, const TCounterSample& before,
                    TCounterSample& result) const;
    // Runs MMX operation op (1..44) with a as destination and b as source (the count of a
    // shift); result receives the destination, or 0 for any other op.
    void MmxOperate(BYTE op, const std::uint64_t& a, const std::uint64_t& b,
                    std::uint64_t& result) const;
};

// The registers one CPUID leaf answers.
struct TCpuidRegisters {
    DWORD Eax = 0;
    DWORD Ebx = 0;
    DWORD Ecx = 0;
    DWORD Edx = 0;
};

// A test processor. While one lives, the ID-flag test and CPUID read it instead of the real
// processor (leaves it does not list answer zeros); the time-stamp halves and the MMX
// operations always run on the real processor. Processors nest like scripted clocks.
class ScriptedProcessor {
public:
    ScriptedProcessor(bool hasCpuid, std::map<DWORD, TCpuidRegisters> leaves);
    ~ScriptedProcessor();
    ScriptedProcessor(const ScriptedProcessor&) = delete;
    ScriptedProcessor& operator=(const ScriptedProcessor&) = delete;

    // The installed processor, or nullptr when the real one answers.
    static ScriptedProcessor* Installed();

    bool ToggleIdFlag();
    TCpuidRegisters Cpuid(DWORD leaf);
    // The leaves executed so far, in order.
    const std::vector<DWORD>& CpuidCalls() const { return calls_; }
    int IdFlagTests() const { return idFlagTests_; }

private:
    bool hasCpuid_;
    std::map<DWORD, TCpuidRegisters> leaves_;
    std::vector<DWORD> calls_;
    int idFlagTests_ = 0;
    ScriptedProcessor* previous_;
};

// The counter halves stay inline: a read is the one instruction and nothing else.
#ifdef ZELKA_CPU_X86
inline LONG TPentiumMMX::TimeStampHigh() const {
    DWORD low, high;
    asm volatile("rdtsc" : "=a"(low), "=d"(high));
    return static_cast<LONG>(high);
}

inline LONG TPentiumMMX::TimeStampLow() const {
    DWORD low, high;
    asm volatile("rdtsc" : "=a"(low), "=d"(high));
    return static_cast<LONG>(low);
}
#else
inline LONG TPentiumMMX::TimeStampHigh() const {
    return 0;
}
inline LONG TPentiumMMX::TimeStampLow() const {
    return 0;
}
#endif
