#pragma once
// The program's start: the application title and its windows, once each, in order.
class TApplication;

inline constexpr const char* kApplicationTitle = "ゼルカ";

// Sets the title and creates the main window, the GDI test window, the DirectDraw/Direct3D
// test window, the comparison report and the about box, in this order.
void CreateProgramForms(TApplication& application);
