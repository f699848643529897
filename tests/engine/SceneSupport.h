#pragma once
// The scenes of the engine tests: the Direct3D test's third-phase quads, and the DirectDraw
// test's layers and sprites.
#include "engine/Primitives.h"
#include "engine/dddd.h"
#include "engine/ddddut.h"
#include "platform/Random.h"

#include <array>
#include <memory>
#include <string>

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

// On an engine: four layers over the archive's pictures and 301 sprites of the sprite sheet,
// moved and drawn one frame at a time as the DirectDraw test does.
struct DirectDrawScene {
    DirectDrawScene(TDDDD& engine, const std::string& archive) {
        samp4 = Load(engine, archive, "samp4.bmp", 100, 100);
        boss2 = Load(engine, archive, "boss2.bmp", 256, 256);
        samp3 = Load(engine, archive, "samp3.bmp", 100, 100);
        sheet = Load(engine, archive, "samp5.bmp", 160, 32);
        layers[0] = Layer(samp4.get(), 100);
        layers[1] = Layer(boss2.get(), 256);
        layers[2] = Layer(boss2.get(), 256);
        layers[3] = Layer(samp3.get(), 100);
        sprites = std::make_unique<TDDDDSprite>(301, 301);
        for (int i = 0; i < 6; ++i)
            sprites->SetShape(i, sheet.get(), RECT{32 * i, 0, 32 * i + 32, 32});
        for (int i = 0; i < 301; ++i) {
            TDDDDSprReg& r = *sprites->GetReg(i);
            r.IShape = Random(6);
            r.Visible = true;
        }
    }
    void Place() {
        for (int i = 0; i < 301; ++i) {
            TDDDDSprReg& r = *sprites->GetReg(i);
            r.X = Random(640);
            r.Y = Random(480);
        }
    }
    static int Speed(int frameNumber) {
        if (frameNumber <= 300)
            return 1;
        if (frameNumber <= 500)
            return 2;
        if (frameNumber <= 700)
            return 4;
        if (frameNumber <= 900)
            return 6;
        return 10;
    }
    // Scroll and draw the layers, jitter and draw the sprites: the frame before its present.
    void Draw(int frameNumber) {
        const int s = Speed(frameNumber);
        layers[0]->ScrollY += s;
        layers[0]->DrawBG();
        layers[1]->ScrollX += s;
        layers[1]->DrawBG();
        layers[2]->ScrollX -= s;
        layers[2]->DrawBG();
        layers[3]->ScrollY += 3 * s;
        layers[3]->DrawBG();
        for (int i = 0; i < 301; ++i) {
            TDDDDSprReg& r = *sprites->GetReg(i);
            r.X += Random(2) == 1 ? Random(s + 2) : -Random(s + 2);
            r.Y += Random(2) == 1 ? Random(s + 2) : -Random(s + 2);
        }
        sprites->DrawAll();
    }

    std::unique_ptr<TDDDDSurface> samp4, boss2, samp3, sheet;
    std::array<std::unique_ptr<TDDDDBG>, 4> layers;
    std::unique_ptr<TDDDDSprite> sprites;

private:
    static std::unique_ptr<TDDDDSurface> Load(TDDDD& engine, const std::string& archive,
                                              const char* entry, int width, int height) {
        auto surface = std::make_unique<TDDDDSurface>(&engine, width, height, 0);
        surface->LoadFromArchive(archive, entry);
        return surface;
    }
    static std::unique_ptr<TDDDDBG> Layer(TDDDDSurface* surface, int chip) {
        auto layer = std::make_unique<TDDDDBG>(1, 1, chip, chip);
        layer->SetChip(0, surface, 0, 0, true);
        layer->SetCell(0, 0, 0);
        return layer;
    }
};
