#include "Application.h"

#include <QWidget>

#include "Dialogs.h"

TApplication* Application = nullptr;

TApplication::TApplication(bool headless) : headless_(headless), previous_(Application) {
    Application = this;
}

TApplication::~TApplication() {
    DestroyForms();
    if (Application == this)
        Application = previous_;
}

void TApplication::SetTitle(const QString& title) {
    title_ = title;
    QApplication::setApplicationDisplayName(title);
}

void TApplication::DestroyForms() {
    while (!forms_.empty())
        forms_.pop_back();
}

void TApplication::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TApplication::Minimize() {
    for (const auto& form : forms_)
        if (form->isVisible())
            form->showMinimized();
}

int TApplication::Run() { return QApplication::exec(); }

bool TApplication::RunCommand(const std::function<void()>& command) {
    try {
        command();
        return true;
    } catch (const std::exception& error) {
        ShowException(error);
        return false;
    }
}

void TApplication::ShowException(const std::exception& error) {
    // The standard error box ends a message with a full stop unless it already ends in
    // punctuation, and carries the application's title.
    QString text = QString::fromUtf8(error.what());
    if (!text.isEmpty() && text.back() > QChar('.'))
        text += '.';
    ShowMessageBox(BoxKind::Error, title_, text);
}
