#include "Drives.h"

#include "SysUtils.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <pwd.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return home;
    if (const passwd* user = getpwuid(getuid()); user != nullptr && user->pw_dir != nullptr)
        return user->pw_dir;
    return "/";
}

// The drive letter of "X:", "X:\" or "X:/", or 0.
char DriveOfRoot(const char* path) {
    if (path == nullptr || !std::isalpha(static_cast<unsigned char>(path[0])) || path[1] != ':')
        return 0;
    if (path[2] != '\0' && !((path[2] == '\\' || path[2] == '/') && path[3] == '\0'))
        return 0;
    return path[0];
}

// A path, or a drive ("X:") entered at its directory; nothing for a missing drive.
std::optional<std::string> ResolvePath(const char* path) {
    if (path == nullptr)
        return std::nullopt;
    const std::size_t length = std::strlen(path);
    if (length == 2 && path[1] == ':') {
        if (!std::isalpha(static_cast<unsigned char>(path[0])))
            return std::nullopt;
        return DriveDirectory(path[0]);
    }
    if (length == 0)
        return std::nullopt;
    return std::string(path);
}

} // namespace

std::optional<std::string> DriveDirectory(char letter) {
    if (!std::isalpha(static_cast<unsigned char>(letter)))
        return std::nullopt;
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    if (upper == 'C')
        return HomeDirectory();
    const std::string variable = std::string("ZELKA_DRIVE_") + upper;
    const char* directory = std::getenv(variable.c_str());
    if (directory == nullptr || *directory == '\0')
        return std::nullopt;
    return std::string(directory);
}

BOOL GetDiskFreeSpaceA(const char* rootPathName, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                       DWORD* numberOfFreeClusters, DWORD* totalNumberOfClusters) {
    const char letter = DriveOfRoot(rootPathName);
    if (letter == 0)
        return 0;
    const std::optional<std::string> directory = DriveDirectory(letter);
    struct statvfs info {};
    if (!directory || ::statvfs(directory->c_str(), &info) != 0)
        return 0;
    // Clusters are the file system's fragments, counted in 512-byte sectors where they divide.
    const unsigned long fragment = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
    DWORD sectorBytes = 512;
    DWORD sectors = static_cast<DWORD>(fragment / 512);
    if (fragment % 512 != 0 || sectors == 0) {
        sectorBytes = static_cast<DWORD>(fragment);
        sectors = 1;
    }
    auto clamp = [](std::uint64_t count) {
        return static_cast<DWORD>(
            std::min<std::uint64_t>(count, std::numeric_limits<DWORD>::max()));
    };
    if (sectorsPerCluster)
        *sectorsPerCluster = sectors;
    if (bytesPerSector)
        *bytesPerSector = sectorBytes;
    if (numberOfFreeClusters)
        *numberOfFreeClusters = clamp(info.f_bavail);
    if (totalNumberOfClusters)
        *totalNumberOfClusters = clamp(info.f_blocks);
    return 1;
}

BOOL SetCurrentDirectoryA(const char* pathName) {
    const std::optional<std::string> path = ResolvePath(pathName);
    return path && ::chdir(path->c_str()) == 0 ? 1 : 0;
}

void ChDir(const std::string& path) {
    const std::optional<std::string> resolved = ResolvePath(path.c_str());
    if (!resolved)
        throw EInOutError("Cannot change to directory \"" + path + "\": no such drive", ENOENT);
    if (::chdir(resolved->c_str()) != 0) {
        const int error = errno;
        throw EInOutError("Cannot change to directory \"" + path + "\": " + std::strerror(error),
                          error);
    }
}
