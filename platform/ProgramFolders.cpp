#include "ProgramFolders.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifndef ZELKA_DATA_FROM_BIN
#define ZELKA_DATA_FROM_BIN "../share/zelka"
#endif

namespace {

bool IsFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

} // namespace

std::string ProgramDataFolder() {
    // Relative values are invalid by the base-directory rules and are ignored.
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && *data == '/')
        return std::string(data) + "/zelka/";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/zelka/";
}

bool CreateProgramDataFolder() {
    std::error_code error;
    std::filesystem::create_directories(ProgramDataFolder() + "Report", error);
    return std::filesystem::is_directory(ProgramDataFolder() + "Report", error);
}

std::string ExecutableFolder() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return "./";
    return exe.parent_path().string() + "/";
}

std::string FindProgramFile(const std::string& name, const std::string& executableFolder) {
    if (IsFile(name))
        return name;
    // Relative to the executable, so an installation works from whatever prefix it was put in.
    const std::filesystem::path exe = executableFolder;
    for (const std::filesystem::path& folder : {exe, exe / ZELKA_DATA_FROM_BIN}) {
        const std::filesystem::path candidate = (folder / name).lexically_normal();
        if (IsFile(candidate))
            return candidate.string();
    }
    return {};
}
