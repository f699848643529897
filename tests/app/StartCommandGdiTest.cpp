#include "app/Unit1.h"
#include "gfxbench/Unit2.h"
#include "platform/MMSystem.h"
#include "tests/gfxbench/GdiRunScript.h"

#include <gtest/gtest.h>
#include <vector>

TEST(StartCommand, GdiStepStretchesTheTestOverTheScreenAndWritesPanel2) {
    struct Case {
        bool gdiTicked;
        const char* panel2;
        const char* panel20;
    } cases[] = {
        {true, "100", "20"},
        {false, "7", "1"}, // the panel keeps its earlier score; no window, no clock
    };
    for (const Case& c : cases) {
        TForm1 main;
        TForm2 gdi(main);
        for (QCheckBox* box : {main.cb1, main.cb3, main.cb4, main.cb5})
            box->setChecked(false);
        main.cb2->setChecked(c.gdiTicked);
        main.Panel2->setText("7");
        gdi.Timer->setInterval(0); // the second's wait is not what is tested
        QRect shownAt;
        bool fullScreen = false;
        Qt::CursorShape pointer = Qt::ArrowCursor;
        gdi.StageHook = [&](TGdiStage) {
            shownAt = gdi.geometry();
            fullScreen = gdi.isFullScreen();
            pointer = gdi.cursor().shape();
        };

        // One shape per phase and one frame: a draw count of 1003.
        ScriptedGdiRun run({.lines = 1, .rectangles = 1, .ellipses = 1, .frames = 1});
        main.Button5Click();

        EXPECT_EQ(main.Panel2->text(), c.panel2);
        EXPECT_EQ(main.Panel20->text(), c.panel20);
        EXPECT_FALSE(gdi.isVisible());
        EXPECT_FALSE(gdi.Timer->isActive());
        if (c.gdiTicked) {
            // Full screen as the window system gives it, no pointer over the picture.
            EXPECT_EQ(shownAt, QRect(0, 0, ScreenWidth(), ScreenHeight()));
            EXPECT_TRUE(fullScreen);
            EXPECT_EQ(pointer, Qt::BlankCursor);
            EXPECT_FALSE(gdi.isFullScreen());
            EXPECT_EQ(gdi.cursor().shape(), Qt::ArrowCursor);
            EXPECT_EQ(run.clock.Reads(), run.readings.size());
        } else {
            EXPECT_EQ(run.clock.Reads(), 0u);
        }
    }
}
