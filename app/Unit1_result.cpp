// The main window's result file and comparison report.
#include "Unit1.h"
#include "Unit4.h"
#include "platform/CP932.h"
#include "platform/Shell.h"
#include "platform/SysUtils.h"
#include "platform/TextFile.h"

#include <QFile>
#include <QStringDecoder>
#include <QTableWidget>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <memory>

namespace {

// The lines of the report's first column, rows 1 to 11.
const char* const kReportLabels[] = {
    "CPU     ",
    "VIDEO   ",
    "MEMORY  ",
    "DISPLAY ",
    "メモ　  ",
    "CPU性能（演算）            ",
    "通常グラフィック性能       ",
    "DirectDraw                 ",
    "Direct3D性能(3D)           ",
    "ハードディスクアクセス速度 ",
    "総合評価",
};

// The line prefixes a stored result is searched for, in file order, and the row each fills.
struct ReportItem {
    const char* prefix;
    int row;
};
const ReportItem kReportItems[] = {
    {"CPU", 1},      {"VID", 2},     {"MEM", 3},   {"DIS", 4},
    {"メモ", 5},     {"CPU性能", 6}, {"通常", 7},  {"DirectDraw性能", 8},
    {"Direct3D", 9}, {"HDD", 10},    {"総合", 11},
};

bool IsResultFileName(const char* name) {
    const std::size_t length = std::strlen(name);
    return length >= 4 && strcasecmp(name + length - 4, ".txt") == 0;
}

// A stored file's name as its column heading: UTF-8 where the bytes are valid UTF-8 (names
// given on this system), otherwise CP932 (names from the original platform, whose
// double-byte characters are almost never valid UTF-8).
QString EntryHeading(const QByteArray& name) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(name);
    if (!utf8.hasError())
        return text;
    return FromCP932(name.toStdString());
}

// A result file is nineteen short lines; far more than that is some other file.
constexpr std::int64_t kLargestResultFile = 1 << 20;

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

} // namespace

void TForm1::Button1Click() {
    makeRes();
    OpenWithDesktop(this, "result.txt");
}

QStringList TForm1::ResultLines() const {
    QStringList lines;
    auto line = [&lines](const QString& text) { lines << text; };
    line(" _ _ _ _　" + QString(34, ' ') + "_ _ _ _");
    line("ゼルカ Ver2.10 ベンチマーク結果  (C) Orvane");
    line("");
    line("★PC情報");
    line("CPU     :" + Panel22->text() + " " + EditHex2->text());
    line("VIDEO   :" + Panel14->text());
    line("MEMORY  :" + Panel12->text());
    line("DISPLAY :" + Panel18->text());
    line("WINDOWS :" + Panel21->text());
    line("メモ　  :[ご自由にPC情報でも記入して下さい]");
    line("");
    line("★ベンチ結果");
    line("CPU性能（演算）            :" + Panel1->text());
    line("通常グラフィック性能       :" + Panel2->text());
    line("DirectDraw性能             :" + Panel3->text());
    line("Direct3D性能               :" + Panel4->text());
    line("HDDアクセス性能            :" + Panel5->text());
    line("");
    line("総合評価                   :" + Panel20->text());
    return lines;
}

void TForm1::makeRes() {
    TextFile file("result.txt");
    file.Rewrite();
    for (const QString& text : ResultLines())
        file.WriteLine(ToCP932(text));
    file.Close();
}

std::string TForm1::GetRes(const std::string& line) {
    const std::size_t colon = line.find(':');
    return colon == std::string::npos ? std::string() : line.substr(colon + 1);
}

void TForm1::readres(const QString& directory, const QByteArray& fileName, int column) {
    TextFile file((QFile::encodeName(directory) + fileName).toStdString());
    file.Reset();
    if (file.Size() > kLargestResultFile)
        throw EInOutError("Cannot read file \"" + file.Path() + "\": " + IntToStr(file.Size()) +
                              " bytes is no result file",
                          EFBIG);
    std::string line;
    file.ReadLine(line);
    // The search for each item starts at the line that matched the one before; it stops at
    // the end of the file, leaving the cells not found empty.
    bool more = true;
    for (const ReportItem& item : kReportItems) {
        const std::string prefix = ToCP932(std::string_view(item.prefix));
        while (more && line.compare(0, prefix.size(), prefix) != 0)
            more = file.ReadLine(line);
        if (!more)
            break;
        Form4->SetCell(column, item.row, FromCP932(GetRes(line)));
    }
    file.Close();
}

void TForm1::Button2Click() {
    FillReport(ProgramDirectory() + "Report/");
    Form4->ShowModal();
}

void TForm1::FillReport(const QString& directory) {
    QTableWidget* gd = Form4->gd;
    // A report that ended with an error left its file columns; start from the two fixed ones.
    gd->setColumnCount(2);
    gd->setColumnWidth(0, 150);
    for (int row = 1; row <= 11; ++row)
        Form4->SetCell(0, row, kReportLabels[row - 1]);
    Form4->SetCell(1, 0, "現在の値");
    Form4->SetCell(1, 1, Panel22->text() + " " + EditHex2->text());
    Form4->SetCell(1, 2, Panel14->text());
    Form4->SetCell(1, 3, Panel12->text());
    Form4->SetCell(1, 4, Panel18->text());
    Form4->SetCell(1, 6, Panel1->text());
    Form4->SetCell(1, 7, Panel2->text());
    Form4->SetCell(1, 8, Panel3->text());
    Form4->SetCell(1, 9, Panel4->text());
    Form4->SetCell(1, 10, Panel5->text());
    Form4->SetCell(1, 11, Panel20->text());

    std::unique_ptr<DIR, DirCloser> search(opendir(QFile::encodeName(directory).constData()));
    int column = 2;
    while (search) {
        const dirent* entry = readdir(search.get());
        if (entry == nullptr)
            break;
        if (!IsResultFileName(entry->d_name))
            continue;
        // The entry's own bytes open the file; only the heading is decoded.
        const QByteArray name(entry->d_name);
        gd->setColumnCount(column + 1);
        Form4->SetCell(column, 0, EntryHeading(name));
        readres(directory, name, column);
        ++column;
    }
}
