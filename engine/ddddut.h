#pragma once
// Two 2-D drawing objects over the engine's surfaces: a sprite set drawn level by level, and a
// tiled background layer that wraps in both directions. Both draw onto the engine's back buffer
// through the surfaces' clipped copies; bad arguments are logged and skipped.
#include "LevelBuckets.h"
#include "dddd.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class TDDDDSprite;

// One sprite; the application sets its fields directly.
class TDDDDSprReg {
public:
    explicit TDDDDSprReg(TDDDDSprite* owner) : Owner(owner) {}

    std::int32_t ScaleXNum = 1;
    std::int32_t ScaleXDen = 1;
    std::int32_t ScaleYNum = 1;
    std::int32_t ScaleYDen = 1;
    // Either one on: the sprite is drawn scaled by the fractions above.
    bool StretchX = false;
    bool StretchY = false;
    TDDDDSprite* Owner = nullptr;
    std::int32_t IShape = 0;
    // Added to IShape: the shape drawn is IShape + ShapeOffset.
    std::int32_t ShapeOffset = 0;
    std::int32_t X = 0;
    std::int32_t Y = 0;
    // Drawing level, 0 .. Owner->MaxZ; lower levels are drawn first.
    std::int32_t Z = 0;
    bool Visible = false;
};

// A rectangle of a surface that sprites show.
struct TDDDDShape {
    TDDDDGenSurface* Surface = nullptr;
    RECT Rect{0, 0, 0, 0};
};

// A fixed set of sprites and shapes. Each DrawAll sorts the visible sprites into per-level rows
// of a table made by SetMaxZ, so a frame allocates nothing.
class TDDDDSprite {
public:
    TDDDDSprite(std::int32_t spriteCount, std::int32_t shapeCount);
    TDDDDSprite(const TDDDDSprite&) = delete;
    TDDDDSprite& operator=(const TDDDDSprite&) = delete;

    const std::int32_t SpriteCount;
    const std::int32_t ShapeCount;
    std::vector<TDDDDShape> Shapes;
    std::vector<std::unique_ptr<TDDDDSprReg>> Regs;
    // Handed to every scaled copy.
    DDBLTFX BltFx{};
    std::int32_t MaxZ = 0;
    // Smallest k >= 0 with 2^k >= SpriteCount: a level's row holds 2^ZShift sprite numbers.
    std::int32_t ZShift = 0;
    TLevelBuckets Buckets;

    void SetMaxZ(std::int32_t maxZ);
    void SetShape(std::int32_t index, TDDDDGenSurface* surface, const RECT& rect);
    // Null (with a log line) for a number outside the set.
    TDDDDSprReg* GetReg(std::int32_t index);
    void DrawAll();

private:
    void Sort();
    void DrawLevel(std::int32_t z);
    void DrawOne(const TDDDDSprReg& reg);
};

// A background chip: a rectangle of a surface, drawn with or without its colour key.
struct TDDDDChip {
    TDDDDGenSurface* Surface = nullptr;
    RECT Rect{0, 0, 0, 0};
    bool Transparent = false;
};

// One background layer: a map of cells naming chips, drawn from the scroll position so that it
// repeats in both directions over the whole screen.
class TDDDDBG {
public:
    static constexpr std::int32_t ChipCount = 1024;
    // A cell that draws nothing.
    static constexpr std::uint16_t EmptyCell = 0xFFFF;

    // The map starts with every cell empty.
    TDDDDBG(std::int32_t mapWidth, std::int32_t mapHeight, std::int32_t chipWidth,
            std::int32_t chipHeight);
    TDDDDBG(const TDDDDBG&) = delete;
    TDDDDBG& operator=(const TDDDDBG&) = delete;

    std::array<TDDDDChip, ChipCount> Chips{};
    // Row-major: cell (col, row) is at col + row * MapWidth.
    std::vector<std::uint16_t> Map;
    const std::int32_t MapWidth;
    const std::int32_t MapHeight;
    const std::int32_t ChipWidth;
    const std::int32_t ChipHeight;
    const std::int32_t TotalWidth;
    const std::int32_t TotalHeight;
    // The map pixel shown at the back buffer's top-left corner; any value, taken modulo the map.
    std::int32_t ScrollX = 0;
    std::int32_t ScrollY = 0;
    bool Visible = true;

    // Chip index takes (x, y) .. (x + ChipWidth, y + ChipHeight) of the surface.
    void SetChip(std::int32_t index, TDDDDGenSurface* surface, std::int32_t x, std::int32_t y,
                 bool transparent);
    void SetCell(std::int32_t col, std::int32_t row, std::uint16_t chip);
    // EmptyCell outside the map.
    std::uint16_t GetCell(std::int32_t col, std::int32_t row) const;
    // Covers the display's current resolution (not the back buffer's size) with cells.
    void DrawBG();

private:
    bool InMap(std::int32_t col, std::int32_t row) const;
};
