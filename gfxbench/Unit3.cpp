#include "Unit3.h"

TForm3* Form3 = nullptr;

TForm3::TForm3(QWidget* parent) : TForm(parent) {
    Form3 = this;
    setObjectName("TForm3");
}
