#include "TerminalReport.h"

#include "Unit1.h"
#include "Unit4.h"
#include "forms/Application.h"

#include <QTableWidget>
#include <vector>

namespace {

bool IsWide(char32_t c) {
    struct Range {
        char32_t first, last;
    };
    static constexpr Range kWide[] = {
        {0x1100, 0x115F},   {0x2E80, 0x303E}, {0x3041, 0x33FF}, {0x3400, 0x4DBF},
        {0x4E00, 0x9FFF},   {0xA000, 0xA4CF}, {0xAC00, 0xD7A3}, {0xF900, 0xFAFF},
        {0xFE30, 0xFE4F},   {0xFF00, 0xFF60}, {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F},
        {0x20000, 0x3FFFD},
    };
    for (const Range& r : kWide)
        if (c >= r.first && c <= r.last)
            return true;
    return false;
}

QString TrimmedRight(const QString& text) {
    qsizetype end = text.size();
    while (end > 0 && text[end - 1].isSpace())
        --end;
    return text.left(end);
}

} // namespace

int DisplayWidth(const QString& text) {
    int width = 0;
    for (const char32_t c : text.toUcs4()) {
        if (c < 0x20 || (c >= 0x7F && c < 0xA0))
            continue;
        width += IsWide(c) ? 2 : 1;
    }
    return width;
}

QString ReportText(const TForm4& report) {
    const int columns = report.gd->columnCount();
    const int rows = report.gd->rowCount();
    std::vector<int> widths(static_cast<std::size_t>(columns), 0);
    for (int c = 0; c < columns; ++c)
        for (int r = 0; r < rows; ++r)
            widths[c] = std::max(widths[c], DisplayWidth(TrimmedRight(report.Cell(c, r))));
    QString text;
    for (int r = 0; r < rows; ++r) {
        QString line;
        bool any = false;
        for (int c = 0; c < columns; ++c) {
            const QString cell = TrimmedRight(report.Cell(c, r));
            any = any || !cell.isEmpty();
            if (c > 0)
                line += "  ";
            line += cell + QString(widths[c] - DisplayWidth(cell), ' ');
        }
        if (any)
            text += TrimmedRight(line) + "\n";
    }
    return text;
}

int PrintReport(TForm1& form, TForm4& report, std::FILE* out) {
    const bool ok =
        Application->RunCommand([&form] { form.FillReport(ProgramDirectory() + "Report/"); });
    if (!ok)
        return 1;
    std::fputs(ReportText(report).toUtf8().constData(), out);
    std::fflush(out);
    return 0;
}
