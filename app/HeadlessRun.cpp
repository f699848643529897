#include "HeadlessRun.h"

#include "CommandLine.h"
#include "Unit1.h"
#include "forms/Application.h"
#include "platform/CP932.h"
#include "platform/MMSystem.h"
#include "platform/Shell.h"
#include "platform/SysUtils.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace {

QJsonValue ScoreValue(const QLabel& panel) {
    try {
        return StrToInt(panel.text().toStdString());
    } catch (const EConvertError&) {
        return QJsonValue::Null;
    }
}

} // namespace

QByteArray ResultJson(TForm1& form, const RunDurations& durations) {
    QLabel* const panels[] = {form.Panel1, form.Panel2, form.Panel3, form.Panel4, form.Panel5};
    QJsonObject scores, taken;
    for (qsizetype i = 0; i < kTestNames.size(); ++i) {
        scores.insert(kTestNames[i], ScoreValue(*panels[i]));
        if (durations.ms[i] >= 0)
            taken.insert(kTestNames[i], durations.ms[i]);
    }
    scores.insert("overall", ScoreValue(*form.Panel20));
    const QJsonObject system{
        {"cpu", form.Panel22->text()},     {"clock", form.EditHex2->text()},
        {"video", form.Panel14->text()},   {"memory", form.Panel12->text()},
        {"display", form.Panel18->text()}, {"windows", form.Panel21->text()},
    };
    const QJsonObject root{{"scores", scores}, {"system", system}, {"durations_ms", taken}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

int HeadlessRun(TForm1& form, const HeadlessOptions& options, std::FILE* out) {
    ShellCallLog noDesktop;
    RunDurations durations;
    // Wall-clock time, read apart from the tests' own clock so that it takes none of its readings.
    std::uint64_t startedAt = 0;
    form.TestProgress = [&durations, &startedAt](TBenchTest test, bool ended) {
        const auto index = static_cast<qsizetype>(test);
        const QByteArray name = kTestNames[index].toUtf8();
        if (!ended) {
            startedAt = GetTickCount64();
            std::fprintf(stderr, "zelka: %s test started\n", name.constData());
        } else {
            durations.ms[index] = static_cast<qint64>(GetTickCount64() - startedAt);
            std::fprintf(stderr, "zelka: %s test ended after %lld ms\n", name.constData(),
                         static_cast<long long>(durations.ms[index]));
        }
        std::fflush(stderr);
    };
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
    form.TestProgress = nullptr;
    ok = ok && written;
    if (!options.jsonFile.isEmpty()) {
        QFile json(options.jsonFile);
        const QByteArray bytes = ResultJson(form, durations);
        if (!json.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            json.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "zelka: cannot write %s\n", qPrintable(options.jsonFile));
            ok = false;
        }
    }
    if (options.rankPage)
        ok = Application->RunCommand([&form] { form.Button3Click(); }) && ok;
    return ok ? 0 : 1;
}
