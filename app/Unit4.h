#pragma once
// The result comparison report window: a grid of the current values beside those of every
// stored result file, one column per file.
#include "forms/Forms.h"

#include <QString>

class QLabel;
class QPushButton;
class QStatusBar;
class QTableWidget;

class TForm4 : public TForm {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);

    static constexpr int kRowCount = 13;

    // Cell text; the grid grows only through setColumnCount.
    QString Cell(int column, int row) const;
    void SetCell(int column, int row, const QString& text);

    void Button1Click();
    // Every column gets an equal share of the grid's width, every row of its height.
    void FormPaint();
    void FormResize();
    // Drops the file columns.
    void FormClose();

    QTableWidget* gd = nullptr;
    QLabel* Panel1 = nullptr;
    QPushButton* Button1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Esc closes the window.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void AlignComponents();
    void FitCells();
};

extern TForm4* Form4;
