#pragma once
// Drive letters over the Linux file system: C: is the user's home directory, any other letter
// the directory named by ZELKA_DRIVE_<letter>. Lower-case letters work as upper-case ones.
#include "WinTypes.h"

#include <optional>
#include <string>

// The directory a drive letter stands for, or nothing for a letter that is no drive.
std::optional<std::string> DriveDirectory(char letter);

// Free space of the drive whose root path is "<letter>:\" (or "<letter>:" / "<letter>:/"):
// the counts of the system's GetDiskFreeSpaceA, from statvfs. Fails (returns 0) for any other
// path or a drive whose directory cannot be queried.
BOOL GetDiskFreeSpaceA(const char* rootPathName, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                       DWORD* numberOfFreeClusters, DWORD* totalNumberOfClusters);

// Changes the current directory. "<letter>:" enters that drive's current directory (its
// directory above); any other text is a path. Returns 0 when the change failed.
BOOL SetCurrentDirectoryA(const char* pathName);
// Like SetCurrentDirectoryA, raising EInOutError with the system's reason on failure.
void ChDir(const std::string& path);
