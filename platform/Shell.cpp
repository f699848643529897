#include "Shell.h"

#include "CP932.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>
#include <cstring>
#include <string>

namespace {

ShellCallLog* currentLog = nullptr;

constexpr int kOpened = 42;
constexpr int kFileNotFound = 2;
constexpr int kNoAssociation = 31;

QString Decode(const char* text) {
    return text == nullptr ? QString() : FromCP932(text);
}

// "http://…", "mailto:…": a scheme of two or more letters, so "C:\x" stays a path.
bool IsAddress(const QString& file) {
    static const QRegularExpression scheme("^[A-Za-z][A-Za-z0-9+.-]+:");
    return scheme.match(file).hasMatch();
}

bool OpenUrl(const QUrl& url, const QString& localPath) {
    if (QDesktopServices::openUrl(url))
        return true;
    // Platforms without desktop services still have the desktop's opener.
    return QProcess::startDetached("xdg-open", {localPath.isEmpty() ? url.toString() : localPath});
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
    if (IsAddress(name))
        return OpenUrl(QUrl(name), QString()) ? kOpened : kNoAssociation;
    const QString base = Decode(directory).isEmpty() ? QDir::currentPath() : Decode(directory);
    const QFileInfo target(QDir(base), name);
    if (!target.exists())
        return kFileNotFound;
    const QString path = target.absoluteFilePath();
    return OpenUrl(QUrl::fromLocalFile(path), path) ? kOpened : kNoAssociation;
}

int ExecuteFile(QWidget* owner, const QString& fileName, const QString& parameters,
                const QString& directory, int showCommand) {
    const std::string file = Buffer80(fileName);
    const std::string params = Buffer80(parameters);
    const std::string dir = Buffer80(directory);
    return ShellExecuteA(owner, nullptr, file.c_str(), params.c_str(), dir.c_str(), showCommand);
}
