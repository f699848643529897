#include "HeadlessRun.h"

#include "CommandLine.h"
#include "Unit1.h"
#include "forms/Application.h"
#include "forms/Halt.h"
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

QByteArray ResultJson(TForm1& form, const RunDurations& durations, const RunHalt* halt) {
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
    QJsonObject root{{"scores", scores}, {"system", system}, {"durations_ms", taken}};
    if (halt) {
        const QJsonValue test = halt->test >= 0 && halt->test < kTestNames.size()
                                    ? QJsonValue(kTestNames[halt->test])
                                    : QJsonValue(QJsonValue::Null);
        root.insert("halted", QJsonObject{{"test", test}, {"reason", halt->reason}});
    }
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool WriteOutputFile(const QString& fileName, const QByteArray& bytes) {
    QFile file(fileName);
    // Every step is checked: a full disk shows up at the write, the flush or the close.
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
              file.write(bytes) == bytes.size() && file.flush();
    if (file.isOpen())
        file.close();
    ok = ok && file.error() == QFileDevice::NoError;
    if (!ok) {
        std::fprintf(stderr, "zelka: cannot write %s: %s\n", qPrintable(fileName),
                     qPrintable(file.errorString()));
        std::fflush(stderr);
    }
    return ok;
}

HeadlessSession::HeadlessSession(HeadlessOptions options, std::FILE* out)
    : options_(std::move(options)), out_(out) {
    previousHalt_ = SetHaltAction([this] { ReportHalt(); });
}

HeadlessSession::~HeadlessSession() {
    SetHaltAction(std::move(previousHalt_));
}

void HeadlessSession::PrintResults(TForm1& form) {
    for (const QString& line : form.ResultLines())
        std::fprintf(out_, "%s\n", line.toUtf8().constData());
    std::fflush(out_);
}

void HeadlessSession::ReportHalt() {
    // The engine cannot go on; what it measured before must not be lost with it.
    try {
        if (Form1) {
            TForm1& form = *Form1;
            form.TestProgress = nullptr;
            const RunHalt halt{current_, QString::fromStdString(HaltReason())};
            if (current_ >= 0)
                std::fprintf(stderr, "zelka: %s test halted; the results so far follow\n",
                             kTestNames[current_].toUtf8().constData());
            PrintResults(form);
            if (Application)
                Application->RunCommand([&form] { form.makeRes(); });
            if (!options_.jsonFile.isEmpty())
                WriteOutputFile(options_.jsonFile, ResultJson(form, durations_, &halt));
        }
    } catch (...) {
        // Nothing more can be saved; the halt goes on.
    }
    ExitCode = kHaltExitCode;
    if (previousHalt_)
        previousHalt_();
}

int HeadlessSession::Run(TForm1& form) {
    ShellCallLog noDesktop;
    // Wall-clock time, read apart from the tests' own clock so that it takes none of its readings.
    std::uint64_t startedAt = 0;
    QLabel* const panels[] = {form.Panel1, form.Panel2, form.Panel3, form.Panel4, form.Panel5};
    // A test that writes no score (the chosen drive is missing) leaves its panel as it found
    // it; the panel is emptied at the start to see that, and given its caption back.
    bool scored[5] = {false, false, false, false, false};
    QString captionBefore;
    form.TestProgress = [&](TBenchTest test, bool ended) {
        const auto index = static_cast<qsizetype>(test);
        const QByteArray name = kTestNames[index].toUtf8();
        if (!ended) {
            startedAt = GetTickCount64();
            current_ = static_cast<int>(index);
            captionBefore = panels[index]->text();
            panels[index]->clear();
            std::fprintf(stderr, "zelka: %s test started\n", name.constData());
        } else {
            current_ = -1;
            scored[index] = !ScoreValue(*panels[index]).isNull();
            if (panels[index]->text().isEmpty())
                panels[index]->setText(captionBefore);
            durations_.ms[index] = static_cast<qint64>(GetTickCount64() - startedAt);
            std::fprintf(stderr, "zelka: %s test ended after %lld ms\n", name.constData(),
                         static_cast<long long>(durations_.ms[index]));
        }
        std::fflush(stderr);
    };
    QCheckBox* const boxes[] = {form.cb1, form.cb2, form.cb3, form.cb4, form.cb5};
    for (qsizetype i = 0; i < kTestNames.size(); ++i)
        boxes[i]->setChecked(options_.tests.isEmpty() || options_.tests.contains(kTestNames[i]));
    if (!options_.drive.isEmpty()) {
        // As a user does: click into the box, which empties it, and type the letter.
        form.Edit2Click();
        form.Edit2->insert(options_.drive);
    }
    bool ok = Application->RunCommand([&form] { form.Button5Click(); });
    const bool written = Application->RunCommand([&form] { form.makeRes(); });
    // Printed from the panels, so the results are there even where the file could not be.
    PrintResults(form);
    form.TestProgress = nullptr;
    ok = ok && written;
    for (qsizetype i = 0; i < kTestNames.size(); ++i) {
        if (boxes[i]->isChecked() && !scored[i]) {
            std::fprintf(stderr, "zelka: the %s test produced no score\n",
                         kTestNames[i].toUtf8().constData());
            ok = false;
        }
    }
    std::fflush(stderr);
    if (!options_.jsonFile.isEmpty())
        ok = WriteOutputFile(options_.jsonFile, ResultJson(form, durations_)) && ok;
    if (options_.rankPage)
        ok = Application->RunCommand([&form] { form.Button3Click(); }) && ok;
    return ok ? 0 : 1;
}

int HeadlessRun(TForm1& form, const HeadlessOptions& options, std::FILE* out) {
    HeadlessSession session(options, out);
    return session.Run(form);
}
