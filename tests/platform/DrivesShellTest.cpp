#include "platform/Drives.h"
#include "platform/MMSystem.h"
#include "platform/ProgramFolders.h"
#include "platform/Shell.h"
#include "platform/SysUtils.h"
#include "tests/FakeOpener.h"
#include "tests/ScopedEnv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

class ScopedCwd {
public:
    ScopedCwd() : old_(QDir::currentPath()) {}
    ~ScopedCwd() { QDir::setCurrent(old_); }

private:
    QString old_;
};

} // namespace

TEST(Drives, LettersMapToHomeAndConfiguredDirectories) {
    QTemporaryDir home, d;
    ScopedEnv h("HOME", home.path().toUtf8());
    ScopedEnv dd("ZELKA_DRIVE_D", d.path().toUtf8());
    ScopedEnv de("ZELKA_DRIVE_E", QByteArray());
    struct Case {
        const char* path;
        QString enters; // empty: fails
    } cases[] = {
        {"C:", home.path()}, {"c:", home.path()}, {"D:", d.path()}, {"d:", d.path()}, {"E:", ""},
        {":", ""},           {"CD:", ""},         {"", ""},         {"1:", ""},
    };
    for (const Case& c : cases) {
        ScopedCwd cwd;
        QDir::setCurrent(QDir::rootPath());
        const BOOL ok = SetCurrentDirectoryA(c.path);
        EXPECT_EQ(ok != 0, !c.enters.isEmpty()) << c.path;
        EXPECT_EQ(QDir::currentPath(), c.enters.isEmpty() ? QDir::rootPath() : c.enters) << c.path;
    }
}

TEST(Drives, FreeSpaceComesFromTheDriveDirectory) {
    QTemporaryDir home;
    ScopedEnv h("HOME", home.path().toUtf8());
    ScopedEnv dd("ZELKA_DRIVE_D", "/proc");
    struct statvfs info {};
    ASSERT_EQ(statvfs(home.path().toUtf8().constData(), &info), 0);
    const std::uint64_t expected = std::uint64_t{info.f_bavail} * info.f_frsize;

    for (const char* root : {"C:\\", "c:\\", "C:", "c:/"}) {
        DWORD sectors = 0, bytes = 0, free = 0, total = 0;
        ASSERT_NE(GetDiskFreeSpaceA(root, &sectors, &bytes, &free, &total), 0) << root;
        // Free space may move a little while the test runs.
        const std::uint64_t seen = std::uint64_t{sectors} * bytes * free;
        EXPECT_NEAR(static_cast<double>(seen), static_cast<double>(expected), 64.0 * 1048576)
            << root;
        EXPECT_GE(total, free);
    }
    for (const char* root :
         std::initializer_list<const char*>{"", ":\\", "CD:\\", "Q:\\", "C:\\x", "C", nullptr}) {
        DWORD sectors = 7, bytes = 7, free = 7, total = 7;
        EXPECT_EQ(GetDiskFreeSpaceA(root, &sectors, &bytes, &free, &total), 0)
            << (root ? root : "null");
        EXPECT_EQ(sectors + bytes + free + total, 28u); // nothing written on failure
    }
}

TEST(Drives, ChDirRaisesInOutErrorWithTheReason) {
    ScopedCwd cwd;
    ScopedEnv de("ZELKA_DRIVE_E", QByteArray());
    ScopedEnv df("ZELKA_DRIVE_F", "/no/such/folder");
    struct Case {
        std::string path;
        const char* reason;
    } cases[] = {{"E:", "no such drive"},
                 {"F:", "No such file or directory"},
                 {"/no/such", "No such file or directory"}};
    for (const Case& c : cases) {
        try {
            ChDir(c.path);
            ADD_FAILURE() << c.path;
        } catch (const EInOutError& error) {
            EXPECT_NE(error.Message().find("\"" + c.path + "\""), std::string::npos);
            EXPECT_NE(error.Message().find(c.reason), std::string::npos) << error.Message();
        }
    }
}

TEST(Shell, ExecuteFileRecordsOwnerTextsAndShowCodeWithin79Bytes) {
    QWidget* owner = reinterpret_cast<QWidget*>(0x1234);
    const QString ascii79(79, 'a');
    const QString kana40 = QString(40, QChar(0x30BC)); // 80 bytes in CP932
    struct Case {
        QString file, params, dir;
        QString expectFile, expectParams, expectDir;
    } cases[] = {
        {"result.txt", "", "", "result.txt", "", ""},
        {"http://www.orvane.example/", "", "", "http://www.orvane.example/", "", ""},
        {ascii79 + "b", "p", "d", ascii79, "p", "d"},
        {kana40, ascii79 + "xyz", "", QString(39, QChar(0x30BC)), ascii79, ""},
        {"a" + kana40, "", kana40, "a" + QString(39, QChar(0x30BC)), "",
         QString(39, QChar(0x30BC))},
    };
    for (const Case& c : cases) {
        ShellCallLog log;
        EXPECT_GT(ExecuteFile(owner, c.file, c.params, c.dir, SW_SHOW), 32);
        ASSERT_EQ(log.calls.size(), 1u);
        EXPECT_EQ(log.calls[0].owner, owner);
        EXPECT_EQ(log.calls[0].file, c.expectFile);
        EXPECT_EQ(log.calls[0].parameters, c.expectParams);
        EXPECT_EQ(log.calls[0].directory, c.expectDir);
        EXPECT_EQ(log.calls[0].showCommand, 5);
    }
}

TEST(Shell, AMissingFileIsReportedWithoutOpeningAnything) {
    QTemporaryDir dir;
    EXPECT_EQ(
        ShellExecuteA(nullptr, nullptr, "readme.htm", "", dir.path().toUtf8().constData(), SW_SHOW),
        2);
    EXPECT_EQ(ShellExecuteA(nullptr, nullptr, "", "", "", SW_SHOW), 2);
    EXPECT_LE(ShellExecuteA(nullptr, "print", "x", "", "", SW_SHOW), 32);
}

namespace {

// Standard error into a file for the scope, to see what reaches it.
class CapturedStderr {
public:
    CapturedStderr() : saved_(dup(2)) {
        std::fflush(stderr);
        const int fd = open(QFile::encodeName(dir_.filePath("err")).constData(),
                            O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        close(fd);
    }
    ~CapturedStderr() {
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
    }
    QByteArray Text() const {
        QFile file(dir_.filePath("err"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir dir_;
    int saved_;
};

} // namespace

// The desktop's opener gets the file's full path or the address; a missing opener fails at
// once, one that fails soon after it started is told later, its output never reaches ours.
TEST(Shell, TheOpenerGetsTheFullPathAndItsFailureIsToldLater) {
    QTemporaryDir work;
    QFile(work.filePath("result.txt")).open(QIODevice::WriteOnly);
    ScopedCurrentDir here(work.path());
    const QByteArray fullPath = QFile::encodeName(work.filePath("result.txt"));
    struct Case {
        const char* what;
        std::optional<int> status;
        const char* extra;
        const char* file;
        int result; // above 32: the opener started
        bool told;
        std::initializer_list<DWORD> clock; // empty: the real clock
    } cases[] = {
        {"opens", 0, "", "result.txt", 42, false, {}},
        {"exits 4", 4, "", "result.txt", 42, true, {}},
        {"an address, exits 3", 3, "", "http://www.orvane.example/", 42, true, {}},
        {"killed", 0, "kill -TERM $$", "result.txt", 42, true, {}},
        {"exits 4 long after", 4, "", "result.txt", 42, false, {1000, 1000 + kOpenerVerdictMs + 1}},
        {"exits 4 just in time", 4, "", "result.txt", 42, true, {1000, 1000 + kOpenerVerdictMs}},
        {"no opener", std::nullopt, "", "result.txt", 31, false, {}},
        {"no such file", 0, "", "missing.txt", 2, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeOpener opener(c.status, c.extra);
        std::optional<ScriptedClock> clock;
        if (c.clock.size() != 0)
            clock.emplace(c.clock);
        CapturedStderr err;
        int told = 0;
        {
            OpenerFailureNotice notice([&told] { ++told; });
            EXPECT_EQ(ExecuteFile(nullptr, c.file, "", "", SW_SHOW), c.result);
        }
        ASSERT_TRUE(FakeOpener::AllEnded());
        EXPECT_EQ(told, c.told ? 1 : 0);
        EXPECT_EQ(err.Text(), "");
        const QByteArray expected = c.result <= 32           ? QByteArray()
                                    : IsShellAddress(c.file) ? QByteArray(c.file) + "\n"
                                                             : fullPath + "\n";
        EXPECT_EQ(opener.Arguments(), expected);
    }
}

TEST(ProgramFolders, TheDataFolderFollowsXdgDataHomeOrHome) {
    struct Case {
        QByteArray dataHome;
        std::string expected;
    } cases[] = {
        {"/srv/data", "/srv/data/zelka/"},
        {"relative/data", "/home/u/.local/share/zelka/"}, // not absolute: ignored
        {QByteArray(), "/home/u/.local/share/zelka/"},
    };
    ScopedEnv home("HOME", "/home/u");
    for (const Case& c : cases) {
        ScopedEnv data("XDG_DATA_HOME", c.dataHome);
        EXPECT_EQ(ProgramDataFolder(), c.expected) << c.dataHome.constData();
    }
}

TEST(ProgramFolders, ReadOnlyFilesComeFromTheCurrentFolderThenBesideTheProgramThenItsShare) {
    QTemporaryDir root;
    const QString bin = root.filePath("prefix/bin"), share = root.filePath("prefix/share/zelka");
    const QString here = root.filePath("here");
    for (const QString& folder : {bin, share, here})
        QDir().mkpath(folder);
    ScopedCurrentDir current(here);
    const std::string exe = QFile::encodeName(bin).toStdString() + "/";
    auto put = [](const QString& path) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    };
    EXPECT_EQ(FindProgramFile("Zelka.dat", exe), "");
    put(share + "/Zelka.dat");
    EXPECT_EQ(FindProgramFile("Zelka.dat", exe),
              QFile::encodeName(share).toStdString() + "/Zelka.dat");
    put(bin + "/Zelka.dat");
    EXPECT_EQ(FindProgramFile("Zelka.dat", exe), exe + "Zelka.dat");
    put(here + "/Zelka.dat");
    EXPECT_EQ(FindProgramFile("Zelka.dat", exe), "Zelka.dat");
    QDir().mkpath(here + "/readme.htm"); // a folder of that name is no file
    EXPECT_EQ(FindProgramFile("readme.htm", exe), "");
}
