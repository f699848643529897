#pragma once
// Kernel stand-ins: physical memory, the Windows directory, the version record, and what the
// host reports where it has no Windows equivalent.
#include "WinTypes.h"

#include <string>
#include <vector>

using ULONGLONG = std::uint64_t;

// The extended memory record: 64-bit counts, so machines with 4 GiB or more read correctly.
struct MEMORYSTATUSEX {
    DWORD dwLength = sizeof(MEMORYSTATUSEX);
    DWORD dwMemoryLoad = 0;
    ULONGLONG ullTotalPhys = 0;
    ULONGLONG ullAvailPhys = 0;
};
BOOL GlobalMemoryStatusEx(MEMORYSTATUSEX* status);

// The directory named by ZELKA_WINDIR; without it, $XDG_CONFIG_HOME/zelka (by default
// ~/.config/zelka), where a user may keep a "system.ini". Copies at most size - 1 characters
// and a terminating zero; returns the directory's length, or the size needed (with the zero)
// when the buffer is too small, as the Windows call does.
UINT GetWindowsDirectoryA(char* buffer, UINT size);

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize = 148;
    DWORD dwMajorVersion = 0;
    DWORD dwMinorVersion = 0;
    DWORD dwBuildNumber = 0;
    DWORD dwPlatformId = 0;
    char szCSDVersion[128] = {};
};
static_assert(sizeof(OSVERSIONINFOA) == 148);

// Fills the record on Windows. Elsewhere there is no such record: returns FALSE and leaves
// the fields zero.
BOOL GetVersionExA(OSVERSIONINFOA* info);

// The host's system name and release, e.g. "Linux 6.1.0-18-amd64".
std::string OperatingSystemRelease();

// The kernel display drivers of the host's graphics cards (e.g. "i915", "virtio-gpu"),
// each once, in card order; empty where the host reports none.
std::vector<std::string> DisplayDrivers();
