#pragma once
// Scoped changes of the process state the application tests need.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <string>

class ScopedCurrentDir {
public:
    explicit ScopedCurrentDir(const QString& to) : old_(QDir::currentPath()) {
        QDir::setCurrent(to);
    }
    ~ScopedCurrentDir() { QDir::setCurrent(old_); }

private:
    QString old_;
};

class ScopedEnvVar {
public:
    // A null value unsets the variable.
    ScopedEnvVar(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnvVar() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

inline std::string FileBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll().toStdString();
}

inline void WriteBytes(const QString& path, const std::string& bytes) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}
