#pragma once
// The application object: title, the forms it owns in creation order, the message loop,
// ProcessMessages, minimising, and the exception boundary of a command.
#include <QApplication>
#include <QString>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

class QObject;
class QTimer;
class QWidget;

// Qt's own messages (platform warnings, missing runtime folders) stay off standard error,
// which carries the program's own lines only; a fatal one is still printed before the end.
// ZELKA_QT_MESSAGES=1 lets them through.
void KeepQtMessagesOffStandardError();

// The application's idle event: called when the message loop has nothing else to do. A
// handler that sets Done to false is called again at once; one that leaves it true is called
// again only after a short wait, as the loop would after waiting for the next message.
using TIdleEvent = std::function<void(void* sender, bool& done)>;

class TApplication {
public:
    // Wraps an existing QApplication. A double-click gives its control one click, not two.
    // Headless, every box prints its text to standard error
    // and is answered OK at once.
    explicit TApplication(bool headless = false);
    ~TApplication(); // destroys the forms in reverse creation order

    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    QString Title() const { return title_; }
    void SetTitle(const QString& title);
    bool Headless() const { return headless_; }

    // Creates a form the application owns; forms are destroyed in reverse creation order.
    template <typename Form, typename... Args> Form* CreateForm(Args&&... args) {
        auto form = std::make_unique<Form>(std::forward<Args>(args)...);
        Form* raw = form.get();
        forms_.push_back(std::move(form));
        return raw;
    }
    const std::vector<std::unique_ptr<QWidget>>& Forms() const { return forms_; }
    void DestroyForms();

    // Processes every pending window message (paint, input, timers) once, then returns.
    void ProcessMessages();
    void Minimize();
    int Run();

    // The exception boundary of a command: runs it, and shows an escaping exception in the
    // standard error box. Returns false when the command ended with an exception.
    bool RunCommand(const std::function<void()>& command);
    void ShowException(const std::exception& error);

    // Installs (or, with an empty handler, removes) the idle event; a handler may remove or
    // replace itself while it runs.
    void SetOnIdle(TIdleEvent handler);
    bool HasOnIdle() const { return static_cast<bool>(onIdle_); }

private:
    QString title_;
    bool headless_;
    std::vector<std::unique_ptr<QWidget>> forms_;
    std::unique_ptr<QObject> doubleClicks_;
    void RunIdle();
    TIdleEvent onIdle_;
    std::unique_ptr<QTimer> idleTimer_;
    TApplication* previous_; // an application object made inside another (tests) nests
};

// The one application object while the program (or a test) runs.
extern TApplication* Application;
