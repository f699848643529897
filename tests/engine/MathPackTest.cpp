#include "engine/s_MathPack.h"

#include <cmath>
#include <gtest/gtest.h>

TEST(MathPack, TablesHoldTheQuarterTurnsExactly) {
    InitMathTables();
    struct Case {
        int index;
        float sin, cos;
    } cases[] = {
        {0, 0.0f, 1.0f},
        {1024, 1.0f, 0.0f},
        {2048, 0.0f, -1.0f},
        {3072, -1.0f, 0.0f},
        {512, static_cast<float>(std::sqrt(0.5L)), static_cast<float>(std::sqrt(0.5L))},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(SinTable[c.index], c.sin, 1e-7f) << c.index;
        EXPECT_NEAR(CosTable[c.index], c.cos, 1e-7f) << c.index;
    }
    EXPECT_EQ(SinTable[1024], 1.0f);
    // Every entry is the single nearest to the extended-precision value.
    for (int i = 0; i < 4096; i += 37) {
        const long double angle = i * 3.141592653589793238462643383279502884L / 2048.0L;
        EXPECT_EQ(SinTable[i], static_cast<float>(std::sin(angle))) << i;
        EXPECT_EQ(CosTable[i], static_cast<float>(std::cos(angle))) << i;
    }
    const float before = SinTable[77];
    InitMathTables();
    EXPECT_EQ(SinTable[77], before);
}

TEST(MathPack, RotationTurnsClockwiseOnTheScreenAndWrapsTheAngle) {
    InitMathTables();
    struct Case {
        TVec2 v;
        std::int32_t angle;
        TVec2 expected;
    } cases[] = {
        {{0, -128}, 1024, {128, 0}},
        {{0, -128}, 4096 + 1024, {128, 0}},
        {{0, -128}, 1024 - 4096 * 3, {128, 0}},
        {{0, -128}, -3072, {128, 0}},
        {{0, 64}, 0, {0, 64}},
        {{0, 64}, 2048, {0, -64}},
        {{10, 0}, 1024, {0, 10}}, // right turns to down
        {{3, 4},
         512,
         {static_cast<float>(-1 / std::sqrt(2.0)), static_cast<float>(7 / std::sqrt(2.0))}},
    };
    for (const Case& c : cases) {
        TVec2 r;
        VecRotate(c.v, c.angle, r);
        EXPECT_NEAR(r.X, c.expected.X, 1e-5f) << c.angle;
        EXPECT_NEAR(r.Y, c.expected.Y, 1e-5f) << c.angle;
    }
    TVec2 v = Vec2(0, -128);
    VecRotate(v, 1024, v); // in place
    EXPECT_NEAR(v.X, 128.0f, 1e-5f);
    EXPECT_NEAR(v.Y, 0.0f, 1e-5f);
}

TEST(MathPack, AdditionAndSubtraction) {
    TVec2 r;
    VecAdd(Vec2(328, 328), Vec2(-1.5f, 64), r);
    EXPECT_EQ(r.X, 326.5f);
    EXPECT_EQ(r.Y, 392.0f);
    VecSub(Vec2(1, 2), Vec2(3, 5), r);
    EXPECT_EQ(r.X, -2.0f);
    EXPECT_EQ(r.Y, -3.0f);
    TVec2 a = Vec2(1e8f, 1);
    VecAdd(a, Vec2(1, 1), a); // aliasing the result is fine
    EXPECT_EQ(a.X, 1e8f);     // stored as single
    EXPECT_EQ(a.Y, 2.0f);
}
