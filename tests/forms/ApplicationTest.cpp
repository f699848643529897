#include "forms/Application.h"

#include "forms/Controls.h"
#include "forms/Dialogs.h"
#include "forms/Forms.h"
#include "forms/Windows.h"
#include "platform/SysUtils.h"
#include "tests/QtPrinters.h"

#include <QCheckBox>
#include <QFontInfo>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <gtest/gtest.h>

TEST(Application, CommandErrorsGoToTheStandardErrorBoxWithAFullStop) {
    Application->SetTitle("ゼルカ");
    struct Case {
        const char* message;
        const char* shown;
    } cases[] = {
        {"'測定中' is not a valid integer value", "'測定中' is not a valid integer value."},
        {"Disk full.", "Disk full."},
        {"", ""},
    };
    for (const Case& c : cases) {
        BoxRecorder boxes;
        const bool ok = Application->RunCommand([&] { throw EConvertError(c.message); });
        EXPECT_FALSE(ok);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].kind, BoxKind::Error);
        EXPECT_EQ(boxes.boxes[0].caption, "ゼルカ");
        EXPECT_EQ(boxes.boxes[0].text, QString::fromUtf8(c.shown));
    }
    BoxRecorder boxes;
    EXPECT_TRUE(Application->RunCommand([] {}));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST(Application, WarningsAreRecordedWithTheirText) {
    BoxRecorder boxes;
    ShowWarning("指定されたドライブが存在しません");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, BoxKind::Warning);
    EXPECT_EQ(boxes.boxes[0].text, "指定されたドライブが存在しません");
}

TEST(Application, MessageBoxKindFollowsTheIconField) {
    struct Case {
        UINT type;
        BoxKind kind;
    };
    const Case cases[] = {{MB_OK | MB_ICONWARNING, BoxKind::Warning},
                          {MB_OK | MB_ICONERROR, BoxKind::Error},
                          {MB_OK, BoxKind::Warning}};
    for (const Case& c : cases) {
        BoxRecorder boxes;
        EXPECT_EQ(MessageBoxA(nullptr, "本文", "警告", c.type), IDOK);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].kind, c.kind) << c.type;
        EXPECT_EQ(boxes.boxes[0].caption, "警告");
        EXPECT_EQ(boxes.boxes[0].text, "本文");
    }
}

TEST(Application, FormsAreDestroyedInReverseCreationOrder) {
    std::vector<QString> destroyed;
    {
        TApplication app(/*headless=*/true);
        for (const char* name : {"first", "second", "third"}) {
            QWidget* form = app.CreateForm<TForm>();
            form->setObjectName(name);
            QObject::connect(form, &QObject::destroyed,
                             [&destroyed, name] { destroyed.push_back(name); });
        }
    }
    EXPECT_EQ(destroyed, (std::vector<QString>{"third", "second", "first"}));
}

TEST(Forms, ShowModalReturnsWhenTheFormClosesItself) {
    TForm form;
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        EXPECT_TRUE(form.InModalLoop());
        EXPECT_TRUE(form.isVisible());
        if (++ticks == 3)
            form.Close();
    });
    timer.start(0);
    form.ShowModal();
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(form.InModalLoop());
    EXPECT_FALSE(form.isVisible());
}

TEST(Application, IdleEventRunsInTheModalLoopUntilItRemovesItself) {
    struct Case {
        bool keepBusy;   // the handler sets Done to false
        bool replace;    // at its last call it installs a second handler instead of none
        int calls;       // calls of the first handler before it stops
        int secondCalls; // calls of the second handler
    } cases[] = {
        {true, false, 5, 0},
        {false, false, 3, 0},
        {true, true, 4, 2},
    };
    for (const Case& c : cases) {
        TForm form;
        int calls = 0, secondCalls = 0;
        TIdleEvent second = [&](void* sender, bool& done) {
            EXPECT_EQ(sender, Application);
            done = false;
            if (++secondCalls == c.secondCalls) {
                Application->SetOnIdle(nullptr);
                form.Close();
            }
        };
        Application->SetOnIdle([&](void* sender, bool& done) {
            EXPECT_EQ(sender, Application);
            EXPECT_TRUE(done); // every call starts with Done set
            EXPECT_TRUE(form.InModalLoop());
            if (c.keepBusy)
                done = false;
            if (++calls == c.calls) {
                if (c.replace) {
                    Application->SetOnIdle(second);
                } else {
                    Application->SetOnIdle(nullptr);
                    form.Close();
                }
            }
        });
        EXPECT_TRUE(Application->HasOnIdle());
        form.ShowModal();
        EXPECT_FALSE(Application->HasOnIdle());
        for (int i = 0; i < 5; ++i)
            Application->ProcessMessages();
        EXPECT_EQ(calls, c.calls) << c.keepBusy << c.replace;
        EXPECT_EQ(secondCalls, c.secondCalls);
    }
}

TEST(Forms, ProgramFontResolvesToIpaPGothic) {
    QFont font("ＭＳ Ｐゴシック");
    font.setPixelSize(12);
    EXPECT_EQ(QFontInfo(font).family(), "IPAPGothic");
}

TEST(TImage, ReportsTheClickBeforeTheRelease) {
    TImage image;
    image.resize(40, 20);
    std::vector<QString> seen;
    QObject::connect(&image, &TImage::MouseDown, [&](Qt::MouseButton b, int x, int y) {
        seen.push_back(QString("down %1 %2,%3").arg(int(b)).arg(x).arg(y));
    });
    QObject::connect(&image, &TImage::Click, [&] { seen.push_back("click"); });
    QObject::connect(&image, &TImage::MouseUp, [&](Qt::MouseButton b, int, int) {
        seen.push_back(QString("up %1").arg(int(b)));
    });
    auto send = [&](QEvent::Type type, Qt::MouseButton button, QPoint at) {
        QMouseEvent event(type, at, image.mapToGlobal(at), button,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : button,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&image, &event);
    };
    send(QEvent::MouseButtonPress, Qt::LeftButton, {5, 6});
    send(QEvent::MouseButtonRelease, Qt::LeftButton, {5, 6});
    send(QEvent::MouseButtonPress, Qt::RightButton, {1, 1});
    send(QEvent::MouseButtonRelease, Qt::RightButton, {1, 1}); // not a click
    send(QEvent::MouseButtonPress, Qt::LeftButton, {1, 1});
    send(QEvent::MouseButtonRelease, Qt::LeftButton, {90, 1}); // released outside
    EXPECT_EQ(seen, (std::vector<QString>{"down 1 5,6", "click", "up 1", "down 2 1,1", "up 2",
                                          "down 1 1,1", "up 1"}));
}

// Through the platform's own path: two presses in quick succession become a press and a
// double-click, as a real mouse gives them.
TEST(Application, ADoubleClickIsOneClickOnEveryControl) {
    QWidget window;
    window.resize(200, 60);
    auto* image = new TImage(&window);
    image->setGeometry(0, 0, 50, 50);
    auto* button = new QPushButton("b", &window);
    button->setGeometry(60, 0, 50, 30);
    auto* box = new QCheckBox("c", &window);
    box->setGeometry(120, 0, 70, 30);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    int imageClicks = 0, imageDoubles = 0, imageDowns = 0, buttonClicks = 0, boxClicks = 0;
    QObject::connect(image, &TImage::Click, [&] { ++imageClicks; });
    QObject::connect(image, &TImage::DblClick, [&] { ++imageDoubles; });
    QObject::connect(image, &TImage::MouseDown, [&] { ++imageDowns; });
    QObject::connect(button, &QPushButton::clicked, [&] { ++buttonClicks; });
    QObject::connect(box, &QCheckBox::clicked, [&] { ++boxClicks; });
    for (QWidget* control :
         {static_cast<QWidget*>(image), static_cast<QWidget*>(button), static_cast<QWidget*>(box)})
        QTest::mouseDClick(window.windowHandle(), Qt::LeftButton, {},
                           QPoint(control->x() + 6, control->geometry().center().y()));
    EXPECT_EQ(imageClicks, 1);
    EXPECT_EQ(imageDoubles, 1);
    EXPECT_EQ(imageDowns, 2); // the second press still shows the pressed look
    EXPECT_EQ(buttonClicks, 1);
    EXPECT_EQ(boxClicks, 1);
    EXPECT_TRUE(box->isChecked());
}

TEST(Application, TheTitleIsNotAppendedToEveryWindowTitle) {
    TApplication application(/*headless=*/true);
    application.SetTitle("ゼルカ");
    EXPECT_EQ(application.Title(), "ゼルカ");
    // Qt appends a display name set for the application to each window's title.
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
}

TEST(Forms, TheScreenSizeInDevicePixels) {
    struct Case {
        int logical;
        double scale;
        int device;
    } cases[] = {{1280, 2.0, 2560}, {800, 1.0, 800}, {1366, 1.25, 1708}, {1097, 1.75, 1920}};
    for (const Case& c : cases)
        EXPECT_EQ(DevicePixels(c.logical, c.scale), c.device) << c.logical << " " << c.scale;
}
