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

// Longest path the Windows calls hand back, with its terminating zero.
constexpr DWORD MAX_PATH = 260;

// The folder for temporary files: TMPDIR when set, else /tmp, always ending in '/'. Copies it
// with a terminating zero and returns its length; when the buffer is too small, returns the
// size needed (with the zero) and copies nothing.
DWORD GetTempPathA(DWORD bufferLength, char* buffer);
// A name in pathName: up to three characters of prefixString, a hexadecimal number and
// ".tmp", written to tempFileName (MAX_PATH characters). With unique 0 the number is chosen
// so that the file does not exist yet and the file is created empty, atomically; otherwise
// the name is only formed from unique. Returns the number used, or 0 when no file could be
// made (the folder is missing or not writable, or the name would be too long).
UINT GetTempFileNameA(const char* pathName, const char* prefixString, UINT unique,
                      char* tempFileName);
BOOL DeleteFileA(const char* fileName);
