// The main window's about box, help page, home page and exit commands.
#include "InternetRank.h"
#include "Unit1.h"
#include "Unit5.h"
#include "forms/Dialogs.h"
#include "platform/Shell.h"

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
    ExecuteFile(this, "readme.htm", "", "", SW_SHOW);
}

void TForm1::Help1Click() {
    Image18Click();
}

void TForm1::Image2Click() {
    ExecuteFile(this, kHomePageAddress, "", "", SW_SHOW);
}

void TForm1::Exit1Click() {
    close();
}

void TForm1::Button6Click() {
    close();
}
