#include "Program.h"

#include "Unit1.h"
#include "Unit4.h"
#include "Unit5.h"
#include "forms/Application.h"
#include "gfxbench/Unit2.h"
#include "gfxbench/Unit3.h"

void CreateProgramForms(TApplication& application) {
    application.SetTitle(kApplicationTitle);
    TForm1* main = application.CreateForm<TForm1>();
    application.CreateForm<TForm2>(*main);
    application.CreateForm<TForm3>(*main);
    application.CreateForm<TForm4>();
    application.CreateForm<TForm5>();
}
