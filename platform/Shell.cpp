#include "Shell.h"

#include "CP932.h"
#include "MMSystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

#ifndef P_PIDFD
#define P_PIDFD static_cast<idtype_t>(3)
#endif

namespace {

ShellCallLog* currentLog = nullptr;
OpenerFailureNotice* currentNotice = nullptr;
int watchedOpeners = 0;

constexpr int kOpened = 42;
constexpr int kFileNotFound = 2;
constexpr int kNoAssociation = 31;

constexpr const char* kOpener = "xdg-open";

QString Decode(const char* text) {
    return text == nullptr ? QString() : FromCP932(text);
}

// One started opener, watched through its process descriptor until it ends; then it is reaped
// and, when it failed in time, the notice given at its start is called. It is never killed: an
// opener still running when the program ends keeps running.
class OpenerWatch : public QObject {
public:
    OpenerWatch(int pidfd, DWORD started, std::function<void()> failed)
        : QObject(QCoreApplication::instance()), pidfd_(pidfd), started_(started),
          failed_(std::move(failed)), notifier_(pidfd, QSocketNotifier::Read, this) {
        ++watchedOpeners;
        connect(&notifier_, &QSocketNotifier::activated, this, [this] { Ended(); });
    }
    ~OpenerWatch() override {
        --watchedOpeners;
        close(pidfd_);
    }

private:
    void Ended() {
        notifier_.setEnabled(false);
        siginfo_t info{};
        const bool reaped = waitid(P_PIDFD, static_cast<id_t>(pidfd_), &info, WEXITED) == 0;
        const bool failed = reaped && (info.si_code != CLD_EXITED || info.si_status != 0);
        const bool inTime = ElapsedMs(timeGetTime(), started_) <= kOpenerVerdictMs;
        // The notice may show a modal box; this watch goes once control is back here.
        const std::function<void()> failedNotice = failed_;
        deleteLater();
        if (failed && inTime && failedNotice)
            failedNotice();
    }

    int pidfd_;
    DWORD started_;
    std::function<void()> failed_;
    QSocketNotifier notifier_;
};

// Starts the opener on `target` in a session of its own (a Ctrl+C meant for this program does
// not reach the browser it starts), its input and output on /dev/null, its signals as new.
bool StartOpener(const QByteArray& target) {
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGCHLD})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::string opener = kOpener;
    std::string argument = target.toStdString();
    char* argv[] = {opener.data(), argument.data(), nullptr};
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, kOpener, &files, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        return false;

    const DWORD started = timeGetTime();
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0 || QCoreApplication::instance() == nullptr) {
        // Nothing to watch it with: it counts as opened.
        if (pidfd >= 0)
            close(pidfd);
        return true;
    }
    new OpenerWatch(pidfd, started,
                    currentNotice != nullptr ? currentNotice->failed : std::function<void()>());
    return true;
}

// At most 79 bytes, cut before a double-byte character that would not fit whole.
std::string Buffer80(const QString& text) {
    const std::string bytes = ToCP932(text);
    std::size_t end = 0;
    while (end < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[end]);
        const std::size_t width =
            (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC) ? 2 : 1;
        if (end + width > 79)
            break;
        end += width;
    }
    return bytes.substr(0, end);
}

} // namespace

bool IsShellAddress(const QString& file) {
    static const QRegularExpression scheme("^[A-Za-z][A-Za-z0-9+.-]+:");
    return scheme.match(file).hasMatch();
}

OpenerFailureNotice::OpenerFailureNotice(std::function<void()> failed)
    : failed(std::move(failed)), previous_(currentNotice) {
    currentNotice = this;
}
OpenerFailureNotice::~OpenerFailureNotice() {
    currentNotice = previous_;
}

int WatchedOpeners() {
    return watchedOpeners;
}

ShellCallLog::ShellCallLog() : previous_(currentLog) {
    currentLog = this;
}
ShellCallLog::~ShellCallLog() {
    currentLog = previous_;
}

int ShellExecuteA(QWidget* owner, const char* operation, const char* file, const char* parameters,
                  const char* directory, int showCommand) {
    const QString name = Decode(file);
    if (currentLog != nullptr) {
        currentLog->calls.push_back(
            {owner, name, Decode(parameters), Decode(directory), showCommand});
        return currentLog->answer;
    }
    if (operation != nullptr && std::strcmp(operation, "open") != 0)
        return kNoAssociation;
    if (name.isEmpty())
        return kFileNotFound;
    if (IsShellAddress(name))
        return StartOpener(name.toUtf8()) ? kOpened : kNoAssociation;
    const QString base = Decode(directory).isEmpty() ? QDir::currentPath() : Decode(directory);
    const QFileInfo target(QDir(base), name);
    if (!target.exists())
        return kFileNotFound;
    return StartOpener(QFile::encodeName(target.absoluteFilePath())) ? kOpened : kNoAssociation;
}

int ExecuteFile(QWidget* owner, const QString& fileName, const QString& parameters,
                const QString& directory, int showCommand) {
    const std::string file = Buffer80(fileName);
    const std::string params = Buffer80(parameters);
    const std::string dir = Buffer80(directory);
    return ShellExecuteA(owner, nullptr, file.c_str(), params.c_str(), dir.c_str(), showCommand);
}
