#pragma once
// Message boxes with one OK button: warnings, the standard error box, information; and the
// warning that asks whether to go on, with OK and Cancel.
#include <QString>
#include <vector>

enum class BoxKind { Warning, Error, Information };

struct BoxRecord {
    BoxKind kind;
    QString caption;
    QString text;
    bool cancelButton = false; // OK and Cancel
};

// Shows a modal box and returns when it is answered. Headless, or while a BoxRecorder lives,
// nothing waits: the box is printed to standard error (headless) or recorded (tests).
void ShowMessageBox(BoxKind kind, const QString& caption, const QString& text);

// A warning box captioned "警告" with the given text and an OK button.
void ShowWarning(const QString& text);

// A warning box captioned "警告" with OK and Cancel; true when answered OK. Headless it is
// printed to standard error and answered OK.
bool ConfirmWarning(const QString& text);

// Records every box instead of showing it, for tests. Recorders nest.
class BoxRecorder {
public:
    BoxRecorder();
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    std::vector<BoxRecord> boxes;
    bool answerOk = true; // how a box with Cancel is answered

private:
    BoxRecorder* previous_;
};
