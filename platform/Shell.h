#pragma once
// The shell's open: files with the desktop's default application, addresses with the default
// web browser. Never through a shell command line.
#include <QString>
#include <vector>

class QWidget;

// Show code for "show the window in its current size and position".
inline constexpr int SW_SHOW = 5;

// Opens `file` (CP932 bytes) with its default action; a relative name is looked up in
// `directory`, or in the current directory when that is empty. `operation` other than null or
// "open" is not supported. Returns a value above 32 on success, 2 for a missing file, 31 when
// no application took it.
int ShellExecuteA(QWidget* owner, const char* operation, const char* file, const char* parameters,
                  const char* directory, int showCommand);

// The program's shell open: each text is copied into its own 80-byte buffer (at most 79 CP932
// bytes, never half a character), then opened with the default action.
int ExecuteFile(QWidget* owner, const QString& fileName, const QString& parameters,
                const QString& directory, int showCommand);

struct ShellCall {
    QWidget* owner;
    QString file; // as the shell got it, decoded
    QString parameters;
    QString directory;
    int showCommand;
};

// While one lives, shell opens are recorded here instead of opening anything: for tests, and
// for the headless run, which has no desktop. Logs nest.
class ShellCallLog {
public:
    ShellCallLog();
    ~ShellCallLog();
    ShellCallLog(const ShellCallLog&) = delete;
    ShellCallLog& operator=(const ShellCallLog&) = delete;

    std::vector<ShellCall> calls;
    int answer = 42; // what each recorded open returns: 32 or below for a desktop that failed

private:
    ShellCallLog* previous_;
};
