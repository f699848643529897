#include "Unit2.h"

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* parent) : TForm(parent) {
    Form2 = this;
    setObjectName("TForm2");
}
