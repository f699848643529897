// The main window's about box, help page, home page and exit commands.
#include "InternetRank.h"
#include "Unit1.h"
#include "Unit5.h"
#include "forms/Dialogs.h"
#include "platform/CP932.h"
#include "platform/ProgramFolders.h"
#include "platform/Shell.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

void OpenWithDesktop(QWidget* owner, const QString& file, const QString& directory) {
    // The box names the file by its full path, so the user can find it without the desktop; an
    // address as it stands.
    const QString shown =
        IsShellAddress(file)
            ? file
            : QFileInfo(QDir(directory.isEmpty() ? QDir::currentPath() : directory), file)
                  .absoluteFilePath();
    auto tell = [shown] { ShowWarning("「" + shown + "」を開けませんでした"); };
    // The opener's verdict comes later, from the event loop, when it ends.
    OpenerFailureNotice notice(tell);
    // The directory is handed over whole: an installation's path may be longer than the
    // 79 characters the shell-open buffers hold.
    const int result = directory.isEmpty() ? ExecuteFile(owner, file, "", "", SW_SHOW)
                                           : ShellExecuteA(owner, nullptr, ToCP932(file).c_str(),
                                                           "", ToCP932(directory).c_str(), SW_SHOW);
    if (result <= 32)
        tell();
}

void TForm1::Button3Click() {
    if (Panel20->text() == "0") {
        ShowWarning("測定してから申請して下さい");
        return;
    }
    MakeRankPage();
    OpenRankPage();
}

void TForm1::Image19Click() {
    Form5->ShowModal();
}

void TForm1::Image18Click() {
    // Found as the scene archive is: the current folder first, then the program's own copy.
    const std::string found = FindProgramFile(kHelpPageName);
    if (found.empty()) {
        ShowWarning(QString("ヘルプファイル「") + kHelpPageName + "」が見つかりません");
        return;
    }
    const QFileInfo page(QFile::decodeName(found.c_str()));
    OpenWithDesktop(this, kHelpPageName, found == kHelpPageName ? "" : page.absolutePath());
}

void TForm1::Help1Click() {
    Image18Click();
}

void TForm1::Image2Click() {
    OpenWithDesktop(this, kHomePageAddress);
}

void TForm1::Exit1Click() {
    close();
}

void TForm1::Button6Click() {
    close();
}
