#include "Unit4.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTableWidget>

TForm4* Form4 = nullptr;

namespace {

constexpr int kGridLine = 2;
const QColor kFixedColour(0xC0, 0xC0, 0xC0);
const QColor kCellColour(0x00, 0x00, 0x80);
const QColor kTextColour(0xFF, 0xFF, 0x00);
const QColor kLineColour(0x00, 0x00, 0x00);

// Draws a cell inside 2-pixel grid lines: fixed cells (first row and column) grey with black
// text, the others navy with yellow bold text.
class CellPainter : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool fixed = index.row() == 0 || index.column() == 0;
        const QRect cell = option.rect.adjusted(0, 0, -kGridLine, -kGridLine);
        painter->fillRect(option.rect, kLineColour);
        QColor fill = fixed ? kFixedColour : kCellColour;
        if (!fixed && (option.state & QStyle::State_Selected))
            fill = option.palette.highlight().color();
        painter->fillRect(cell, fill);
        QFont font = option.font;
        font.setBold(!fixed);
        painter->setFont(font);
        painter->setPen(fixed ? Qt::black : kTextColour);
        painter->drawText(cell.adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter,
                          index.data().toString());
    }
};

// Column borders may be dragged anywhere in the grid, as the grid has no visible header.
class ColumnSizer : public QObject {
public:
    explicit ColumnSizer(QTableWidget* grid) : QObject(grid), grid_(grid) {}

    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            const int column = BorderAt(mouse->position().toPoint().x());
            if (column < 0 || mouse->button() != Qt::LeftButton)
                return false;
            dragging_ = column;
            startX_ = mouse->position().toPoint().x();
            startWidth_ = grid_->columnWidth(column);
            return true;
        }
        case QEvent::MouseMove: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            const int x = mouse->position().toPoint().x();
            if (dragging_ >= 0) {
                grid_->setColumnWidth(dragging_,
                                      std::max(kGridLine + 1, startWidth_ + x - startX_));
                return true;
            }
            grid_->viewport()->setCursor(BorderAt(x) >= 0 ? Qt::SplitHCursor : Qt::ArrowCursor);
            return false;
        }
        case QEvent::MouseButtonRelease:
            if (dragging_ < 0)
                return false;
            dragging_ = -1;
            return true;
        default:
            return false;
        }
    }

private:
    // The column whose right border is within 3 pixels of x, or -1.
    int BorderAt(int x) const {
        int right = 0;
        for (int c = 0; c < grid_->columnCount(); ++c) {
            right += grid_->columnWidth(c);
            if (std::abs(x - right) <= 3)
                return c;
        }
        return -1;
    }

    QTableWidget* grid_;
    int dragging_ = -1;
    int startX_ = 0;
    int startWidth_ = 0;
};

} // namespace

TForm4::TForm4(QWidget* parent) : TForm(parent) {
    Form4 = this;
    setObjectName("TForm4");
    setWindowTitle("結果レポート");
    QFont font("ＭＳ Ｐゴシック");
    font.setPixelSize(12);
    setFont(font);
    // An outer size of 710 x 521 with a dialog frame leaves this client area.
    // Fixed, so a tiling compositor floats it at its designed size.
    setFixedSize(702, 494);
    move((ScreenWidth() - 710) / 2, (ScreenHeight() - 521) / 2);

    gd = new QTableWidget(kRowCount, 2, this);
    gd->setObjectName("gd");
    gd->horizontalHeader()->hide();
    gd->verticalHeader()->hide();
    gd->horizontalHeader()->setMinimumSectionSize(1);
    gd->verticalHeader()->setMinimumSectionSize(1);
    gd->setShowGrid(false);
    gd->setItemDelegate(new CellPainter(gd));
    gd->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    gd->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    gd->setSelectionMode(QAbstractItemView::ContiguousSelection);
    gd->setEditTriggers(QAbstractItemView::NoEditTriggers);
    gd->setFrameShape(QFrame::NoFrame);
    gd->setStyleSheet("QTableWidget { background-color: #000000; }");
    for (int row = 0; row < kRowCount; ++row)
        gd->setRowHeight(row, 24);
    gd->viewport()->setMouseTracking(true);
    gd->viewport()->installEventFilter(new ColumnSizer(gd));

    Panel1 = new QLabel(
        QString(19, ' ') + "注：結果ファイルはReportディレクリにあるもののみを読み込みます", this);
    Panel1->setObjectName("Panel1");
    Panel1->setFixedHeight(35);
    Panel1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Panel1->setStyleSheet("QLabel { background-color: #C0C0C0; }");
    Button1 = new QPushButton("閉じる", Panel1);
    Button1->setObjectName("Button1");
    Button1->setGeometry(1, 2, 65, 33);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setFixedHeight(19);
    StatusBar1->setSizeGripEnabled(false);

    AlignComponents();
}

QString TForm4::Cell(int column, int row) const {
    if (column < 0 || column >= gd->columnCount() || row < 0 || row >= gd->rowCount())
        return {};
    const QTableWidgetItem* item = gd->item(row, column);
    return item ? item->text() : QString();
}

void TForm4::SetCell(int column, int row, const QString& text) {
    if (column < 0 || column >= gd->columnCount() || row < 0 || row >= gd->rowCount())
        return;
    if (QTableWidgetItem* item = gd->item(row, column))
        item->setText(text);
    else
        gd->setItem(row, column, new QTableWidgetItem(text));
}

void TForm4::Button1Click() {
    Close();
}

void TForm4::AlignComponents() {
    // The status bar at the bottom, the strip above it, the grid over the rest.
    const int w = width(), h = height();
    StatusBar1->setGeometry(0, h - 19, w, 19);
    Panel1->setGeometry(0, h - 19 - 35, w, 35);
    gd->setGeometry(0, 0, w, std::max(0, h - 19 - 35));
}

void TForm4::FitCells() {
    AlignComponents(); // the grid's size of this moment, also before the first show
    const int w = gd->width() / gd->columnCount();
    const int h = gd->height() / gd->rowCount();
    for (int c = 0; c < gd->columnCount(); ++c)
        if (gd->columnWidth(c) != w)
            gd->setColumnWidth(c, w);
    for (int r = 0; r < gd->rowCount(); ++r)
        if (gd->rowHeight(r) != h)
            gd->setRowHeight(r, h);
}

void TForm4::FormPaint() {
    FitCells();
}
void TForm4::FormResize() {
    FitCells();
}
void TForm4::FormClose() {
    gd->setColumnCount(2);
}

void TForm4::paintEvent(QPaintEvent* event) {
    TForm::paintEvent(event);
    FormPaint();
}

void TForm4::resizeEvent(QResizeEvent* event) {
    TForm::resizeEvent(event);
    FormResize();
}

void TForm4::closeEvent(QCloseEvent* event) {
    FormClose();
    TForm::closeEvent(event);
}

void TForm4::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        Close();
        return;
    }
    TForm::keyPressEvent(event);
}
