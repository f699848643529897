#pragma once
// The about box: the program's icon, name and version, and an OK button.
#include "forms/Forms.h"

class QGroupBox;
class QLabel;
class QPushButton;
class TImage;

class TForm5 : public TForm {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);

    void BitBtn1Click();

    QGroupBox* GroupBox1 = nullptr;
    TImage* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* BitBtn1 = nullptr;

protected:
    // Esc closes the box.
    void keyPressEvent(QKeyEvent* event) override;
};

// The program's icon, 32 x 32.
QPixmap ProgramIcon();

extern TForm5* Form5;
