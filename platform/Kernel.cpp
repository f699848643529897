#include "Kernel.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

BOOL GlobalMemoryStatusEx(MEMORYSTATUSEX* status) {
    if (!status || status->dwLength != sizeof(MEMORYSTATUSEX))
        return 0;
    struct sysinfo info {};
    if (sysinfo(&info) != 0)
        return 0;
    const ULONGLONG unit = info.mem_unit ? info.mem_unit : 1;
    status->ullTotalPhys = static_cast<ULONGLONG>(info.totalram) * unit;
    status->ullAvailPhys = static_cast<ULONGLONG>(info.freeram) * unit;
    status->dwMemoryLoad =
        info.totalram ? static_cast<DWORD>(100 - (100 * info.freeram) / info.totalram) : 0;
    return 1;
}

UINT GetWindowsDirectoryA(char* buffer, UINT size) {
    std::string dir;
    if (const char* env = std::getenv("ZELKA_WINDIR"); env && *env) {
        dir = env;
    } else if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
        dir = std::string(config) + "/zelka";
    } else {
        const char* home = std::getenv("HOME");
        dir = std::string(home ? home : "") + "/.config/zelka";
    }
    if (dir.size() + 1 > size)
        return static_cast<UINT>(dir.size() + 1);
    std::memcpy(buffer, dir.c_str(), dir.size() + 1);
    return static_cast<UINT>(dir.size());
}

BOOL GetVersionExA(OSVERSIONINFOA* info) {
    if (info) {
        const DWORD size = info->dwOSVersionInfoSize;
        *info = OSVERSIONINFOA{};
        info->dwOSVersionInfoSize = size;
    }
    return 0;
}

std::string OperatingSystemRelease() {
    struct utsname name {};
    if (uname(&name) != 0)
        return {};
    return std::string(name.sysname) + " " + name.release;
}

std::vector<std::string> DisplayDrivers() {
    namespace fs = std::filesystem;
    std::vector<std::string> cards;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/class/drm", ec)) {
        const std::string name = entry.path().filename().string();
        // card0, card1, ...: the devices themselves, not their connectors (card0-HDMI-A-1).
        if (name.rfind("card", 0) == 0 && name.find('-') == std::string::npos)
            cards.push_back(name);
    }
    std::sort(cards.begin(), cards.end());
    std::vector<std::string> drivers;
    for (const std::string& card : cards) {
        const fs::path link = fs::path("/sys/class/drm") / card / "device" / "driver";
        const fs::path target = fs::read_symlink(link, ec);
        if (ec)
            continue;
        const std::string driver = target.filename().string();
        if (std::find(drivers.begin(), drivers.end(), driver) == drivers.end())
            drivers.push_back(driver);
    }
    return drivers;
}

DWORD GetTempPathA(DWORD bufferLength, char* buffer) {
    std::string dir = "/tmp/";
    if (const char* env = std::getenv("TMPDIR"); env && *env) {
        dir = env;
        if (dir.back() != '/')
            dir += '/';
    }
    if (dir.size() + 1 > bufferLength)
        return static_cast<DWORD>(dir.size() + 1);
    std::memcpy(buffer, dir.c_str(), dir.size() + 1);
    return static_cast<DWORD>(dir.size());
}

namespace {

bool FormTempName(const std::string& path, const std::string& prefix, UINT number,
                  char* tempFileName) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%X", number);
    std::string name = path;
    if (!name.empty() && name.back() != '/')
        name += '/';
    name += prefix + digits + ".tmp";
    if (name.size() + 1 > MAX_PATH)
        return false;
    std::memcpy(tempFileName, name.c_str(), name.size() + 1);
    return true;
}

} // namespace

UINT GetTempFileNameA(const char* pathName, const char* prefixString, UINT unique,
                      char* tempFileName) {
    if (!pathName || !tempFileName)
        return 0;
    const std::string path = pathName;
    const std::string prefix = std::string(prefixString ? prefixString : "").substr(0, 3);
    if (unique != 0)
        return FormTempName(path, prefix, unique, tempFileName) ? unique : 0;
    // Start somewhere that differs between processes and calls, then walk the 16-bit range.
    static UINT counter = 0;
    const UINT start = static_cast<UINT>(getpid()) * 7919u + static_cast<UINT>(std::time(nullptr)) +
                       ++counter * 131u;
    for (UINT step = 0; step < 0xFFFF; ++step) {
        const UINT number = (start + step) % 0xFFFF + 1;
        if (!FormTempName(path, prefix, number, tempFileName))
            return 0;
        const int fd = open(tempFileName, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0) {
            close(fd);
            return number;
        }
        if (errno != EEXIST)
            break;
    }
    tempFileName[0] = '\0';
    return 0;
}

BOOL DeleteFileA(const char* fileName) {
    return fileName && unlink(fileName) == 0;
}
