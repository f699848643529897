#include "HeadlessRun.h"

#include "CommandLine.h"
#include "Unit1.h"
#include "forms/Application.h"

QStringList ResultLines(const TForm1& form) {
    return {
        "CPU:" + form.Panel22->text() + " " + form.EditHex2->text(),
        "VIDEO:" + form.Panel14->text(),
        "MEMORY:" + form.Panel12->text(),
        "DISPLAY:" + form.Panel18->text(),
        "WINDOWS:" + form.Panel21->text(),
        "CPU性能（演算）:" + form.Panel1->text(),
        "通常グラフィック性能:" + form.Panel2->text(),
        "DirectDraw性能:" + form.Panel3->text(),
        "Direct3D性能:" + form.Panel4->text(),
        "HDDアクセス性能:" + form.Panel5->text(),
        "総合評価:" + form.Panel20->text(),
    };
}

int HeadlessRun(TForm1& form, const QStringList& tests, std::FILE* out) {
    QCheckBox* const boxes[] = {form.cb1, form.cb2, form.cb3, form.cb4, form.cb5};
    for (qsizetype i = 0; i < kTestNames.size(); ++i)
        boxes[i]->setChecked(tests.isEmpty() || tests.contains(kTestNames[i]));
    const bool ok = Application->RunCommand([&form] { form.Button5Click(); });
    for (const QString& line : ResultLines(form))
        std::fprintf(out, "%s\n", line.toUtf8().constData());
    std::fflush(out);
    return ok ? 0 : 1;
}
