#include "HeadlessRun.h"

#include "CommandLine.h"
#include "Unit1.h"
#include "forms/Application.h"
#include "platform/CP932.h"
#include "platform/Shell.h"

#include <QFile>

int HeadlessRun(TForm1& form, const HeadlessOptions& options, std::FILE* out) {
    ShellCallLog noDesktop;
    QCheckBox* const boxes[] = {form.cb1, form.cb2, form.cb3, form.cb4, form.cb5};
    for (qsizetype i = 0; i < kTestNames.size(); ++i)
        boxes[i]->setChecked(options.tests.isEmpty() || options.tests.contains(kTestNames[i]));
    if (!options.drive.isEmpty()) {
        // As a user does: click into the box, which empties it, and type the letter.
        form.Edit2Click();
        form.Edit2->insert(options.drive);
    }
    bool ok = Application->RunCommand([&form] { form.Button5Click(); });
    bool written = Application->RunCommand([&form] { form.makeRes(); });
    if (written) {
        QFile result("result.txt");
        if (result.open(QIODevice::ReadOnly)) {
            QString text = FromCP932(result.readAll().toStdString());
            text.replace("\r\n", "\n");
            std::fputs(text.toUtf8().constData(), out);
        } else {
            written = false;
        }
    }
    std::fflush(out);
    ok = ok && written;
    if (options.rankPage)
        ok = Application->RunCommand([&form] { form.Button3Click(); }) && ok;
    return ok ? 0 : 1;
}
