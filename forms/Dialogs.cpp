#include "Dialogs.h"

#include "Application.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>

namespace {
BoxRecorder* recorder = nullptr;

QMessageBox::Icon IconOf(BoxKind kind) {
    switch (kind) {
    case BoxKind::Warning:
        return QMessageBox::Warning;
    case BoxKind::Error:
        return QMessageBox::Critical;
    case BoxKind::Information:
        break;
    }
    return QMessageBox::Information;
}
} // namespace

void ShowMessageBox(BoxKind kind, const QString& caption, const QString& text) {
    if (recorder) {
        recorder->boxes.push_back({kind, caption, text});
        return;
    }
    if (!Application || Application->Headless()) {
        std::fprintf(stderr, "%s: %s\n", caption.toUtf8().constData(), text.toUtf8().constData());
        return;
    }
    QMessageBox box(IconOf(kind), caption, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void ShowWarning(const QString& text) {
    ShowMessageBox(BoxKind::Warning, "警告", text);
}

bool ConfirmWarning(const QString& text) {
    const QString caption = "警告";
    if (recorder) {
        recorder->boxes.push_back({BoxKind::Warning, caption, text, true});
        return recorder->answerOk;
    }
    if (!Application || Application->Headless()) {
        std::fprintf(stderr, "%s: %s\n", caption.toUtf8().constData(), text.toUtf8().constData());
        return true;
    }
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok | QMessageBox::Cancel,
                    QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

BoxRecorder::BoxRecorder() : previous_(recorder) {
    recorder = this;
}
BoxRecorder::~BoxRecorder() {
    recorder = previous_;
}
