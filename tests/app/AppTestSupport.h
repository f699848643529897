#pragma once
// File bytes and scoped process state for the application tests.
#include "tests/ScopedEnv.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <string>

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
