#pragma once
// A stand-in for the desktop's opener: an "xdg-open" script first on PATH (the only thing on
// it) that appends its argument to a file, complains on standard error and exits with a chosen
// status. Without a status, no opener is on PATH at all.
#include "platform/Shell.h"
#include "tests/ScopedEnv.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtCore/qtestsupport_core.h>
#include <optional>

class FakeOpener {
public:
    explicit FakeOpener(std::optional<int> exitStatus, const char* extra = "")
        : path_("PATH", dir_.path().toUtf8()) {
        if (!exitStatus)
            return;
        QFile script(dir_.filePath("xdg-open"));
        script.open(QIODevice::WriteOnly);
        script.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >>'" + QFile::encodeName(ArgumentsFile()) +
                     "'\necho 'xdg-open: no method available for opening' >&2\n" + extra +
                     "\nexit " + QByteArray::number(*exitStatus) + "\n");
        script.close();
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                              QFileDevice::ExeOwner);
    }

    // Waits until every opener started has ended and been looked at.
    static bool AllEnded() {
        return QTest::qWaitFor([] { return WatchedOpeners() == 0; }, 10000);
    }

    // The arguments the opener was started with, one a line.
    QByteArray Arguments() const {
        QFile file(ArgumentsFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QString ArgumentsFile() const { return dir_.filePath("arguments"); }

    QTemporaryDir dir_;
    ScopedEnv path_;
};
