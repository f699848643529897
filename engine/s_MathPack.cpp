#include "s_MathPack.h"

#include <cmath>

float SinTable[4096];
float CosTable[4096];

namespace {
constexpr long double kPi = 3.141592653589793238462643383279502884L;
}

void InitMathTables() {
    for (int i = 0; i < 4096; ++i) {
        const long double angle = static_cast<long double>(static_cast<float>(i)) * kPi / 2048.0L;
        SinTable[i] = static_cast<float>(std::sin(angle));
        CosTable[i] = static_cast<float>(std::cos(angle));
    }
}

TVec2 Vec2(float x, float y) {
    return {x, y};
}

void VecAdd(const TVec2& a, const TVec2& b, TVec2& r) {
    r.X = static_cast<float>(static_cast<long double>(a.X) + b.X);
    r.Y = static_cast<float>(static_cast<long double>(a.Y) + b.Y);
}

void VecSub(const TVec2& a, const TVec2& b, TVec2& r) {
    r.X = static_cast<float>(static_cast<long double>(a.X) - b.X);
    r.Y = static_cast<float>(static_cast<long double>(a.Y) - b.Y);
}

void VecRotate(const TVec2& v, std::int32_t angle, TVec2& r) {
    const int a = angle & 4095;
    const long double x = v.X, y = v.Y;
    // Both results are computed before either is stored, so rotating a vector in place works.
    const long double rx = x * CosTable[a] - y * SinTable[a];
    const long double ry = x * SinTable[a] + y * CosTable[a];
    r.X = static_cast<float>(rx);
    r.Y = static_cast<float>(ry);
}
