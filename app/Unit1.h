#pragma once
// The main window: system information, the five test scores and the overall rating, the
// options, the picture buttons, and the start command that runs the benchmark.
#include "cpu/PentiumMMX.h"
#include "forms/Forms.h"
#include "gfxbench/BenchHost.h"
#include "platform/IniFiles.h"
#include "platform/WinTypes.h"
#include "ui_Unit1.h"

#include <QByteArray>
#include <QStatusBar>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The tests of a run, in run order.
enum class TBenchTest { Cpu, Gdi, DirectDraw, Direct3D, Disk };
inline constexpr std::size_t kBenchTestCount = 5;

class TForm1 : public TForm, public Ui::TForm1, public BenchHost {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);

    // One test of the start command: the box that chooses it, the panel its score goes to and
    // the step that runs it.
    struct TestRow {
        TBenchTest test;
        QCheckBox* box;
        QLabel* panel;
        void (TForm1::*run)();
    };
    // The five tests in run order.
    std::array<TestRow, kBenchTestCount> Tests() const;

    // The start command: the selected tests in order, then the overall rating.
    void Button5Click();
    // Before the start command from the window: where the machine runs on battery, with a
    // powersave governor or under load, or where the test scene's pictures do not all load
    // for a ticked DirectDraw or Direct3D test, a warning box asks whether to go on (OK) or not.
    bool ConfirmRunConditions();
    // Told as each test of the start command starts (ended false) and after it ended.
    std::function<void(TBenchTest test, bool ended)> TestProgress;
    // The CPU arithmetic test: ten seconds of the fixed mix, the score into Panel1.
    void Intproc();
    // Panel20 := (Panel1 + ... + Panel5) div 5, raising EConvertError on a caption that is
    // not an integer (Panel20 then keeps its value).
    void ComputeOverallRating();

    // The disk access test: ten seconds of short lines written to a file on the chosen drive,
    // the score into Panel5.
    void HddaccProc();
    void Edit2Change();
    void Edit2Click();
    // Shows the free space of a drive path such as "C:\" in Label3 as "<megabytes>Mbyte";
    // leaves Label3 as it is when the drive cannot be queried.
    void ShowFreeSpace(const QString& drivePath);
    static QString FreeSpaceCaption(DWORD sectorsPerCluster, DWORD bytesPerSector,
                                    DWORD freeClusters);

    // The result file "result.txt" in the current directory, then opened with the shell.
    void Button1Click();
    void makeRes();
    // The result file's nineteen lines, as makeRes writes them (UTF-8).
    QStringList ResultLines() const;
    // The comparison report: the current values beside every stored result in Report/.
    void Button2Click();
    // Writes the labels and current values, then one column per "*.txt" entry of the folder
    // (ending with a separator), in the order the file system lists them.
    void FillReport(const QString& directory);
    // fileName holds the directory entry's own bytes, whatever their encoding.
    void readres(const QString& directory, const QByteArray& fileName, int column);
    // The bytes of a line after its first colon.
    static std::string GetRes(const std::string& line);
    // The ranking page "intsc.htm", opened in the browser.
    void Button3Click();

    void Image19Click(); // about box
    void Image18Click(); // help page
    void Help1Click();
    void Image2Click(); // home page
    void Exit1Click();
    void Button6Click();

    void cb4Click();
    void cb5Click();
    // The Direct3D test may use the hardware device exactly when set_cb1 is checked.
    void set_cb1Click();
    // Any button sets the drag origin; the left one starts the platform's window move where
    // there is one.
    void Image15MouseDown(Qt::MouseButton button, int x, int y);
    void Image15MouseMove(Qt::MouseButtons buttons, int x, int y);

    // Which test the DirectDraw/Direct3D window runs next: kTestModeDirectDraw or
    // kTestModeDirect3D.
    std::int32_t TestMode = kTestModeDirectDraw;
    // The user has clicked or edited the drive box.
    bool DriveChosen = false;
    std::int32_t DragX = 0;
    std::int32_t DragY = 0;
    // The platform moves the window for the drag that began with the last press.
    bool SystemMove = false;

    // Along the bottom: the program's version and build type.
    QStatusBar* StatusBar1 = nullptr;

    TPentiumMMX PentiumMMX1;
    // The system settings file reader, kept from the probe until the program ends.
    std::unique_ptr<TIniFile> SysIni;
    // The clock estimate's samples; the reference samples stay zero, so the estimate is
    // measured from processor reset and system start.
    TCounterSample StampNow, StampRef;
    DWORD TickNow = 0, TickRef = 0;

    // What the test windows see of this window.
    QLabel& GdiScorePanel() override { return *Panel2; }
    QLabel& DirectDrawScorePanel() override { return *Panel3; }
    QLabel& Direct3DScorePanel() override { return *Panel4; }
    TImage& SpritePicture() override { return *im_mine1; }
    TImage& SpriteMask() override { return *im_mine2; }
    std::int32_t SceneTestMode() const override { return TestMode; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    // The system-information probe: memory first, the rest after the test mode is set.
    void ProbeMemory();
    void ProbeSystem();
    void ConnectEdit2Click();
    // Tab order, the picture buttons' keyboard, Return on the check boxes.
    void SetUpKeyboard();
    void RunTestStep(const TestRow& row);
    // The start command's steps of the three graphics tests, each showing its test window.
    void RunGdiTest();
    void RunDirectDrawTest();
    void RunDirect3DTest();
    // The DirectDraw/Direct3D window's test in the given mode.
    void RunSceneTest(std::int32_t mode);
    // A picture button's look changes at once on press and release.
    void ConnectPressEffect(TImage* button, TImage* pressedLook, TImage* releasedLook);
};

// The maker's home page.
inline constexpr const char* kHomePageAddress = "http://www.orvane.example/";

// The help page, shipped with the program.
inline constexpr const char* kHelpPageName = "readme.htm";

// Opens a file (a relative name in `directory`, or in the current folder when that is empty)
// or an address with the desktop, as the shell open does. When the desktop cannot open it (no
// opener, no such file, or the opener failing soon after it started, told later from the event
// loop) a warning box names the file's full path or the address.
void OpenWithDesktop(QWidget* owner, const QString& file, const QString& directory = {});

// The program's folder for what it writes and keeps (the user's data folder), with its
// trailing separator.
QString ProgramDirectory();

// The one main window while the program runs.
extern TForm1* Form1;
