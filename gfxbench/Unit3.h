#pragma once
// The DirectDraw and Direct3D test window.
#include "forms/Forms.h"

class TForm3 : public TForm {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);
};

extern TForm3* Form3;
