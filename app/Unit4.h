#pragma once
// The result comparison report window.
#include "forms/Forms.h"

class TForm4 : public TForm {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);
};

extern TForm4* Form4;
