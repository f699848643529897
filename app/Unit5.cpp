#include "Unit5.h"

TForm5* Form5 = nullptr;

TForm5::TForm5(QWidget* parent) : TForm(parent) {
    Form5 = this;
    setObjectName("TForm5");
}
