#pragma once
// The shell's open: files with the desktop's default application, addresses with the default
// web browser, both through the desktop's opener (xdg-open, found on PATH). Never through a
// shell command line.
#include <QString>
#include <functional>
#include <vector>

class QWidget;

// Show code for "show the window in its current size and position".
inline constexpr int SW_SHOW = 5;

// Opens `file` (CP932 bytes) with its default action; a relative name is looked up in
// `directory`, or in the current directory when that is empty. `operation` other than null or
// "open" is not supported. Returns a value above 32 when the opener started, 2 for a missing
// file, 31 when there is no opener or it could not be started. The opener runs in a session of
// its own with its output discarded; how it ends is known only later (OpenerFailureNotice).
int ShellExecuteA(QWidget* owner, const char* operation, const char* file, const char* parameters,
                  const char* directory, int showCommand);

// The program's shell open: each text is copied into its own 80-byte buffer (at most 79 CP932
// bytes, never half a character), then opened with the default action.
int ExecuteFile(QWidget* owner, const QString& fileName, const QString& parameters,
                const QString& directory, int showCommand);

// "http://...", "mailto:...": a scheme of two or more letters, so "C:\x" stays a path.
bool IsShellAddress(const QString& file);

// How long after its start an opener's failure still counts: the opener may stay until the
// application it started ends (a text editor), and that application's exit status says nothing
// about the open.
inline constexpr int kOpenerVerdictMs = 15000;

// While one lives, an opener the shell starts that then fails (ends with a status other than 0,
// or by a signal, within kOpenerVerdictMs on the multimedia clock) calls `failed` from the event
// loop, even after this object is gone. Notices nest.
class OpenerFailureNotice {
public:
    explicit OpenerFailureNotice(std::function<void()> failed);
    ~OpenerFailureNotice();
    OpenerFailureNotice(const OpenerFailureNotice&) = delete;
    OpenerFailureNotice& operator=(const OpenerFailureNotice&) = delete;

    std::function<void()> failed;

private:
    OpenerFailureNotice* previous_;
};

// How many started openers are still watched for their verdict.
int WatchedOpeners();

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
