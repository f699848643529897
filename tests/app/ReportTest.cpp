#include "AppTestSupport.h"
#include "app/TerminalReport.h"
#include "app/Unit1.h"
#include "app/Unit4.h"
#include "forms/Application.h"
#include "forms/Dialogs.h"
#include "platform/CP932.h"
#include "tests/QtPrinters.h"

#include <QCoreApplication>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A stored result as the result-file command writes it, CP932 with CR LF.
std::string StoredResult(const char* memo, const char* cpuScore, const char* total) {
    std::string text = " _ _ _ _　                                  _ _ _ _\r\n"
                       "notice\r\n\r\n★PC情報\r\n"
                       "CPU     :AuthenticAMD 300.6120MHz\r\n"
                       "VIDEO   :Virtual Display Adapter\r\n"
                       "MEMORY  :65,024KB\r\n"
                       "DISPLAY :800x600\r\n"
                       "WINDOWS :Windows98 4. 10 Build 67766222\r\n"
                       "メモ　  :";
    text += memo;
    text += "\r\n\r\n★ベンチ結果\r\n"
            "CPU性能（演算）            :";
    text += cpuScore;
    text += "\r\n通常グラフィック性能       :602\r\n"
            "DirectDraw性能             :540\r\n"
            "Direct3D性能               :488\r\n"
            "HDDアクセス性能            :131\r\n\r\n"
            "総合評価                   :";
    text += total;
    text += "\r\n";
    return ToCP932(std::string_view(text));
}

// Column of a file in the grid, by its heading.
int ColumnOf(const TForm4& report, const QString& name) {
    for (int c = 2; c < report.gd->columnCount(); ++c)
        if (report.Cell(c, 0) == name)
            return c;
    return -1;
}

QStringList ColumnValues(const TForm4& report, int column) {
    QStringList values;
    for (int row = 1; row <= 11; ++row)
        values << report.Cell(column, row);
    return values;
}

} // namespace

TEST(Report, GetResIsEverythingAfterTheFirstColon) {
    struct Case {
        std::string line, value;
    } cases[] = {
        {"MEMORY  :65,024KB", "65,024KB"},
        {"a:b:c", "b:c"},
        {"no colon", ""},
        {"ends:", ""},
        {":  padded  ", "  padded  "},
        {"\x83\x81\x83\x82\x81\x40  :[x]", "[x]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TForm1::GetRes(c.line), c.value) << c.line;
}

TEST(Report, StoredFilesFillOneColumnEach) {
    QTemporaryDir dir;
    const char garbageBytes[] = "\x00\xFF\x80\x83\r\n\x01\x02:\xFD";
    const std::string garbage(garbageBytes, sizeof garbageBytes - 1);
    struct Case {
        const char* name;
        std::string bytes;
        QStringList values; // rows 1..11
    } cases[] = {
        {"plain.txt",
         StoredResult("[ご自由にPC情報でも記入して下さい]", "1010", "554"),
         {"AuthenticAMD 300.6120MHz", "Virtual Display Adapter", "65,024KB", "800x600",
          "[ご自由にPC情報でも記入して下さい]", "1010", "602", "540", "488", "131", "554"}},
        {"edited.txt",
         StoredResult("K6-2 自作機:メモリ増設", "1011", "321"),
         {"AuthenticAMD 300.6120MHz", "Virtual Display Adapter", "65,024KB", "800x600",
          "K6-2 自作機:メモリ増設", "1011", "602", "540", "488", "131", "321"}},
        // Extra lines anywhere are skipped; the first line may itself be the CPU line.
        {"extra.TXT",
         ToCP932(std::string_view("CPU:first\nnote\nVID:v\nMEM:m\nDIS:d\nfree text\nメモ:memo\n"
                                  "CPU性能:1\n通常:2\nDirectDraw性能:3\nDirect3D:4\nHDD:5\n"
                                  "総合:6")),
         {"first", "v", "m", "d", "memo", "1", "2", "3", "4", "5", "6"}},
        // The file ends before HDD: the search stops, the rest stays empty.
        {"short.txt",
         ToCP932(std::string_view("x\r\nCPUは:c\r\nDirect3D:9\r\n")),
         {"c", "", "", "", "", "", "", "", "", "", ""}},
        // A prefix without a colon gives an empty cell; the search goes on from there.
        {"nocolon.txt", "CPU\r\nVID:v\r\n", {"", "v", "", "", "", "", "", "", "", "", ""}},
        {"garbage.txt", garbage, {"", "", "", "", "", "", "", "", "", "", ""}},
        {"long.txt",
         std::string(200000, 'x') + "\r\nCPU:" + std::string(5000, 'y') + "\r\n",
         {QString(5000, 'y'), "", "", "", "", "", "", "", "", "", ""}},
        {"empty.txt", "", {"", "", "", "", "", "", "", "", "", "", ""}},
        {"bad bytes.txt",
         "CPU:\x83\x0A"
         "VID:\xA0ok\r\n",
         {"\xEF\xBF\xBD", "\xEF\xBF\xBDok", "", "", "", "", "", "", "", "", ""}},
    };
    for (const Case& c : cases)
        WriteBytes(dir.filePath(c.name), c.bytes);
    WriteBytes(dir.filePath("notes.md"), "CPU:ignored\r\n");

    TForm1 form;
    TForm4 report;
    form.Panel1->setText("1520");
    form.Panel20->setText("824");
    form.Panel12->setText("131,072KB");
    form.FillReport(dir.path() + "/");
    EXPECT_EQ(report.gd->columnCount(), 2 + static_cast<int>(std::size(cases)));
    EXPECT_EQ(report.gd->rowCount(), 13);
    EXPECT_EQ(ColumnOf(report, "notes.md"), -1);
    for (const Case& c : cases) {
        const int column = ColumnOf(report, c.name);
        ASSERT_GE(column, 2) << c.name;
        EXPECT_EQ(ColumnValues(report, column), c.values) << c.name;
        EXPECT_EQ(report.Cell(column, 12), "");
    }
    // The label and current-value columns.
    EXPECT_EQ(report.Cell(1, 0), "現在の値");
    EXPECT_EQ(report.Cell(0, 1), "CPU     ");
    EXPECT_EQ(report.Cell(0, 10), "ハードディスクアクセス速度 ");
    EXPECT_EQ(report.Cell(0, 11), "総合評価");
    for (int row = 1; row <= 10; ++row)
        EXPECT_EQ(ToCP932(report.Cell(0, row)).size(), row <= 5 ? 8u : 27u) << row;
    EXPECT_EQ(report.Cell(1, 3), "131,072KB");
    EXPECT_EQ(report.Cell(1, 5), "");
    EXPECT_EQ(report.Cell(1, 6), "1520");
    EXPECT_EQ(report.Cell(1, 11), "824");
}

TEST(Report, TheCommandShowsTheWindowAndItsCloseDropsTheFileColumns) {
    const QString reportDir = ProgramDirectory() + "Report";
    QDir(reportDir).removeRecursively(); // left over from an interrupted run
    QDir().mkpath(reportDir);
    WriteBytes(reportDir + "/a.txt", StoredResult("memo", "1", "2"));
    WriteBytes(reportDir + "/b.txt", StoredResult("memo", "3", "4"));
    TForm1 form;
    TForm4 report;
    report.resize(702, 494);
    int columnsWhileShown = 0;
    QList<int> widths;
    bool shown = false;
    QTimer::singleShot(0, [&] {
        shown = report.isVisible();
        columnsWhileShown = report.gd->columnCount();
        report.FormPaint();
        for (int c = 0; c < report.gd->columnCount(); ++c)
            widths << report.gd->columnWidth(c);
        report.Button1Click();
    });
    BoxRecorder boxes;
    EXPECT_TRUE(Application->RunCommand([&] { form.Button2Click(); }));
    EXPECT_TRUE(shown);
    EXPECT_EQ(columnsWhileShown, 4);
    const int share = report.gd->width() / 4;
    EXPECT_EQ(widths, QList<int>({share, share, share, share}));
    EXPECT_EQ(report.gd->columnCount(), 2);
    EXPECT_FALSE(report.isVisible());
    EXPECT_TRUE(boxes.boxes.empty());

    // An entry that cannot be read ends the command with the error box and no window.
    QDir(reportDir).mkdir("x.txt");
    bool shownAgain = false;
    QTimer::singleShot(0, [&] {
        shownAgain = report.isVisible();
        report.Close();
    });
    EXPECT_FALSE(Application->RunCommand([&] { form.Button2Click(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(shownAgain);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, BoxKind::Error);
    EXPECT_TRUE(boxes.boxes[0].text.contains("x.txt"));
    QDir(reportDir).removeRecursively();

    // Without a Report folder only the labels and the current values show.
    QTimer::singleShot(0, [&] {
        columnsWhileShown = report.gd->columnCount();
        report.Close();
    });
    EXPECT_TRUE(Application->RunCommand([&] { form.Button2Click(); }));
    EXPECT_EQ(columnsWhileShown, 2);
}

TEST(Report, CellsShareTheGridEvenlyOnResize) {
    TForm4 report;
    // Its designed size is fixed (a tiling compositor floats it); a window system that sizes
    // it anyway still gets the cells shared out.
    EXPECT_EQ(report.minimumSize(), QSize(702, 494));
    EXPECT_EQ(report.maximumSize(), QSize(702, 494));
    report.gd->setColumnCount(5);
    struct Case {
        int width, height;
    } cases[] = {{702, 494}, {400, 300}, {1001, 777}};
    for (const Case& c : cases) {
        report.setFixedSize(c.width, c.height);
        report.FormResize();
        const int w = report.gd->width() / 5, h = report.gd->height() / 13;
        EXPECT_EQ(report.gd->height(), c.height - 35 - 19);
        for (int col = 0; col < 5; ++col)
            EXPECT_EQ(report.gd->columnWidth(col), w);
        for (int row = 0; row < 13; ++row)
            EXPECT_EQ(report.gd->rowHeight(row), h);
    }
    report.FormClose();
    EXPECT_EQ(report.gd->columnCount(), 2);
    EXPECT_EQ(report.windowTitle(), "結果レポート");
    EXPECT_EQ(report.Button1->text(), "閉じる");
    EXPECT_EQ(report.Button1->geometry(), QRect(1, 2, 65, 33));
    EXPECT_EQ(report.Panel1->text(),
              QString(19, ' ') + "注：結果ファイルはReportディレクリにあるもののみを読み込みます");
    EXPECT_EQ(report.gd->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

TEST(Report, StoredNamesInEitherEncodingAllAppearWithTheirValues) {
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path() + "/");
    struct Case {
        QByteArray name; // the directory entry's bytes
        QString heading;
    } cases[] = {
        {"\x8C\x8B\x89\xCA.txt", "結果.txt"}, // CP932, as the original platform wrote it
        {"\xE7\xB5\x90\xE6\x9E\x9C"
         "2.txt",
         "結果2.txt"}, // UTF-8, as saved here
        {"plain.txt", "plain.txt"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        // Opened by its bytes: a file name decoded as UTF-8 would lose them.
        const int fd = ::open((folder + cases[i].name).constData(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        const std::string bytes = StoredResult("", std::to_string(i).c_str(), "9");
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::close(fd);
    }
    TForm1 form;
    TForm4 report;
    BoxRecorder boxes;
    EXPECT_TRUE(Application->RunCommand([&] { form.FillReport(dir.path() + "/"); }));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(report.gd->columnCount(), 2 + static_cast<int>(std::size(cases)));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const int column = ColumnOf(report, cases[i].heading);
        ASSERT_GE(column, 2) << cases[i].heading.toStdString();
        EXPECT_EQ(report.Cell(column, 6), QString::number(i));
    }
}

TEST(Report, OnlyRegularFilesOfResultSizeAreRead) {
    struct Case {
        const char* what;
        std::function<void(const QString&)> make;
        const char* reason;
    } cases[] = {
        {"FIFO", [](const QString& path) { ::mkfifo(QFile::encodeName(path).constData(), 0600); },
         "Not a regular file"},
        {"device", [](const QString& path) { QFile::link("/dev/zero", path); },
         "Not a regular file"},
        {"megabytes", [](const QString& path) { WriteBytes(path, std::string(2 << 20, 'x')); },
         "2097152 bytes is no result file"},
    };
    for (const Case& c : cases) {
        QTemporaryDir folder;
        c.make(folder.filePath("z.txt"));
        TForm1 form;
        TForm4 report;
        BoxRecorder boxes;
        // Refused at once: the FIFO has no writer, and would block an open that waits.
        EXPECT_FALSE(Application->RunCommand([&] { form.FillReport(folder.path() + "/"); }))
            << c.what;
        ASSERT_EQ(boxes.boxes.size(), 1u) << c.what;
        EXPECT_TRUE(boxes.boxes[0].text.contains(c.reason)) << boxes.boxes[0].text.toStdString();
        EXPECT_TRUE(boxes.boxes[0].text.contains("z.txt"));
        QFile::remove(folder.filePath("z.txt")); // a FIFO is no file to QTemporaryDir
    }
}

TEST(TerminalReport, DisplayWidthCountsWideCharactersTwice) {
    struct Case {
        const char* text;
        int width;
    } cases[] = {{"", 0},   {"CPU", 3},  {"メモ　", 6},           {"ＣＰＵ性能", 10},
                 {"ｶﾅ", 2}, {"a\tb", 2}, {"Direct3D性能(3D)", 16}};
    for (const Case& c : cases)
        EXPECT_EQ(DisplayWidth(QString::fromUtf8(c.text)), c.width) << c.text;
}

TEST(TerminalReport, ColumnsLineUpByDisplayWidth) {
    TForm4 report;
    report.gd->setColumnCount(3);
    const char* cells[3][3] = {
        {"", "現在の値", "a.txt"}, {"メモ　  ", "", "[自由]"}, {"総合評価", "824", "1"}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            report.SetCell(c, r, QString::fromUtf8(cells[r][c]));
    const QStringList lines = ReportText(report).split('\n');
    ASSERT_EQ(lines.size(), 4); // three rows, the empty ones left out, and the last line end
    EXPECT_EQ(lines[0], "          現在の値  a.txt");
    EXPECT_EQ(lines[1], "メモ                [自由]");
    EXPECT_EQ(lines[2], "総合評価  824       1");
    EXPECT_EQ(lines[3], "");
}
