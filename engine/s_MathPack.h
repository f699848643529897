#pragma once
// 2-D vectors of singles and rotation by table, with angles in 4096ths of a turn.
#include <cstdint>

struct TVec2 {
    float X = 0;
    float Y = 0;
};

// SinTable[i] = sin(i * pi / 2048), CosTable[i] = cos(i * pi / 2048), i = 0 ... 4095.
extern float SinTable[4096];
extern float CosTable[4096];

// Fills both tables, computing in extended precision; running it again gives the same values.
// Must run before the first VecRotate.
void InitMathTables();

TVec2 Vec2(float x, float y);
void VecAdd(const TVec2& a, const TVec2& b, TVec2& r);
void VecSub(const TVec2& a, const TVec2& b, TVec2& r);
// Turns v by angle 4096ths of a turn (only the low 12 bits count). With y pointing down on
// the screen a growing angle turns clockwise. r may be v itself.
void VecRotate(const TVec2& v, std::int32_t angle, TVec2& r);
