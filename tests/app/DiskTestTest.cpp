#include "AppTestSupport.h"
#include "app/Unit1.h"
#include "forms/Application.h"
#include "forms/Dialogs.h"
#include "platform/MMSystem.h"
#include "platform/Random.h"
#include "platform/TextFile.h"
#include "tests/QtPrinters.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/statvfs.h>

namespace {

const QString kMissingDrive = "指定されたドライブが存在しません";

QString ProgramDir() {
    return QDir(ProgramDirectory()).absolutePath();
}

// A clock that lets the write phase see `lines` readings below the deadline: reading 0 is the
// start, readings 1..lines pass, every later one is at the deadline.
ScriptedClock::Script LinesClock(std::uint64_t lines, std::function<void(std::uint64_t)> spy = {}) {
    return [lines, spy](std::uint64_t read) -> DWORD {
        if (spy)
            spy(read);
        return read <= lines ? 5 : 10005;
    };
}

QStringList TestFiles(const QString& dir) {
    return QDir(dir).entryList({"test*"}, QDir::Files);
}

std::uint64_t FreeMegabytes(const QString& dir) {
    struct statvfs info {};
    statvfs(dir.toUtf8().constData(), &info);
    return std::uint64_t{info.f_bavail} * info.f_frsize / 1048576;
}

void ClickInto(QWidget* widget) {
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(3, 3), widget->mapToGlobal(QPointF(3, 3)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
}

} // namespace

TEST(DiskTest, ScoreIsLinesDiv50WithOneSystemWritePer128Bytes) {
    struct Case {
        std::uint64_t lines;
        const char* score;
        std::uint64_t writes;
    } cases[] = {
        {0, "0", 0}, {49, "0", 19}, {50, "1", 20}, {149, "2", 58}, {10000, "200", 3829},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        ScopedCurrentDir cwd(dir.path());
        TForm1 form;
        std::int64_t sizeSeen = -1;
        ScriptedClock clock(LinesClock(c.lines, [&](std::uint64_t read) {
            // Just before the last line: every full 128-byte buffer is on disk, no more.
            if (read == c.lines && c.lines > 0) {
                const QStringList files = TestFiles(dir.path());
                sizeSeen = files.size() == 1 ? QFileInfo(dir.filePath(files[0])).size() : -2;
            }
        }));
        const std::uint64_t before = TextFile::SystemWrites();
        form.HddaccProc();
        EXPECT_EQ(form.Panel5->text(), c.score) << c.lines;
        EXPECT_EQ(TextFile::SystemWrites() - before, c.writes) << c.lines;
        if (c.lines > 0) {
            EXPECT_EQ(sizeSeen, static_cast<std::int64_t>(49 * (c.lines - 1) / 128 * 128));
        }
        // Nothing is read back: the read phase starts at the expired deadline.
        EXPECT_EQ(clock.Reads(), c.lines + 3);
        EXPECT_TRUE(TestFiles(dir.path()).isEmpty()) << "the test file is deleted";
        EXPECT_EQ(QDir::currentPath(), ProgramDir());
    }
}

TEST(DiskTest, RunsInTheCurrentDirectoryOrOnTheChosenDrive) {
    QTemporaryDir home, d, start;
    ScopedEnv h("HOME", home.path().toUtf8());
    ScopedEnv dd("ZELKA_DRIVE_D", d.path().toUtf8());
    struct Case {
        const char* typed; // null: the box is left alone
        QString expectedDir;
    } cases[] = {
        {nullptr, start.path()},
        {"C", home.path()},
        {"d", d.path()},
        {"D", d.path()},
    };
    for (const Case& c : cases) {
        ScopedCurrentDir cwd(start.path());
        TForm1 form;
        if (c.typed) {
            ClickInto(form.Edit2);
            form.Edit2->insert(c.typed);
        }
        EXPECT_EQ(form.DriveChosen, c.typed != nullptr);
        QString testFileDir;
        ScriptedClock clock(LinesClock(60, [&](std::uint64_t read) {
            if (read == 30) {
                for (const QString& dir : {start.path(), home.path(), d.path()})
                    if (!TestFiles(dir).isEmpty())
                        testFileDir = dir;
            }
        }));
        form.HddaccProc();
        EXPECT_EQ(testFileDir, c.expectedDir) << (c.typed ? c.typed : "untouched");
        EXPECT_EQ(form.Panel5->text(), "1");
        EXPECT_EQ(QDir::currentPath(), ProgramDir());
    }
}

TEST(DiskTest, AMissingDriveWarnsResetsTheBoxAndTouchesNothing) {
    QTemporaryDir home, start;
    ScopedEnv h("HOME", home.path().toUtf8());
    ScopedEnv q("ZELKA_DRIVE_Q", QByteArray());
    struct Case {
        const char* typed;
        bool click;
    } cases[] = {{"Q", true}, {"q", true}, {"CD", true}, {"", true}, {"Q", false}};
    for (const Case& c : cases) {
        ScopedCurrentDir cwd(start.path());
        TForm1 form;
        form.Panel5->setText("77");
        if (c.click)
            ClickInto(form.Edit2);
        form.Edit2->insert(c.typed); // typing without a click also chooses the drive
        ASSERT_TRUE(form.DriveChosen);
        BoxRecorder boxes;
        ScriptedClock clock({0});
        form.HddaccProc();
        ASSERT_EQ(boxes.boxes.size(), 1u) << c.typed;
        EXPECT_EQ(boxes.boxes[0].kind, BoxKind::Warning);
        EXPECT_EQ(boxes.boxes[0].text, kMissingDrive);
        EXPECT_EQ(form.Edit2->text(), "C");
        EXPECT_FALSE(form.DriveChosen);
        EXPECT_EQ(form.Panel5->text(), "77");
        EXPECT_EQ(QDir::currentPath(), start.path());
        EXPECT_EQ(clock.Reads(), 0u);
        EXPECT_EQ(form.Label3->text(), QString::number(FreeMegabytes(home.path())) + "Mbyte");
    }
}

TEST(DiskTest, AnExistingFileIsNeverTouched) {
    QTemporaryDir dir;
    ScopedCurrentDir cwd(dir.path());
    // The names the generator would pick next are all taken but one.
    RandSeed = 12345;
    const std::int32_t first = Random(1999);
    for (int i = 0; i < 3; ++i)
        WriteBytes(dir.filePath("test" + QString::number((first + i) % 1999)), "keep me\r\n");
    RandSeed = 12345;
    TForm1 form;
    QStringList during;
    ScriptedClock clock(LinesClock(100, [&](std::uint64_t read) {
        if (read == 10)
            during = TestFiles(dir.path());
    }));
    form.HddaccProc();
    EXPECT_EQ(form.Panel5->text(), "2");
    EXPECT_EQ(during.size(), 4);
    EXPECT_TRUE(during.contains("test" + QString::number((first + 3) % 1999)));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(FileBytes(dir.filePath("test" + QString::number((first + i) % 1999))),
                  "keep me\r\n");
    EXPECT_EQ(TestFiles(dir.path()).size(), 3);
}

TEST(DiskTest, AnInputOutputErrorReturnsToTheProgramDirectoryBeforeTheBox) {
    QTemporaryDir start;
    ScopedEnv e("ZELKA_DRIVE_E", "/proc"); // no files can be created there
    ScopedCurrentDir cwd(start.path());
    TForm1 form;
    form.Edit2->setText("E");
    BoxRecorder boxes;
    ScriptedClock clock(LinesClock(10));
    QString cwdAtBox;
    const bool ok = Application->RunCommand([&] {
        try {
            form.HddaccProc();
        } catch (...) {
            cwdAtBox = QDir::currentPath();
            throw;
        }
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(cwdAtBox, ProgramDir());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, BoxKind::Error);
    EXPECT_TRUE(boxes.boxes[0].text.startsWith("Cannot create file \"test"))
        << boxes.boxes[0].text.toStdString();
    EXPECT_EQ(form.Panel5->text(), "測定中");
}

TEST(DiskTest, FreeSpaceCaptionIsMegabytesIn64Bits) {
    struct Case {
        DWORD sectorsPerCluster, bytesPerSector, freeClusters;
        const char* caption;
    } cases[] = {
        {1, 1, 3000000000u, "2861Mbyte"},
        {8, 512, 0, "0Mbyte"},
        {8, 512, 255, "0Mbyte"},
        {8, 512, 256, "1Mbyte"},
        {64, 512, 0xFFFFFFFFu, "134217727Mbyte"}, // above 4 GiB: no 32-bit wrap
        {8, 512, 392704, "1534Mbyte"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TForm1::FreeSpaceCaption(c.sectorsPerCluster, c.bytesPerSector, c.freeClusters),
                  c.caption);
}

TEST(DiskTest, TheDriveBoxShowsTheFreeSpaceOfWhatIsTyped) {
    QTemporaryDir home;
    ScopedEnv h("HOME", home.path().toUtf8());
    ScopedEnv dd("ZELKA_DRIVE_D", "/proc");
    TForm1 form;
    form.Label3->setText("Label3");
    const QString homeFree = QString::number(FreeMegabytes(home.path())) + "Mbyte";
    struct Step {
        std::function<void()> act;
        QString edit;
        QString label;
    } steps[] = {
        {[&] { ClickInto(form.Edit2); }, "", homeFree}, // emptied, then C: shown
        {[&] { form.Label3->setText("x"); }, "", "x"},
        {[&] { form.Edit2->insert("Z"); }, "Z", "x"},       // no such drive: label kept
        {[&] { form.Edit2->setText("d"); }, "d", "0Mbyte"}, // /proc has no free space
        {[&] { form.Edit2->insert("d"); }, "dd", "0Mbyte"}, // two letters fail the query
        {[&] { form.ShowFreeSpace("c:\\"); }, "dd", homeFree},
    };
    for (const Step& step : steps) {
        step.act();
        EXPECT_EQ(form.Edit2->text(), step.edit);
        EXPECT_EQ(form.Label3->text(), step.label);
        EXPECT_TRUE(form.DriveChosen);
    }
}
