#pragma once
// A fixed workload of the primitive renderer's tests: six additive textured squares. The test
// scene itself (gfxbench/Unit3) is tested and benchmarked through its own window.
#include "engine/Primitives.h"
#include "engine/dddd.h"

// The Direct3D test's third phase: six additive squares of half-size 200 around the target's
// centre, square i turning at i + 1 times the clock's angle.
inline void AddSixSquares(TPrimitiveRenderer& renderer, DWORD clock) {
    static const D3DCOLOR colours[6] = {0xFFFF0000, 0xFF00FF00, 0x000000FF,
                                        0x88888888, 0x00FFFF00, 0xFF0000FF};
    const TVec2 centre = Vec2(200, 200);
    for (DWORD i = 0; i < 6; ++i) {
        TVec2 b, e, p1, p2, p3, p4;
        VecRotate(Vec2(0, -200), static_cast<std::int32_t>(clock * (i + 1)), b);
        e = Vec2(-b.Y, b.X);
        VecAdd(centre, b, p1);
        p2 = p1;
        VecSub(p1, e, p1);
        VecAdd(p2, e, p2);
        VecSub(centre, b, p3);
        p4 = p3;
        VecSub(p3, e, p3);
        VecAdd(p4, e, p4);
        renderer.AddQuad(0, p1, p2, p3, p4, 0, pbAdditive, colours[i]);
    }
}
