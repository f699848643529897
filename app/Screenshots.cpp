#include "Screenshots.h"

#include "Unit1.h"
#include "Unit4.h"
#include "Unit5.h"
#include "forms/Application.h"
#include "gfxbench/Unit2.h"
#include "gfxbench/Unit3.h"
#include "platform/MMSystem.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <QWidget>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

QImage GrabWindow(QWidget& window) {
    window.ensurePolished();
    QImage image = window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QRegion region = window.mask();
    if (!region.isEmpty()) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (!region.contains(QPoint(x, y)))
                    image.setPixel(x, y, qRgba(0, 0, 0, 0));
    }
    return image;
}

namespace {

// The score panels: the tests' in run order, then the overall rating's.
std::vector<QLabel*> ScorePanels() {
    std::vector<QLabel*> panels;
    for (const TForm1::TestRow& row : Form1->Tests())
        panels.push_back(row.panel);
    panels.push_back(Form1->Panel20);
    return panels;
}

// The main window's test boxes, score panels, processor and clock texts and test mode as they
// are now, put back as they were when this ends.
class KeptMainWindow {
public:
    KeptMainWindow() : clock_(Form1->EditHex2->text()), mode_(Form1->TestMode) {
        for (const TForm1::TestRow& row : Form1->Tests())
            boxes_.emplace_back(row.box, row.box->isChecked());
        for (QLabel* label : ScorePanels())
            labels_.emplace_back(label, label->text());
        labels_.emplace_back(Form1->Panel22, Form1->Panel22->text());
    }
    ~KeptMainWindow() {
        for (const auto& [box, checked] : boxes_)
            box->setChecked(checked);
        for (const auto& [label, text] : labels_)
            label->setText(text);
        Form1->EditHex2->setText(clock_);
        Form1->TestMode = mode_;
    }
    KeptMainWindow(const KeptMainWindow&) = delete;
    KeptMainWindow& operator=(const KeptMainWindow&) = delete;

private:
    std::vector<std::pair<QCheckBox*, bool>> boxes_;
    std::vector<std::pair<QLabel*, QString>> labels_;
    QString clock_;
    std::int32_t mode_;
};

// The GDI test window in its sprite phase. The test runs on a scripted clock that moves 100 ms
// a reading, so each phase ends after a few dozen shapes or frames; the window is grabbed once
// the sprites have spread over it. The main window's score panel is left as it was.
QImage GrabSpritePhase() {
    constexpr int kFramesBeforeGrab = 90;
    TForm2& form = *Form2;
    const KeptMainWindow kept;
    form.SetWidth(ScreenWidth());
    form.SetHeight(ScreenHeight());
    form.SetLeft(0);
    form.SetTop(0);
    form.show();
    QImage shot;
    int frames = 0;
    form.StageHook = [&](TGdiStage stage) {
        if (stage == TGdiStage::FrameShown && ++frames == kFramesBeforeGrab)
            shot = GrabWindow(form);
    };
    {
        DWORD now = 0;
        ScriptedClock clock([&now](std::uint64_t) { return now += 100; });
        form.DrawProc();
    }
    form.StageHook = nullptr;
    form.hide();
    return shot;
}

// The DirectDraw/Direct3D window during both tests, run by the start command with only their
// boxes ticked, on a scripted clock that moves 20 ms a reading: the DirectDraw picture once the
// layers and sprites have moved for a while, then one picture in the middle of each Direct3D
// phase. The main window is left as it was.
std::vector<std::pair<QString, QImage>> GrabScenePhases() {
    constexpr int kFramesBeforeGrab = 40;
    TForm3& form = *Form3;
    const KeptMainWindow kept;

    std::vector<std::pair<QString, QImage>> shots;
    int frames = 0, lastPhase = -1;
    form.FrameHook = [&](int phase) {
        frames = phase == lastPhase ? frames + 1 : 1;
        lastPhase = phase;
        if (frames == kFramesBeforeGrab) {
            const QString name = phase == 0 ? QString("TForm3-DirectDraw")
                                            : QString("TForm3-Direct3D-%1").arg(phase);
            shots.emplace_back(name, GrabWindow(form));
        }
    };
    for (const TForm1::TestRow& row : Form1->Tests())
        row.box->setChecked(row.test == TBenchTest::DirectDraw || row.test == TBenchTest::Direct3D);
    {
        DWORD now = 0;
        ScriptedClock clock([&now](std::uint64_t) { return now += 20; });
        Application->RunCommand([] { Form1->Button5Click(); });
    }
    form.FrameHook = nullptr;
    return shots;
}

// Fills the report window with two stored results, written by the result-file command itself
// from sample scores; the main window and the current directory are left as they were.
bool FillReportWithTwoStoredFiles(const QString& folder) {
    struct Sample {
        const char* file;
        const char* cpu;
        const char* clock;
        const char* scores[6];
    } samples[] = {
        {"PentiumII-450.txt",
         "GenuineIntel",
         "451.0342MHz",
         {"1520", "830", "912", "655", "204", "824"}},
        {"K6-2-300.txt",
         "AuthenticAMD",
         "300.6120MHz",
         {"1010", "602", "540", "488", "131", "554"}},
    };
    const std::vector<QLabel*> panels = ScorePanels();
    const QString cwd = QDir::currentPath();
    bool ok = true;
    {
        const KeptMainWindow kept;
        ok = QDir::setCurrent(folder);
        for (const Sample& sample : samples) {
            for (std::size_t i = 0; ok && i < panels.size(); ++i)
                panels[i]->setText(sample.scores[i]);
            Form1->Panel22->setText(sample.cpu);
            Form1->EditHex2->setText(sample.clock);
            ok = ok && Application->RunCommand([] { Form1->makeRes(); }) &&
                 QFile::rename("result.txt", sample.file);
        }
    }
    QDir::setCurrent(cwd);
    return ok && Application->RunCommand([&folder] { Form1->FillReport(folder + "/"); });
}

} // namespace

bool SaveScreenshots(const QString& folder) {
    QDir().mkpath(folder);
    QTemporaryDir stored;
    if (!FillReportWithTwoStoredFiles(stored.path())) {
        std::fprintf(stderr, "zelka: cannot fill the report window\n");
        return false;
    }
    Form4->FormPaint();
    struct Shot {
        const char* name;
        std::function<QImage()> grab;
    } shots[] = {
        {"TForm1", [] { return GrabWindow(*Form1); }},
        {"TForm2", GrabSpritePhase},
        {"TForm4", [] { return GrabWindow(*Form4); }},
        {"TForm5", [] { return GrabWindow(*Form5); }},
    };
    std::vector<std::pair<QString, QImage>> images;
    for (const Shot& shot : shots)
        images.emplace_back(shot.name, shot.grab());
    for (auto& scene : GrabScenePhases())
        images.push_back(std::move(scene));
    bool ok = true;
    for (const auto& [name, image] : images) {
        const QString path = QDir(folder).filePath(name + ".png");
        if (!image.save(path)) {
            std::fprintf(stderr, "zelka: cannot write %s\n", qPrintable(path));
            ok = false;
            break;
        }
        std::printf("%s\n", qPrintable(path));
    }
    Form4->FormClose();
    return ok;
}
