#pragma once
// The GDI drawing test window.
#include "forms/Forms.h"

class TForm2 : public TForm {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
};

extern TForm2* Form2;
