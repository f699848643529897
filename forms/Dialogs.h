#pragma once
// Message boxes with one OK button: warnings, the standard error box, information.
#include <QString>
#include <vector>

enum class BoxKind { Warning, Error, Information };

struct BoxRecord {
    BoxKind kind;
    QString caption;
    QString text;
};

// Shows a modal box and returns when it is answered. Headless, or while a BoxRecorder lives,
// nothing waits: the box is printed to standard error (headless) or recorded (tests).
void ShowMessageBox(BoxKind kind, const QString& caption, const QString& text);

// A warning box captioned "警告" with the given text and an OK button.
void ShowWarning(const QString& text);

// Records every box instead of showing it, for tests. Recorders nest.
class BoxRecorder {
public:
    BoxRecorder();
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    std::vector<BoxRecord> boxes;

private:
    BoxRecorder* previous_;
};
