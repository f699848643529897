#include "dddd_log.h"

#include "forms/Halt.h"
#include "platform/ProgramFolders.h"
#include "platform/SysUtils.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iconv.h>
#include <unistd.h>

std::int32_t LogLineCount = 0;

namespace {

std::string& TestFolder() {
    static std::string folder;
    return folder;
}

std::function<void(const std::string&)>& TraceSink() {
    static std::function<void(const std::string&)> sink;
    return sink;
}

// Set once the program's folder turned out not to be writable.
bool& UsingStateFolder() {
    static bool state = false;
    return state;
}

std::string& ProgramFolderOverride() {
    static std::string folder;
    return folder;
}

// The program's folder for what it writes: the user's data folder.
std::string ProgramFolder() {
    if (!ProgramFolderOverride().empty())
        return ProgramFolderOverride();
    return ProgramDataFolder();
}

std::string StateFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state == '/')
        return std::string(state) + "/zelka/";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/state/zelka/";
}

std::string ToCp932(const std::string& utf8) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return utf8;
    std::string out(utf8.size() * 2 + 8, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* to = out.data();
    std::size_t toLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &to, &toLeft) != static_cast<std::size_t>(-1))
            break;
        if (errno == EILSEQ || errno == EINVAL) {
            // A character CP932 cannot hold: write '?' and skip its UTF-8 bytes.
            if (toLeft == 0)
                break;
            *to++ = '?';
            --toLeft;
            do {
                ++in;
                --inLeft;
            } while (inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80);
        } else {
            break;
        }
    }
    iconv_close(cd);
    out.resize(out.size() - toLeft);
    return out;
}

bool WriteLine(const std::string& path, bool create, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), create ? "wb" : "ab");
    if (!file)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

} // namespace

std::string DebugLogPath() {
    if (!TestFolder().empty())
        return TestFolder() + "/dddd.debug";
    return (UsingStateFolder() ? StateFolder() : ProgramFolder()) + "dddd.debug";
}

void SetDebugLogFolderForTests(const std::string& folder) {
    TestFolder() = folder;
    UsingStateFolder() = false;
    LogLineCount = 0;
}

void SetProgramFolderForTests(const std::string& folder) {
    ProgramFolderOverride() = folder;
    UsingStateFolder() = false;
    LogLineCount = 0;
}

void SetTraceSinkForTests(std::function<void(const std::string&)> sink) {
    TraceSink() = std::move(sink);
}

void WriteDebugLog(const std::string& text) {
    if (!LogEnabled)
        return;
    const bool create = LogLineCount == 0;
    char number[32];
    std::snprintf(number, sizeof number, "debug#%.5d ... ", LogLineCount + 1);
    const std::string bytes = ToCp932(number + text) + "\r\n";
    std::string path = DebugLogPath();
    bool ok = WriteLine(path, create, bytes);
    if (!ok && TestFolder().empty() && !UsingStateFolder()) {
        // The program's folder cannot take the log: keep it with the user's state instead.
        std::error_code error;
        std::filesystem::create_directories(StateFolder(), error);
        UsingStateFolder() = true;
        path = DebugLogPath();
        ok = WriteLine(path, /*create=*/true, bytes); // a new file in the new place
    }
    if (!ok) {
        // Nowhere to keep the log: the line goes to standard error instead, and the warning
        // or fatal report that wrote it goes on as it would have. The count stays, so the
        // next line tries to create the file again.
        const int reason = errno;
        std::fprintf(stderr, "zelka: cannot write %s (%s): %s%s\n", path.c_str(),
                     std::strerror(reason), number, text.c_str());
        std::fflush(stderr);
        return;
    }
    ++LogLineCount;
}

void LogWarning(const std::string& text) {
    WriteDebugLog(text);
}

void Trace(const std::string& text) {
    if (TraceSink())
        TraceSink()(text);
}

int CheckResult(int code, const std::string& message) {
    if (code == 0)
        return 0;
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, "(Error Code(%X))", static_cast<unsigned>(code));
    WriteDebugLog(message + suffix);
    if (HaltOnError)
        Halt(message + suffix);
    return code;
}

BOOL EnumDriverCallback(GUID*, LPSTR description, LPSTR driverName, LPVOID context) {
    const std::string entry =
        std::string(description ? description : "") + " (" + (driverName ? driverName : "") + ")";
    Trace("Enumerated DDraw Driver ... " + entry);
    if (context)
        static_cast<std::vector<std::string>*>(context)->push_back(entry);
    return TRUE;
}
