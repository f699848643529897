#include "gfxbench/Unit2.h"
#include "platform/MMSystem.h"
#include "platform/Random.h"
#include "tests/gfxbench/GdiRunScript.h"

#include <QLabel>
#include <gtest/gtest.h>
#include <set>
#include <vector>

namespace {

// The main window as the GDI test sees it: a score panel and two 100 × 100 pictures, by
// default an opaque red square.
class FakeHost : public BenchHost {
public:
    FakeHost(TColor maskColour = clBlack, TColor spriteColour = clRed) {
        QPixmap mask(100, 100), sprite(100, 100);
        mask.fill(QColor(GetRValue(maskColour), GetGValue(maskColour), GetBValue(maskColour)));
        sprite.fill(
            QColor(GetRValue(spriteColour), GetGValue(spriteColour), GetBValue(spriteColour)));
        maskImage.SetPicture(mask);
        spriteImage.SetPicture(sprite);
    }
    QLabel& GdiScorePanel() override { return panel; }
    QLabel& DirectDrawScorePanel() override { return otherPanel; }
    QLabel& Direct3DScorePanel() override { return otherPanel; }
    TImage& SpritePicture() override { return spriteImage; }
    TImage& SpriteMask() override { return maskImage; }
    std::int32_t SceneTestMode() const override { return 1; }

    QLabel panel{"0"};
    QLabel otherPanel{"0"};
    TImage spriteImage;
    TImage maskImage;
};

std::unique_ptr<TForm2> ShownForm(BenchHost& host, int width, int height) {
    auto form = std::make_unique<TForm2>(host);
    form->resize(width, height);
    form->show();
    return form;
}

} // namespace

TEST(GdiTest, CountsEachPhaseAndWritesTheTruncatedScore) {
    struct Case {
        GdiPlan plan;
        const char* score;
    } cases[] = {
        {{.lines = 3, .rectangles = 2, .ellipses = 1, .frames = 2}, "200"},
        {{.lines = 0, .rectangles = 0, .ellipses = 0, .frames = 0}, "0"},
        {{.lines = 5, .rectangles = 0, .ellipses = 0, .frames = 12}, "1200"}, // 12005 div 10
        {{.lines = 16, .rectangles = 17, .ellipses = 18, .frames = 1}, "105"},
        // The clock wraps during the run.
        {{.lines = 4, .rectangles = 4, .ellipses = 2, .frames = 3, .base = 0xFFFFE000u}, "301"},
    };
    for (const Case& c : cases) {
        FakeHost host;
        auto form = ShownForm(host, 160, 120);
        ScriptedGdiRun run(c.plan);
        form->DrawProc();
        EXPECT_EQ(form->LastRun(),
                  (TGdiRunCounts{c.plan.lines, c.plan.rectangles, c.plan.ellipses, c.plan.frames}))
            << c.score;
        EXPECT_EQ(host.panel.text().toStdString(), c.score);
        // Every reading was used, none more: a phase stops exactly at its limit.
        EXPECT_EQ(run.clock.Reads(), run.readings.size()) << c.score;
        EXPECT_FALSE(form->Panel1->isVisible());
    }
}

TEST(GdiTest, ShapesCycleTheColoursFromTheStartOfEachPhaseAndEllipsesKeepTheLinePen) {
    constexpr int w = 640, h = 480, lines = 20, rectangles = 3, ellipses = 2;
    FakeHost host;
    auto form = ShownForm(host, w, h);
    std::vector<QImage> afterPhase;
    form->StageHook = [&](TGdiStage stage) {
        if (stage != TGdiStage::FrameShown)
            afterPhase.push_back(form->Canvas().Image().copy());
    };
    const GdiPlan plan{.lines = lines, .rectangles = rectangles, .ellipses = ellipses, .seed1 = 4};
    {
        ScriptedGdiRun run(plan);
        form->DrawProc();
    }
    ASSERT_EQ(afterPhase.size(), 3u);
    auto at = [&](std::size_t phase, int x, int y) {
        const QRgb p = afterPhase[phase].pixel(x, y);
        return RGB(BYTE(qRed(p)), BYTE(qGreen(p)), BYTE(qBlue(p)));
    };

    // The same generator sequence the run used.
    RandSeed = plan.seed1;
    std::vector<int> lineRows;
    for (int i = 0; i < lines; ++i)
        lineRows.push_back(Random(h));
    for (int i = 0; i < lines; ++i) {
        bool overdrawn = false;
        for (int j = i + 1; j < lines; ++j)
            overdrawn |= lineRows[j] == lineRows[i];
        if (overdrawn)
            continue;
        EXPECT_EQ(at(0, 0, lineRows[i]), kColorCycle[i % 16]) << "line " << i;
        EXPECT_EQ(at(0, w - 1, lineRows[i]), kColorCycle[i % 16]) << "line " << i;
    }
    const std::set<int> drawn(lineRows.begin(), lineRows.end());
    for (int y = 0; y < h; ++y)
        if (!drawn.count(y)) {
            EXPECT_EQ(at(0, w / 2, y), clBlack) << "row " << y;
            break;
        }

    struct Box {
        int x, y;
    };
    std::vector<Box> boxes;
    for (int i = 0; i < rectangles + ellipses; ++i) {
        const int x = Random(w);
        boxes.push_back({x, Random(h)});
    }
    // The last rectangle: its corner has the brush colour (no outline), counted from 0 again.
    const Box last = boxes[rectangles - 1];
    EXPECT_EQ(at(1, last.x, last.y), kColorCycle[rectangles - 1]);
    EXPECT_EQ(at(1, std::min(last.x + 99, w - 1), std::min(last.y + 99, h - 1)),
              kColorCycle[rectangles - 1]);
    // The lines were cleared away: a line's row is black where no rectangle covers it.
    auto covered = [&](int x, int y) {
        for (int i = 0; i < rectangles; ++i)
            if (x >= boxes[i].x && x < boxes[i].x + 100 && y >= boxes[i].y && y < boxes[i].y + 100)
                return true;
        return false;
    };
    int clearedChecked = 0;
    for (int y : lineRows)
        for (int x : {0, w / 2, w - 1})
            if (!covered(x, y)) {
                EXPECT_EQ(at(1, x, y), clBlack) << x << ", " << y;
                ++clearedChecked;
            }
    EXPECT_GT(clearedChecked, 0);

    const Box ellipse = boxes[rectangles + ellipses - 1];
    ASSERT_LT(ellipse.x + 50, w);
    ASSERT_LT(ellipse.y + 50, h);
    EXPECT_EQ(at(2, ellipse.x + 50, ellipse.y + 50), kColorCycle[ellipses - 1]);
    EXPECT_EQ(at(2, ellipse.x + 50, ellipse.y), kColorCycle[(lines - 1) % 16]);
    EXPECT_EQ(at(2, ellipse.x, ellipse.y), clBlack); // outside the ellipse
    EXPECT_EQ(form->Canvas().Pen.Color, kColorCycle[(lines - 1) % 16]);
}

TEST(GdiTest, SpriteFramesDrawTheBandsThenTheMaskedSpritesWhereTheyMoved) {
    constexpr int w = 320, h = 200;
    FakeHost host; // opaque red 100 × 100 sprites
    auto form = ShownForm(host, w, h);
    std::vector<QImage> frames;
    bool panelShown = true;
    form->StageHook = [&](TGdiStage stage) {
        if (stage == TGdiStage::FrameShown) {
            frames.push_back(form->Image1->Canvas().Image().copy());
            panelShown &= form->Panel1->isVisible() && form->Image1->size() == QSize(w, h);
        }
    };
    const GdiPlan plan{.frames = 2, .seed2 = 99};
    {
        ScriptedGdiRun run(plan);
        form->DrawProc();
    }
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(panelShown);

    RandSeed = plan.seed2;
    TSpriteTable sprites;
    SetUpSprites(sprites, w, h);
    std::vector<TSpriteTable> drawnAt{sprites};
    for (TSprite& s : sprites)
        MoveSprite(s, w, h);
    drawnAt.push_back(sprites);

    for (std::size_t f = 0; f < frames.size(); ++f) {
        int mismatches = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                TColor expected = BandColor(y / 30);
                for (const TSprite& s : drawnAt[f])
                    // Only the 100 × 100 picture lands; the block's last row and column keep
                    // the background.
                    if (x >= s.x && x < s.x + 100 && y >= s.y && y < s.y + 100)
                        expected = clRed;
                const QRgb p = frames[f].pixel(x, y);
                mismatches += RGB(BYTE(qRed(p)), BYTE(qGreen(p)), BYTE(qBlue(p))) != expected;
            }
        EXPECT_EQ(mismatches, 0) << "frame " << f + 1;
    }
    // Frame 1 has every sprite just off the right edge; frame 2 shows some.
    EXPECT_EQ(frames[0].pixel(w - 1, 0), qRgb(200, 255, 155));
    bool redSeen = false;
    for (int y = 0; y < h; ++y)
        redSeen |= frames[1].pixel(w - 1, y) == qRgb(255, 0, 0);
    EXPECT_TRUE(redSeen);
}

// What the window shows at a stage: the canvas's picture after each shape phase, the image's
// frame (where the image lies, which is all of the window) after each sprite frame.
TEST(GdiTest, TheWindowShowsEachPhaseAndEachSpriteFrameOnceTheDisplayRefreshed) {
    constexpr int w = 200, h = 150;
    FakeHost host;
    auto form = ShownForm(host, w, h);
    const QColor colour = form->palette().color(QPalette::Window);
    EXPECT_EQ(PresentedPicture(form->Handle()).pixelColor(w / 2, h / 2), colour) << "on show";
    int stages = 0, differing = 0;
    form->StageHook = [&](TGdiStage stage) {
        const QImage drawn = (stage == TGdiStage::FrameShown ? form->Image1->Canvas().Image()
                                                             : form->Canvas().Image())
                                 .convertToFormat(QImage::Format_RGB32);
        const QImage shown = PresentedPicture(form->Handle());
        ++stages;
        ASSERT_EQ(shown.size(), drawn.size());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                differing += shown.pixel(x, y) != drawn.pixel(x, y);
    };
    ScriptedGdiRun run({.lines = 9, .rectangles = 5, .ellipses = 4, .frames = 3});
    form->DrawProc();
    EXPECT_EQ(stages, 6);
    EXPECT_EQ(differing, 0);
}

TEST(GdiTest, SpritesStartOffTheRightEdgeWithStepsInRange) {
    std::set<int> dxSeen, dySeen;
    for (DWORD seed : {1u, 2u, 0xDEADBEEFu}) {
        RandSeed = seed;
        TSpriteTable sprites;
        SetUpSprites(sprites, 640, 480);
        RandSeed = seed;
        for (const TSprite& s : sprites) {
            EXPECT_EQ(s.x, 640);
            // Drawn in the order y, dx, dy.
            EXPECT_EQ(s.y, Random(480));
            EXPECT_EQ(s.dx, Random(20) + 1);
            EXPECT_EQ(s.dy, Random(10) - 5);
            dxSeen.insert(s.dx);
            dySeen.insert(s.dy);
        }
    }
    EXPECT_EQ(*dxSeen.begin(), 1);
    EXPECT_EQ(*dxSeen.rbegin(), 20);
    EXPECT_EQ(dxSeen.size(), 20u);
    EXPECT_EQ(*dySeen.begin(), -5);
    EXPECT_EQ(*dySeen.rbegin(), 4);
    EXPECT_EQ(dySeen.size(), 10u);
}

TEST(GdiTest, ASpriteLeftOfMinus56ReentersAtTheRight) {
    struct Case {
        TSprite before;
        bool reenters;
        std::int32_t x, y; // after the move, when it does not re-enter
    } cases[] = {
        {{-46, 100, 10, 3}, false, -56, 97}, {{-46, 100, 11, 3}, true, 0, 0},
        {{-56, 10, 1, -5}, true, 0, 0},      {{640, 0, 20, 4}, false, 620, -4},
        {{0, 50, 20, -5}, false, -20, 55},
    };
    for (const Case& c : cases) {
        RandSeed = 31;
        TSprite s = c.before;
        MoveSprite(s, 640, 480);
        EXPECT_EQ(s.dx, c.before.dx);
        EXPECT_EQ(s.dy, c.before.dy);
        if (!c.reenters) {
            EXPECT_EQ(s.x, c.x) << c.before.x;
            EXPECT_EQ(s.y, c.y) << c.before.x;
            EXPECT_EQ(RandSeed, 31u) << "no random numbers used";
            continue;
        }
        RandSeed = 31;
        EXPECT_EQ(s.x, 640 + Random(50)) << c.before.x;
        EXPECT_EQ(s.y, Random(480)) << c.before.x;
        EXPECT_GE(s.x, 640);
        EXPECT_LT(s.x, 690);
    }
}

TEST(GdiTest, BandsFadeFromGreenishToMagentaAndStayThere) {
    struct Case {
        int band;
        TColor colour;
    } cases[] = {
        {0, RGB(200, 255, 155)}, {1, RGB(200, 240, 155)}, {16, RGB(200, 15, 155)},
        {17, RGB(200, 0, 155)},  {18, RGB(200, 0, 155)},  {40, RGB(200, 0, 155)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BandColor(c.band), c.colour) << c.band;
}

TEST(GdiTest, TheTimerFiresOnceRunsTheTestAndClosesTheWindow) {
    FakeHost host;
    TForm2 form(host);
    EXPECT_FALSE(form.Timer->isActive());
    EXPECT_EQ(form.Timer->interval(), 1000);
    EXPECT_FALSE(form.Panel1->isVisible());
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);

    form.resize(200, 150);
    form.Timer->setInterval(0); // the second's wait is not what is tested
    ScriptedGdiRun run({.lines = 2, .rectangles = 1, .ellipses = 1, .frames = 1});
    form.Timer->start();
    form.ShowModal();
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.Timer->isActive());
    EXPECT_EQ(host.panel.text(), "100"); // (4 + 1000) div 10
    EXPECT_EQ(run.clock.Reads(), run.readings.size()) << "the test ran once";
}
