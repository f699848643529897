// The main window's disk access test and its drive box.
#include "Unit1.h"
#include "forms/Application.h"
#include "forms/Dialogs.h"
#include "platform/CP932.h"
#include "platform/Drives.h"
#include "platform/MMSystem.h"
#include "platform/OwnFiles.h"
#include "platform/ProgramFolders.h"
#include "platform/Random.h"
#include "platform/SysUtils.h"
#include "platform/TextFile.h"

#include <QFile>
#include <QMouseEvent>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

constexpr std::int32_t kTestMs = 10000;
constexpr std::int32_t kNameCount = 1999; // test0 ... test1998
const std::string kTestLine(47, 'a');

// Reports a click into the drive box.
class ClickFilter : public QObject {
public:
    ClickFilter(QObject* parent, std::function<void()> onClick)
        : QObject(parent), onClick_(std::move(onClick)) {}

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            onClick_();
        return false;
    }

private:
    std::function<void()> onClick_;
};

// Creates a test file under a random name that no file has yet, so an existing file is never
// emptied or deleted; a signal while it exists removes it. Returns its name.
std::string CreateTestFile(TextFile*& file, std::unique_ptr<TextFile>& holder, OwnFile& own) {
    const std::int32_t first = Random(kNameCount);
    for (std::int32_t i = 0; i < kNameCount; ++i) {
        const std::string name = "test" + IntToStr((first + i) % kNameCount);
        holder = std::make_unique<TextFile>(name);
        if (own.Create([&] { return holder->RewriteNew() ? name : std::string(); })) {
            file = holder.get();
            return name;
        }
    }
    throw EInOutError("Cannot create a test file: the names test0 to test1998 are all taken",
                      EEXIST);
}

} // namespace

QString ProgramDirectory() {
    return QFile::decodeName(ProgramDataFolder().c_str());
}

void TForm1::ConnectEdit2Click() {
    Edit2->installEventFilter(new ClickFilter(Edit2, [this] { Edit2Click(); }));
}

QString TForm1::FreeSpaceCaption(DWORD sectorsPerCluster, DWORD bytesPerSector,
                                 DWORD freeClusters) {
    const std::uint64_t bytes =
        std::uint64_t{bytesPerSector} * sectorsPerCluster * std::uint64_t{freeClusters};
    return QString::number(bytes / 1048576) + "Mbyte";
}

void TForm1::ShowFreeSpace(const QString& drivePath) {
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    const std::string path = ToCP932(drivePath);
    if (!GetDiskFreeSpaceA(path.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                           &totalClusters))
        return;
    Label3->setText(FreeSpaceCaption(sectorsPerCluster, bytesPerSector, freeClusters));
}

void TForm1::Edit2Change() {
    DriveChosen = true;
    ShowFreeSpace(Edit2->text() + ":\\");
}

void TForm1::Edit2Click() {
    DriveChosen = true;
    Edit2->clear();
    ShowFreeSpace("c:\\");
}

void TForm1::HddaccProc() {
    const QString programDirectory = ProgramDirectory();
    if (DriveChosen) {
        const std::string drive = ToCP932(Edit2->text() + ":");
        const bool first = SetCurrentDirectoryA(drive.c_str()) != 0;
        const bool second = SetCurrentDirectoryA(drive.c_str()) != 0;
        if (!first || !second) {
            if (Edit2->text() == "C")
                Edit2Change(); // the box already shows C: the change still happens
            else
                Edit2->setText("C");
            DriveChosen = false;
            ShowWarning("指定されたドライブが存在しません");
            return;
        }
    }

    Panel5->setText("測定中");
    Application->ProcessMessages();

    const DWORD start = timeGetTime();
    std::int32_t lines = 0;
    std::unique_ptr<TextFile> holder;
    TextFile* file = nullptr;
    std::string name;
    OwnFile own;
    try {
        name = CreateTestFile(file, holder, own);
        while (ElapsedMs(timeGetTime(), start) < kTestMs) {
            file->WriteLine(kTestLine);
            ++lines;
        }
        file->Close();
        file->Reset();
        // Same deadline as the writes: the lines are never read back within the measured time.
        std::string line;
        while (ElapsedMs(timeGetTime(), start) < kTestMs) {
            file->ReadLine(line);
            ++lines;
        }
        file->Close();
        if (const int error = own.Remove(); error != 0) {
            name.clear(); // nothing left to clean up that the next attempt could remove
            throw EInOutError(
                "Cannot delete file \"" + holder->Path() + "\": " + std::strerror(error), error);
        }
        name.clear();
    } catch (...) {
        // Leave nothing behind: the test file goes, and the program directory is current again
        // before the error is shown.
        holder.reset();
        if (!name.empty())
            own.Remove();
        [[maybe_unused]] const int ignored =
            ::chdir(QFile::encodeName(programDirectory).constData());
        throw;
    }
    Panel5->setText(QString::fromStdString(IntToStr(lines / 50)));
    ChDir(QFile::encodeName(programDirectory).toStdString());
}
