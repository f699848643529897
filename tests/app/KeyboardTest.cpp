#include "AppTestSupport.h"
#include "app/Unit1.h"
#include "app/Unit4.h"
#include "app/Unit5.h"
#include "forms/Controls.h"
#include "forms/Dialogs.h"
#include "platform/Shell.h"
#include "tests/QtPrinters.h"

#include <QApplication>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>
#include <gtest/gtest.h>

namespace {

// The main window shown and active, as the keyboard needs it.
struct ActiveMainWindow {
    ActiveMainWindow() {
        form.show();
        form.activateWindow();
        QApplication::setActiveWindow(&form);
        active = QTest::qWaitForWindowActive(&form);
    }
    TForm1 form;
    bool active = false;
};

// Closes the window once its modal show runs; tells whether it did.
class CloseWhenModal {
public:
    explicit CloseWhenModal(TForm* window) {
        QObject::connect(&timer_, &QTimer::timeout, [this, window] {
            if (!window->InModalLoop())
                return;
            closed = window->isVisible();
            window->Close();
            timer_.stop();
        });
        timer_.start(0);
    }
    bool closed = false;

private:
    QTimer timer_;
};

bool SamePicture(const TImage* a, const TImage* b) {
    return a->Picture().toImage() == b->Picture().toImage();
}

} // namespace

// From the start button Tab goes round the top bar, the tests, the options and the command
// buttons; Shift+Tab goes back. A disabled box is passed over.
TEST(Keyboard, TabGoesRoundTheButtonsAndBoxesInOrder) {
    ActiveMainWindow w;
    ASSERT_TRUE(w.active);
    TForm1& f = w.form;
    EXPECT_EQ(QApplication::focusWidget(), f.Image6);
    struct Case {
        bool cb4, cb5;
        std::vector<QWidget*> order; // after the start button, back to it
    } cases[] = {
        {true,
         true,
         {f.Image2, f.Image18, f.Image19, f.Image16, f.Image17, f.cb1, f.cb2, f.cb3, f.cb4, f.cb5,
          f.set_cb1, f.Edit2, f.Image3, f.Image5, f.Image4, f.Image6}},
        {false,
         false,
         {f.Image2, f.Image18, f.Image19, f.Image16, f.Image17, f.cb1, f.cb2, f.cb3, f.cb4, f.cb5,
          f.Image3, f.Image5, f.Image4, f.Image6}},
    };
    for (const Case& c : cases) {
        f.cb4->setChecked(c.cb4);
        f.cb5->setChecked(c.cb5);
        f.Image6->setFocus(Qt::TabFocusReason);
        for (QWidget* expected : c.order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            EXPECT_EQ(QApplication::focusWidget(), expected)
                << QApplication::focusWidget()->objectName().toStdString() << " instead of "
                << expected->objectName().toStdString();
        }
        for (auto it = c.order.rbegin() + 1; it != c.order.rend(); ++it) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            EXPECT_EQ(QApplication::focusWidget(), *it);
        }
    }
}

// Return and Space work every command button as a click does; Space looks pressed until it is
// released. Return and Space tick the check boxes.
TEST(Keyboard, ReturnAndSpaceActivateButtonsAndBoxes) {
    QTemporaryDir work;
    ScopedCurrentDir here(work.path());
    ScopedEnv data("XDG_DATA_HOME", work.path().toUtf8());
    ActiveMainWindow w;
    ASSERT_TRUE(w.active);
    TForm1& f = w.form;
    TForm4 report;
    TForm5 about;
    for (QCheckBox* box : {f.cb1, f.cb2, f.cb3, f.cb4, f.cb5})
        box->setChecked(false);
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Space}) {
        SCOPED_TRACE(key == Qt::Key_Return ? "Return" : "Space");
        auto press = [key](QWidget* target) {
            target->setFocus(Qt::TabFocusReason);
            QTest::keyClick(target, key);
        };
        {
            ShellCallLog shell;
            BoxRecorder boxes;
            f.Panel1->setText("50");
            press(f.Image6); // no test ticked: the overall rating only
            EXPECT_EQ(f.Panel20->text(), "10");
            press(f.Image5);
            press(f.Image2);
            press(f.Image3);
            ASSERT_EQ(shell.calls.size(), 3u);
            EXPECT_EQ(shell.calls[0].file, "result.txt");
            EXPECT_EQ(shell.calls[1].file, kHomePageAddress);
            EXPECT_EQ(shell.calls[2].file, "intsc.htm");
            press(f.Image18); // no help page anywhere here
            ASSERT_EQ(boxes.boxes.size(), 1u);
            EXPECT_TRUE(boxes.boxes[0].text.startsWith("ヘルプファイル"));
            f.Panel1->setText("0");
        }
        for (TForm* window : {static_cast<TForm*>(&report), static_cast<TForm*>(&about)}) {
            CloseWhenModal closer(window);
            press(window == &report ? f.Image4 : f.Image19);
            EXPECT_TRUE(closer.closed);
        }
        // Each ends as it began. (The HAL box needs the test window this test does not make.)
        for (QCheckBox* box : {f.cb2, f.cb5, f.cb5, f.cb2}) {
            const bool before = box->isChecked();
            press(box);
            EXPECT_EQ(box->isChecked(), !before);
        }
    }
    // Space held down looks pressed; its release is the click and the released look.
    f.Image6->setFocus(Qt::TabFocusReason);
    f.Panel20->setText("x");
    QTest::keyPress(f.Image6, Qt::Key_Space);
    EXPECT_TRUE(SamePicture(f.Image6, f.Image13));
    EXPECT_EQ(f.Panel20->text(), "x");
    QTest::keyRelease(f.Image6, Qt::Key_Space);
    EXPECT_TRUE(SamePicture(f.Image6, f.Image14));
    EXPECT_EQ(f.Panel20->text(), "0");
}

// A focused skin button carries a dotted yellow-on-black frame one pixel inside its edge; it
// goes with the focus. A focused check box is framed too.
TEST(Keyboard, TheFocusedButtonOrBoxShowsAFocusMark) {
    ActiveMainWindow w;
    ASSERT_TRUE(w.active);
    TForm1& f = w.form;
    for (QWidget* target : {static_cast<QWidget*>(f.Image6), static_cast<QWidget*>(f.Image16),
                            static_cast<QWidget*>(f.cb1), static_cast<QWidget*>(f.set_cb1)}) {
        SCOPED_TRACE(target->objectName().toStdString());
        target->setFocus(Qt::TabFocusReason);
        const QImage focused = target->grab().toImage();
        f.Image15->setFocus(Qt::OtherFocusReason); // the background: no mark anywhere
        f.Image15->setFocusPolicy(Qt::NoFocus);
        const QImage plain = target->grab().toImage();
        ASSERT_FALSE(target->hasFocus());
        EXPECT_NE(focused, plain);
        if (qobject_cast<TImage*>(target) != nullptr) {
            auto count = [](const QImage& image, QRgb colour) {
                int n = 0;
                for (int x = 1; x < image.width() - 1; ++x)
                    n += image.pixel(x, 1) == colour;
                return n;
            };
            EXPECT_GT(count(focused, qRgb(0xFF, 0xFF, 0x00)),
                      count(plain, qRgb(0xFF, 0xFF, 0x00)) + 3);
            EXPECT_GT(count(focused, qRgb(0, 0, 0)), count(plain, qRgb(0, 0, 0)) + 3);
        }
    }
}

// Esc closes the report window and the about box, whichever of their controls has the focus.
TEST(Keyboard, EscClosesTheReportAndTheAboutBox) {
    TForm4 report;
    TForm5 about;
    struct Case {
        TForm* window;
        QWidget* focus;
    } cases[] = {
        {&report, report.gd},
        {&report, report.Button1},
        {&about, about.BitBtn1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.focus->objectName().toStdString());
        bool shown = false;
        QTimer::singleShot(0, [&] {
            shown = c.window->isVisible();
            c.focus->setFocus(Qt::OtherFocusReason);
            QTest::keyClick(c.focus, Qt::Key_Escape);
            if (c.window->InModalLoop()) // Esc did nothing: end the test's wait
                c.window->Close();
            else
                shown = shown && !c.window->isVisible();
        });
        c.window->ShowModal();
        EXPECT_TRUE(shown);
        EXPECT_FALSE(c.window->isVisible());
    }
}
