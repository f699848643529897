#include "Unit5.h"

#include "forms/Controls.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

TForm5* Form5 = nullptr;

QPixmap ProgramIcon() {
    QPixmap icon(32, 32);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0xFF, 0xFF, 0x00), 2));
    p.setBrush(QColor(0x00, 0x00, 0x80));
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    QFont font("ＭＳ Ｐゴシック");
    font.setPixelSize(20);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(0xFF, 0xFF, 0x00));
    p.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, "ゼ");
    return icon;
}

namespace {

// The OK button's glyph: a green tick.
QIcon OkGlyph() {
    QPixmap glyph(12, 12);
    glyph.fill(Qt::transparent);
    QPainter p(&glyph);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x00, 0x80, 0x00), 2));
    p.drawPolyline(QPolygonF({QPointF(1.5, 6.5), QPointF(4.5, 9.5), QPointF(10.5, 2.5)}));
    return QIcon(glyph);
}

} // namespace

TForm5::TForm5(QWidget* parent) : TForm(parent) {
    Form5 = this;
    setObjectName("TForm5");
    setWindowTitle("バージョン情報");
    // A dialog's border: a title and a close box, no maximise box, no resizing.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    QFont font("ＭＳ Ｐゴシック");
    font.setPixelSize(12);
    setFont(font);
    setFixedSize(136, 112);
    move((ScreenWidth() - width()) / 2, (ScreenHeight() - height()) / 2);
    setWindowIcon(ProgramIcon());

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(0, 0, 129, 105);

    Image1 = new TImage(GroupBox1);
    Image1->setObjectName("Image1");
    Image1->setGeometry(8, 16, 32, 32);
    Image1->SetPicture(ProgramIcon());

    Label1 = new QLabel("ゼルカ", GroupBox1);
    Label1->setObjectName("Label1");
    Label1->move(56, 16);
    Label1->adjustSize();

    Label2 = new QLabel("Ver.2.10", GroupBox1);
    Label2->setObjectName("Label2");
    Label2->setStyleSheet("QLabel { color: #FF0000; font-weight: bold; }");
    Label2->move(56, 32);
    Label2->adjustSize();

    Label3 = new QLabel("(C) Orvane", GroupBox1);
    Label3->setObjectName("Label3");
    Label3->move(56, 50);
    Label3->adjustSize();

    BitBtn1 = new QPushButton(OkGlyph(), "OK", GroupBox1);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setGeometry(72, 72, 43, 25);
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
}

void TForm5::BitBtn1Click() {
    Close();
}

void TForm5::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        Close();
        return;
    }
    TForm::keyPressEvent(event);
}
