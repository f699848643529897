#pragma once
// The display engine's diagnostics: the numbered log "dddd.debug", warnings, the discarded
// trace, the result check that turns a failed DirectX call into a log line and a halt, and the
// driver-enumeration callback.
#include "directx/ddraw.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr bool LogEnabled = true;
constexpr bool HaltOnError = true;

// Log lines written in this run.
extern std::int32_t LogLineCount;

// Writes "debug#NNNNN ... text" (CP932, CR LF) to the log: the first line of a run creates or
// empties the file, later ones append; the file is opened and closed per call. The log lives
// in the executable's folder, or in the per-user state folder when that is not writable.
// When neither can be written the line goes to standard error; nothing is raised.
void WriteDebugLog(const std::string& text);
void LogWarning(const std::string& text);
// Accepts a progress text and discards it.
void Trace(const std::string& text);
// 0 passes. Anything else is logged as Message + "(Error Code(%X))" and halts the program
// with that line as the reason.
int CheckResult(int code, const std::string& message);

// DirectDrawEnumerateA callback: appends "description (name)" to the std::vector<std::string>
// given as context.
BOOL EnumDriverCallback(GUID* guid, LPSTR description, LPSTR driverName, LPVOID context);

// The log's path as the next line would use it.
std::string DebugLogPath();
// Tests: put the log in this folder instead (empty: the normal rules), and forget the line
// count so the next line starts a new file.
void SetDebugLogFolderForTests(const std::string& folder);
// Tests: take this folder (ending in '/') as the program's data folder.
void SetProgramFolderForTests(const std::string& folder);
// Tests: see the traced texts (empty: they are discarded).
void SetTraceSinkForTests(std::function<void(const std::string&)> sink);
