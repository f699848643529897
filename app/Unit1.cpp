#include "Unit1.h"

#include "CpuArithmetic.h"
#include "RunConditions.h"
#include "Version.h"
#include "forms/Application.h"
#include "forms/Dialogs.h"
#include "gfxbench/Unit2.h"
#include "gfxbench/Unit3.h"
#include "platform/MMSystem.h"
#include "platform/SysUtils.h"

#include <QBitmap>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QWindow>

TForm1* Form1 = nullptr;

namespace {

// The window's visible shape: a rounded rectangle from (0, 0) to (width, height) with
// corner ellipses 50 pixels wide and high.
QBitmap RoundRectRegion(int width, int height) {
    QBitmap mask(width, height);
    mask.fill(Qt::color0);
    QPainter p(&mask);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::color1);
    p.drawRoundedRect(QRect(0, 0, width, height), 25, 25);
    return mask;
}

// A test window shows its pictures with no pointer over them. One that covers the screen asks
// the window system for full screen, as a compositor that places windows itself ignores a
// program's geometry; it gets the screen's size too where no window system decides (and as the
// place it returns to).
void ShowTestWindow(TForm& form, bool coverScreen) {
    if (coverScreen) {
        form.SetBounds(0, 0, ScreenWidth(), ScreenHeight());
        form.setWindowState(form.windowState() | Qt::WindowFullScreen);
    }
    form.setCursor(Qt::BlankCursor);
    form.ShowModal();
    form.unsetCursor();
    if (coverScreen)
        form.setWindowState(form.windowState() & ~Qt::WindowFullScreen);
}

} // namespace

TForm1::TForm1(QWidget* parent) : TForm(parent) {
    Form1 = this;
    setupUi(this);
    EditHex2->Loaded();
    setWindowFlag(Qt::FramelessWindowHint);
    // The skin's size: a tiling compositor floats a window of fixed size instead of stretching
    // it over the spare pictures beside the skin.
    setFixedSize(size());
    // Wayland has no window shapes: the corners outside the mask are left transparent.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        setAttribute(Qt::WA_TranslucentBackground);
    move((ScreenWidth() - width()) / 2, (ScreenHeight() - height()) / 2);
    FormCreate();
}

void TForm1::FormCreate() {
    setMask(RoundRectRegion(width(), height()));
    update();
    ProbeMemory();
    TestMode = kTestModeDirectDraw;
    DriveChosen = false;
    ProbeSystem();

    ConnectPressEffect(Image3, Image7, Image8);
    ConnectPressEffect(Image4, Image9, Image10);
    ConnectPressEffect(Image5, Image11, Image12);
    ConnectPressEffect(Image6, Image13, Image14);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    // Under the picture buttons, on the skin's dark bottom, clear of the rounded corners.
    StatusBar1->setGeometry(230, 419, 335, 19);
    StatusBar1->setStyleSheet("QStatusBar { background: transparent; color: #c8d0e0; }"
                              "QStatusBar::item { border: none; }");
    auto* version = new QLabel(QString("Ver %1  %2").arg(ProgramVersion(), BuildType()));
    version->setObjectName("StatusVersion");
    version->setStyleSheet("color: #c8d0e0;");
    StatusBar1->addPermanentWidget(version);

    auto command = [](auto handler) { return [handler] { Application->RunCommand(handler); }; };
    const auto start = [this] {
        if (ConfirmRunConditions())
            Button5Click();
    };
    connect(Image6, &TImage::Click, this, command(start));
    connect(Button5, &QPushButton::clicked, this, command(start));
    connect(Image5, &TImage::Click, this, command([this] { Button1Click(); }));
    connect(Button1, &QPushButton::clicked, this, command([this] { Button1Click(); }));
    connect(Image4, &TImage::Click, this, command([this] { Button2Click(); }));
    connect(Button2, &QPushButton::clicked, this, command([this] { Button2Click(); }));
    connect(Image3, &TImage::Click, this, command([this] { Button3Click(); }));
    connect(Button3, &QPushButton::clicked, this, command([this] { Button3Click(); }));
    connect(Image19, &TImage::Click, this, command([this] { Image19Click(); }));
    connect(Image18, &TImage::Click, this, command([this] { Image18Click(); }));
    connect(Image2, &TImage::Click, this, command([this] { Image2Click(); }));
    connect(Edit2, &QLineEdit::textChanged, this, [this] { Edit2Change(); });
    ConnectEdit2Click();
    connect(cb4, &QCheckBox::toggled, this, [this] { cb4Click(); });
    connect(cb5, &QCheckBox::toggled, this, [this] { cb5Click(); });
    connect(set_cb1, &QCheckBox::clicked, this, [this] { set_cb1Click(); });
    connect(Image15, &TImage::MouseDown, this,
            [this](Qt::MouseButton button, int x, int y) { Image15MouseDown(button, x, y); });
    connect(Image15, &TImage::MouseMove, this, &TForm1::Image15MouseMove);
    connect(Image16, &TImage::Click, this, [] { Application->Minimize(); });
    connect(Image17, &TImage::Click, this, [this] { close(); });
    SetUpKeyboard();
}

void TForm1::SetUpKeyboard() {
    // Tab goes through the tests, the options, the four command buttons from top to bottom
    // (the start button last of them, as on the skin), then the small buttons of the top bar from
    // left to right. The hidden text buttons and the read-only clock box are left out.
    for (QWidget* hidden : {static_cast<QWidget*>(Button5), static_cast<QWidget*>(Button1),
                            static_cast<QWidget*>(Button2), static_cast<QWidget*>(Button3)})
        hidden->setFocusPolicy(Qt::NoFocus);
    EditHex2->setFocusPolicy(Qt::ClickFocus);
    for (TImage* button :
         {Image3, Image5, Image4, Image6, Image2, Image18, Image19, Image16, Image17})
        button->SetKeyboardButton(true);
    // The tests' boxes in run order, the HAL option, the drive, then the picture buttons.
    QList<QCheckBox*> boxes;
    for (const TestRow& row : Tests())
        boxes << row.box;
    boxes << set_cb1;
    QList<QWidget*> order(boxes.begin(), boxes.end());
    order << Edit2 << Image3 << Image5 << Image4 << Image6 << Image2 << Image18 << Image19
          << Image16 << Image17;
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    // The start button has the focus when the window opens: Return starts the benchmark.
    Image6->setFocus();
    // Return ticks a check box as Space does: this window has no default button to press.
    for (QCheckBox* box : boxes)
        box->installEventFilter(this);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* box = qobject_cast<QCheckBox*>(watched);
        const auto* key = static_cast<QKeyEvent*>(event);
        if (box != nullptr && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            if (!key->isAutoRepeat() && box->isEnabled())
                box->click();
            return true;
        }
    }
    return TForm::eventFilter(watched, event);
}

void TForm1::ConnectPressEffect(TImage* button, TImage* pressedLook, TImage* releasedLook) {
    connect(button, &TImage::MouseDown, this, [button, pressedLook] {
        button->AssignPicture(*pressedLook);
        Application->ProcessMessages();
    });
    connect(button, &TImage::MouseUp, this, [button, releasedLook] {
        button->AssignPicture(*releasedLook);
        Application->ProcessMessages();
    });
}

std::array<TForm1::TestRow, kBenchTestCount> TForm1::Tests() const {
    return {{{TBenchTest::Cpu, cb1, Panel1, &TForm1::Intproc},
             {TBenchTest::Gdi, cb2, Panel2, &TForm1::RunGdiTest},
             {TBenchTest::DirectDraw, cb3, Panel3, &TForm1::RunDirectDrawTest},
             {TBenchTest::Direct3D, cb4, Panel4, &TForm1::RunDirect3DTest},
             {TBenchTest::Disk, cb5, Panel5, &TForm1::HddaccProc}}};
}

void TForm1::RunTestStep(const TestRow& row) {
    if (TestProgress)
        TestProgress(row.test, false);
    (this->*row.run)();
    if (TestProgress)
        TestProgress(row.test, true);
}

void TForm1::Button5Click() {
    for (const TestRow& row : Tests())
        if (row.box->isChecked())
            RunTestStep(row);
    ComputeOverallRating();
}

void TForm1::RunGdiTest() {
    // The GDI test covers the screen and writes Panel2 before it closes itself.
    Form2->Timer->start();
    ShowTestWindow(*Form2, true);
}

void TForm1::RunDirectDrawTest() {
    RunSceneTest(kTestModeDirectDraw);
}

void TForm1::RunDirect3DTest() {
    RunSceneTest(kTestModeDirect3D);
}

void TForm1::RunSceneTest(std::int32_t mode) {
    // The DirectDraw scene goes full screen itself, the window keeping its size; the Direct3D
    // scene's 400 x 400 picture is stretched over the window, so that covers the screen.
    const bool direct3D = mode == kTestModeDirect3D;
    TestMode = mode;
    Form3->SetUpForTestMode(this);
    Form3->Timer->start();
    ShowTestWindow(*Form3, direct3D);
}

bool TForm1::ConfirmRunConditions() {
    const MachineState machine = ReadMachineState();
    QStringList more;
    const QString scene =
        SceneWarningBoxLine(CheckSceneArchive(), cb3->isChecked(), cb4->isChecked());
    if (!scene.isEmpty())
        more << scene;
    const QString text = WarningBoxText(RunWarnings(machine), machine, more);
    return text.isEmpty() || ConfirmWarning(text);
}

void TForm1::Intproc() {
    Panel1->setText("測定中");
    Application->ProcessMessages();
    const DWORD start = timeGetTime();
    std::int32_t iterations = 0;
    while (ElapsedMs(timeGetTime(), start) < 10000) {
        CpuArithmeticIteration();
        ++iterations;
    }
    Panel1->setText(QString::fromStdString(IntToStr(iterations / 10)));
}

void TForm1::ComputeOverallRating() {
    // Summed in 64 bits: five large scores must not wrap into a negative rating.
    std::int64_t sum = 0;
    for (const TestRow& row : Tests())
        sum += StrToInt(row.panel->text().toStdString());
    Panel20->setText(QString::fromStdString(IntToStr(static_cast<std::int32_t>(sum / 5))));
}

void TForm1::cb4Click() {
    set_cb1->setEnabled(cb4->isChecked());
}

void TForm1::set_cb1Click() {
    Form3->DDDD1->D3DOptions =
        set_cb1->isChecked() ? TD3DOptions{DontUseMMX} : TD3DOptions{DontUseHAL | DontUseMMX};
}

void TForm1::cb5Click() {
    Edit2->setEnabled(cb5->isChecked());
    Label1->setEnabled(cb5->isChecked());
}

void TForm1::Image15MouseDown(Qt::MouseButton button, int x, int y) {
    DragX = x;
    DragY = y;
    // Wayland ignores a window's own moves: there the drag is handed to the compositor. On
    // X11 the moves below follow the mouse, which every window manager honours (a handed-over
    // move is not followed by all of them).
    SystemMove = button == Qt::LeftButton &&
                 QGuiApplication::platformName().startsWith("wayland") &&
                 windowHandle() != nullptr && windowHandle()->startSystemMove();
}

void TForm1::Image15MouseMove(Qt::MouseButtons buttons, int x, int y) {
    if (!(buttons & Qt::LeftButton) || SystemMove)
        return;
    SetLeft(this->x() + x - DragX);
    SetTop(this->y() + y - DragY);
}

void TForm1::closeEvent(QCloseEvent* event) {
    TForm::closeEvent(event);
    // Closing the main window ends the program.
    if (event->isAccepted())
        QCoreApplication::quit();
}
