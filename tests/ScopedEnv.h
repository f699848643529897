#pragma once
// Scoped changes of process state for tests: an environment variable and the current folder,
// each put back as it was when the scope ends.
#include <QByteArray>
#include <QDir>
#include <QString>

// A null value unsets the variable for the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

class ScopedCurrentDir {
public:
    explicit ScopedCurrentDir(const QString& to) : old_(QDir::currentPath()) {
        QDir::setCurrent(to);
    }
    ~ScopedCurrentDir() { QDir::setCurrent(old_); }
    ScopedCurrentDir(const ScopedCurrentDir&) = delete;
    ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

private:
    QString old_;
};
