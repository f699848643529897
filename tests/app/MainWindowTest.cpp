#include "app/Screenshots.h"
#include "app/Unit1.h"
#include "forms/Application.h"
#include "forms/Dialogs.h"
#include "platform/MMSystem.h"
#include "tests/QtPrinters.h"

#include <QMouseEvent>
#include <QtTest/QTest>
#include <gtest/gtest.h>

namespace {

void SendMouse(QWidget* target, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held,
               QPoint at) {
    QMouseEvent event(type, at, target->mapToGlobal(at), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

void SetScores(TForm1& form, std::initializer_list<const char*> captions) {
    QLabel* panels[] = {form.Panel1, form.Panel2, form.Panel3, form.Panel4, form.Panel5};
    int i = 0;
    for (const char* caption : captions)
        panels[i++]->setText(QString::fromUtf8(caption));
}

void SelectTests(TForm1& form, std::initializer_list<bool> ticks) {
    QCheckBox* boxes[] = {form.cb1, form.cb2, form.cb3, form.cb4, form.cb5};
    int i = 0;
    for (bool tick : ticks)
        boxes[i++]->setChecked(tick);
}

bool SamePicture(const TImage* a, const TImage* b) {
    return a->Picture().toImage() == b->Picture().toImage();
}

} // namespace

TEST(MainWindow, ComponentsSitWhereTheFormPutsThem) {
    TForm1 form;
    EXPECT_EQ(form.size(), QSize(595, 442));
    EXPECT_EQ(form.minimumSize(), QSize(595, 442));
    EXPECT_EQ(form.maximumSize(), QSize(595, 442));
    EXPECT_EQ(form.windowTitle(), "ゼルカ  Ver2.00");
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
    struct Component {
        const char* name;
        QRect geometry;
        const char* caption;
        const char* hint;
    } components[] = {
        {"Image15", {0, 0, 595, 442}, nullptr, ""},
        {"Image1", {360, 80, 200, 100}, nullptr, ""},
        {"Image2", {355, 24, 100, 50}, nullptr, "Orvaneホームページへジャンプ！"},
        {"Image3",
         {360, 291, 200, 30},
         nullptr,
         "インターネットランキングへベンチ結果を投稿します"},
        {"Image5", {361, 322, 200, 30}, nullptr, "ベンチ結果をテキスト出力します"},
        {"Image4", {361, 353, 200, 30}, nullptr, "ベンチ結果の比較をします"},
        {"Image6", {361, 384, 200, 30}, nullptr, "ベンチスタート！"},
        {"Image16", {512, 24, 20, 20}, nullptr, ""},
        {"Image17", {536, 24, 20, 20}, nullptr, ""},
        {"Image18", {456, 24, 50, 20}, nullptr, ""},
        {"Image19", {456, 48, 100, 20}, nullptr, ""},
        {"GroupBox1", {360, 184, 201, 105}, nullptr, ""},
        {"GroupBox2", {48, 32, 305, 145}, nullptr, ""},
        {"GroupBox3", {48, 184, 305, 185}, nullptr, ""},
        {"Panel6", {}, "ＣＰＵ性能（演算）", ""},
        {"Panel7", {}, "通常グラフィック性能", ""},
        {"Panel8", {}, "DirectDraw性能", ""},
        {"Panel9", {}, "Direct3D性能", ""},
        {"Panel10", {}, "HDDアクセス速度", ""},
        {"Panel19", {}, "総合評価", ""},
        {"Panel15", {}, "CPU", ""},
        {"Panel13", {}, "VIDEO", ""},
        {"Panel11", {}, "MEMORY", ""},
        {"Panel17", {}, "DISPLAY", ""},
        {"Panel16", {}, "Windows", ""},
        {"Label1", {}, "HDD測定対象ドライブ", ""},
        {"Label2", {}, "空容量：", ""},
        {"Label4", {}, "Ver 2.10", ""},
    };
    for (const Component& c : components) {
        QWidget* w = form.findChild<QWidget*>(c.name);
        ASSERT_NE(w, nullptr) << c.name;
        if (!c.geometry.isNull()) {
            EXPECT_EQ(w->geometry(), c.geometry) << c.name;
        }
        if (c.caption) {
            EXPECT_EQ(qobject_cast<QLabel*>(w)->text(), QString::fromUtf8(c.caption)) << c.name;
        }
        EXPECT_EQ(w->toolTip(), QString::fromUtf8(c.hint)) << c.name;
    }
    EXPECT_EQ(form.Label4->pos(), QPoint(488, 144));
    EXPECT_EQ(form.GroupBox1->title(), "Option");
    EXPECT_EQ(form.GroupBox2->title(), "System Info");
    EXPECT_EQ(form.GroupBox3->title(), "Bench Result");
    EXPECT_EQ(form.set_cb1->text(), "3D測定時にHALを使用する");
    EXPECT_EQ(form.Edit2->text(), "C");
    EXPECT_EQ(form.Image2->cursor().shape(), Qt::PointingHandCursor);
    // The hidden text buttons, pictures and sprite images lie outside the visible area.
    const QRect visible(0, 0, 595, 442);
    for (QWidget* hidden :
         std::initializer_list<QWidget*>{form.Button5, form.Button1, form.Button2, form.Button3,
                                         form.Image7, form.Image14, form.im_mine1, form.im_mine2})
        EXPECT_FALSE(visible.intersects(hidden->geometry())) << hidden->objectName().toStdString();
    EXPECT_EQ(form.Button5->text(), "測定開始");
    EXPECT_EQ(form.Button3->text(), "インターネットランキング申請");
}

TEST(MainWindow, StartsWithEveryTestTickedAndEveryScoreZero) {
    TForm1 form;
    for (QCheckBox* box : {form.cb1, form.cb2, form.cb3, form.cb4, form.cb5, form.set_cb1})
        EXPECT_TRUE(box->isChecked()) << box->objectName().toStdString();
    for (QLabel* panel :
         {form.Panel1, form.Panel2, form.Panel3, form.Panel4, form.Panel5, form.Panel20})
        EXPECT_EQ(panel->text(), "0");
    EXPECT_EQ(form.TestMode, 1);
    EXPECT_FALSE(form.DriveChosen);
}

TEST(MainWindow, RegionIsARoundedRectangle) {
    TForm1 form;
    const QRegion region = form.mask();
    struct Probe {
        QPoint at;
        bool inside;
    } probes[] = {
        {{0, 0}, false},  {{594, 0}, false},  {{0, 441}, false},  {{594, 441}, false},
        {{4, 4}, false},  {{297, 0}, true},   {{0, 221}, true},   {{297, 221}, true},
        {{25, 25}, true}, {{594, 221}, true}, {{297, 441}, true},
    };
    for (const Probe& p : probes)
        EXPECT_EQ(region.contains(p.at), p.inside) << p.at.x() << "," << p.at.y();
    // What a user sees: the grabbed window is transparent outside the region.
    const QImage shot = GrabWindow(form);
    EXPECT_EQ(qAlpha(shot.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(shot.pixel(297, 221)), 255);
}

TEST(MainWindow, OverallRatingIsTheTruncatedMeanOfTheFivePanels) {
    struct Case {
        std::initializer_list<const char*> scores;
        const char* overall;
    } cases[] = {
        {{"100", "101", "102", "103", "104"}, "102"},
        {{"1", "1", "1", "1", "0"}, "0"},
        {{"0", "0", "0", "0", "0"}, "0"},
        {{"-7", "0", "0", "0", "0"}, "-1"},
        {{"2147483647", "2147483647", "2147483647", "2147483647", "2147483647"}, "2147483647"},
    };
    TForm1 form;
    SelectTests(form, {false, false, false, false, false});
    for (const Case& c : cases) {
        SetScores(form, c.scores);
        BoxRecorder boxes;
        form.Button5Click();
        EXPECT_EQ(form.Panel20->text(), c.overall);
        EXPECT_TRUE(boxes.boxes.empty());
    }
}

TEST(MainWindow, ANonIntegerPanelEndsTheCommandAndKeepsTheRating) {
    TForm1 form;
    SelectTests(form, {false, false, false, false, false});
    form.Panel20->setText("55");
    SetScores(form, {"1", "2", "3", "4", "測定中"});
    BoxRecorder boxes;
    Application->SetTitle("ゼルカ");
    EXPECT_FALSE(Application->RunCommand([&] { form.Button5Click(); }));
    EXPECT_EQ(form.Panel20->text(), "55");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(boxes.boxes[0].caption, "ゼルカ");
    EXPECT_EQ(boxes.boxes[0].text, "'測定中' is not a valid integer value.");
}

TEST(MainWindow, OnlyTheCpuTestRerunsAndTheRatingUsesTheOldScores) {
    TForm1 form;
    SetScores(form, {"900", "200", "300", "400", "500"});
    SelectTests(form, {true, false, false, false, false});
    ScriptedClock clock([](std::uint64_t read) -> DWORD { return read <= 50 ? 0 : 10000; });
    form.Button5Click();
    EXPECT_EQ(form.Panel1->text(), "5"); // 50 iterations
    EXPECT_EQ(form.Panel2->text(), "200");
    EXPECT_EQ(form.Panel20->text(), "281"); // (5 + 200 + 300 + 400 + 500) div 5
}

TEST(MainWindow, TheStartPictureRunsTheCommandWhileItLooksPressed) {
    TForm1 form;
    SetScores(form, {"0", "10", "10", "10", "10"});
    SelectTests(form, {true, false, false, false, false});
    bool pressedDuringRun = false;
    ScriptedClock clock([&](std::uint64_t read) -> DWORD {
        if (read == 0)
            pressedDuringRun = SamePicture(form.Image6, form.Image13);
        return read <= 10 ? 0 : 10000;
    });
    SendMouse(form.Image6, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, {5, 5});
    SendMouse(form.Image6, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, {5, 5});
    EXPECT_TRUE(pressedDuringRun);
    EXPECT_TRUE(SamePicture(form.Image6, form.Image14));
    EXPECT_EQ(form.Panel1->text(), "1");
    EXPECT_EQ(form.Panel20->text(), "8"); // (1 + 40) div 5
}

TEST(MainWindow, PictureButtonsSwapLooksOnPressAndReleaseWithAnyButton) {
    TForm1 form;
    SelectTests(form, {false, false, false, false, false});
    struct Button {
        TImage* button;
        TImage* down;
        TImage* up;
    } buttons[] = {
        {form.Image3, form.Image7, form.Image8},
        {form.Image4, form.Image9, form.Image10},
        {form.Image5, form.Image11, form.Image12},
        {form.Image6, form.Image13, form.Image14},
    };
    for (const Button& b : buttons) {
        EXPECT_FALSE(SamePicture(b.down, b.up)); // the two looks differ
        for (Qt::MouseButton mouse : {Qt::RightButton, Qt::MiddleButton}) {
            SendMouse(b.button, QEvent::MouseButtonPress, mouse, mouse, {3, 3});
            EXPECT_TRUE(SamePicture(b.button, b.down));
            SendMouse(b.button, QEvent::MouseButtonRelease, mouse, Qt::NoButton, {3, 3});
            EXPECT_TRUE(SamePicture(b.button, b.up));
        }
    }
}

TEST(MainWindow, DraggingTheBackgroundMovesTheWindowWithTheLeftButtonOnly) {
    TForm1 form;
    form.move(100, 100);
    struct Step {
        QEvent::Type type;
        Qt::MouseButton button;
        Qt::MouseButtons held;
        QPoint at;
        QPoint windowAfter;
        QPoint dragOrigin;
    } steps[] = {
        {QEvent::MouseButtonPress,
         Qt::RightButton,
         Qt::RightButton,
         {40, 30},
         {100, 100},
         {40, 30}},
        {QEvent::MouseMove, Qt::NoButton, Qt::RightButton, {50, 50}, {100, 100}, {40, 30}},
        {QEvent::MouseMove, Qt::NoButton, Qt::NoButton, {60, 60}, {100, 100}, {40, 30}},
        {QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, {10, 20}, {100, 100}, {10, 20}},
        {QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, {15, 28}, {105, 108}, {10, 20}},
        {QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, {7, 20}, {102, 108}, {10, 20}},
    };
    for (const Step& s : steps) {
        SendMouse(form.Image15, s.type, s.button, s.held, s.at);
        EXPECT_EQ(form.pos(), s.windowAfter) << s.at.x() << "," << s.at.y();
        EXPECT_EQ(QPoint(form.DragX, form.DragY), s.dragOrigin);
    }
}

TEST(MainWindow, OptionBoxesFollowTheirTests) {
    TForm1 form;
    form.set_cb1->setChecked(false);
    form.cb4->setChecked(false);
    EXPECT_FALSE(form.set_cb1->isEnabled());
    EXPECT_FALSE(form.set_cb1->isChecked());
    form.cb4->setChecked(true);
    EXPECT_TRUE(form.set_cb1->isEnabled());
    EXPECT_FALSE(form.set_cb1->isChecked()); // the HAL option itself is unchanged

    form.cb5->setChecked(false);
    EXPECT_FALSE(form.Edit2->isEnabled());
    EXPECT_FALSE(form.Label1->isEnabled());
    form.cb5->setChecked(true);
    EXPECT_TRUE(form.Edit2->isEnabled());
    EXPECT_TRUE(form.Label1->isEnabled());
}

// A user's double-click on the start picture, through the window: one run, not two.
TEST(MainWindow, ADoubleClickOnTheStartPictureRunsOnce) {
    TForm1 form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    SelectTests(form, {true, false, false, false, false});
    int runs = 0;
    form.TestProgress = [&runs](TBenchTest, bool ended) { runs += ended ? 0 : 1; };
    ScriptedClock clock([](std::uint64_t read) { return static_cast<DWORD>(read * 10000); });
    QTest::mouseDClick(form.windowHandle(), Qt::LeftButton, {}, form.Image6->geometry().center());
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(SamePicture(form.Image6, form.Image14)); // released look again
    form.TestProgress = nullptr;
    form.hide();
}
