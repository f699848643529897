// Sprites and background layers drawn onto the back buffer. A copy is first tried without
// waiting for the blitter and repeated once with waiting when that fails; the second result is
// not examined.
#include "ddddut.h"

#include "dddd_private.h"
#include "directx/ScreenDevice.h"

#include <algorithm>
#include <string>

using dddd::Warn;

namespace {

// Two's-complement wrap of a 64-bit value into 32 bits, as 32-bit arithmetic would give it.
std::int32_t Wrap32(std::int64_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

// A scaled extent: the 32-bit product divided with truncation toward zero.
std::int32_t ScaledExtent(std::int32_t extent, std::int32_t num, std::int32_t den) {
    const std::int32_t product = Wrap32(std::int64_t{extent} * num);
    return Wrap32(std::int64_t{product} / den);
}

void DrawFastTwice(TDDDDGenSurface& surface, std::int32_t x, std::int32_t y, const RECT& rect,
                   DWORD flags) {
    if (surface.DrawFast(x, y, rect, flags) != DD_OK)
        surface.DrawFast(x, y, rect, flags | DDBLTFAST_WAIT);
}

const char* const kZWarning = "Z=%lldは無効です、Z値は0から%lldの範囲にしてください";

} // namespace

// ---- TDDDDSprite ----

TDDDDSprite::TDDDDSprite(std::int32_t spriteCount, std::int32_t shapeCount)
    : SpriteCount(std::max(spriteCount, 0)), ShapeCount(std::max(shapeCount, 0)),
      Shapes(static_cast<std::size_t>(ShapeCount)) {
    Regs.reserve(static_cast<std::size_t>(SpriteCount));
    for (std::int32_t i = 0; i < SpriteCount; ++i)
        Regs.push_back(std::make_unique<TDDDDSprReg>(this));
    BltFx.dwSize = sizeof(DDBLTFX);
    SetMaxZ(0);
}

void TDDDDSprite::SetMaxZ(std::int32_t maxZ) {
    ZShift = 0;
    while ((std::int64_t{1} << ZShift) < SpriteCount)
        ++ZShift;
    // A negative top level leaves no levels at all: every visible sprite is then out of range.
    Buckets.Resize(maxZ, std::size_t{1} << ZShift);
    MaxZ = maxZ;
}

void TDDDDSprite::SetShape(std::int32_t index, TDDDDGenSurface* surface, const RECT& rect) {
    if (index < 0 || index >= ShapeCount) {
        Warn("DDDDSprite.SetShape: Index=%lldは無効です、0から%lldの範囲にしてください", index,
             ShapeCount - 1);
        return;
    }
    Shapes[static_cast<std::size_t>(index)] = TDDDDShape{surface, rect};
}

TDDDDSprReg* TDDDDSprite::GetReg(std::int32_t index) {
    if (index < 0 || index >= SpriteCount) {
        Warn("DDDDSprite.GetReg: Index=%lldは無効です、0から%lldの範囲にしてください", index,
             SpriteCount - 1);
        return nullptr;
    }
    return Regs[static_cast<std::size_t>(index)].get();
}

void TDDDDSprite::DrawAll() {
    Sort();
    for (std::int32_t z = 0; z <= MaxZ; ++z)
        DrawLevel(z);
}

void TDDDDSprite::Sort() {
    // Lower sprite numbers come last in their level, so the lowest number lies on top.
    Buckets.Sort(
        SpriteCount,
        [this](std::int32_t i) -> std::optional<std::int32_t> {
            const TDDDDSprReg& reg = *Regs[static_cast<std::size_t>(i)];
            if (!reg.Visible)
                return std::nullopt;
            return reg.Z;
        },
        kZWarning);
}

void TDDDDSprite::DrawLevel(std::int32_t z) {
    if (z < 0 || z > MaxZ) {
        Warn(kZWarning, z, MaxZ);
        return;
    }
    for (const std::int32_t i : Buckets.Level(z))
        DrawOne(*Regs[static_cast<std::size_t>(i)]);
}

void TDDDDSprite::DrawOne(const TDDDDSprReg& reg) {
    const std::int64_t s = std::int64_t{reg.IShape} + reg.ShapeOffset;
    if (s < 0 || s >= ShapeCount) {
        Warn("DDDDSprite.IShape=%lldは無効です、IShapeは0から%lldの範囲にしてください", s,
             ShapeCount - 1);
        return;
    }
    const TDDDDShape& shape = Shapes[static_cast<std::size_t>(s)];
    if (!shape.Surface) {
        Warn("DDDDSprite.Shape[%lld]に使うサーフェスが見付かりません", s);
        return;
    }
    if (!reg.StretchX && !reg.StretchY) {
        DrawFastTwice(*shape.Surface, reg.X, reg.Y, shape.Rect, DDBLTFAST_SRCCOLORKEY);
        return;
    }
    // A zero denominator has no scale; the sprite is left out rather than dividing by zero.
    if (reg.ScaleXDen == 0 || reg.ScaleYDen == 0) {
        Warn("DDDDSprite.ScaleXDen=%lld, ScaleYDen=%lldは無効です、分母は0以外にしてください",
             reg.ScaleXDen, reg.ScaleYDen);
        return;
    }
    const RECT& src = shape.Rect;
    const RECT dst{reg.X, reg.Y,
                   Wrap32(std::int64_t{reg.X} +
                          ScaledExtent(src.right - src.left, reg.ScaleXNum, reg.ScaleXDen)),
                   Wrap32(std::int64_t{reg.Y} +
                          ScaledExtent(src.bottom - src.top, reg.ScaleYNum, reg.ScaleYDen))};
    if (shape.Surface->Draw(dst, src, DDBLT_KEYSRC, BltFx) != DD_OK)
        shape.Surface->Draw(dst, src, DDBLT_KEYSRC | DDBLT_WAIT, BltFx);
}

// ---- TDDDDBG ----

TDDDDBG::TDDDDBG(std::int32_t mapWidth, std::int32_t mapHeight, std::int32_t chipWidth,
                 std::int32_t chipHeight)
    : MapWidth(std::max(mapWidth, 0)), MapHeight(std::max(mapHeight, 0)),
      ChipWidth(std::max(chipWidth, 0)), ChipHeight(std::max(chipHeight, 0)),
      TotalWidth(Wrap32(std::int64_t{MapWidth} * ChipWidth)),
      TotalHeight(Wrap32(std::int64_t{MapHeight} * ChipHeight)) {
    Map.assign(static_cast<std::size_t>(MapWidth) * static_cast<std::size_t>(MapHeight), EmptyCell);
}

bool TDDDDBG::InMap(std::int32_t col, std::int32_t row) const {
    return col >= 0 && col < MapWidth && row >= 0 && row < MapHeight;
}

void TDDDDBG::SetChip(std::int32_t index, TDDDDGenSurface* surface, std::int32_t x, std::int32_t y,
                      bool transparent) {
    if (index < 0 || index >= ChipCount) {
        Warn("DDDDBG BGチップ%lld番は無効です。0..%lldの範囲で指定してください", index,
             ChipCount - 1);
        return;
    }
    Chips[static_cast<std::size_t>(index)] =
        TDDDDChip{surface, RECT{x, y, x + ChipWidth, y + ChipHeight}, transparent};
}

void TDDDDBG::SetCell(std::int32_t col, std::int32_t row, std::uint16_t chip) {
    if (!InMap(col, row)) {
        Warn("DDDDBG マップのセル(%lld, %lld)は範囲外です", col, row);
        return;
    }
    Map[static_cast<std::size_t>(col) + static_cast<std::size_t>(row) * MapWidth] = chip;
}

std::uint16_t TDDDDBG::GetCell(std::int32_t col, std::int32_t row) const {
    if (!InMap(col, row))
        return EmptyCell;
    return Map[static_cast<std::size_t>(col) + static_cast<std::size_t>(row) * MapWidth];
}

void TDDDDBG::DrawBG() {
    // A map without cells or pixels has nothing to repeat (and no size to wrap into).
    if (!Visible || MapWidth == 0 || MapHeight == 0 || ChipWidth == 0 || ChipHeight == 0)
        return;
    const std::int64_t totalWidth = std::int64_t{MapWidth} * ChipWidth;
    const std::int64_t totalHeight = std::int64_t{MapHeight} * ChipHeight;
    const std::int64_t sx = (ScrollX % totalWidth + totalWidth) % totalWidth;
    const std::int64_t sy = (ScrollY % totalHeight + totalHeight) % totalHeight;
    const std::int32_t c0 = static_cast<std::int32_t>(sx / ChipWidth);
    const std::int32_t ox = -static_cast<std::int32_t>(sx % ChipWidth);
    const std::int32_t r0 = static_cast<std::int32_t>(sy / ChipHeight);
    const std::int32_t oy = -static_cast<std::int32_t>(sy % ChipHeight);
    const std::int64_t screenWidth = GetDeviceCaps(nullptr, HORZRES);
    const std::int64_t screenHeight = GetDeviceCaps(nullptr, VERTRES);
    const std::int64_t columns = (screenWidth + ChipWidth - ox - 1) / ChipWidth;
    const std::int64_t rows = (screenHeight + ChipHeight - oy - 1) / ChipHeight;

    std::int32_t i = r0 % MapHeight;
    std::int32_t y = oy;
    for (std::int64_t m = 0; m < rows; ++m) {
        const std::size_t rowStart = static_cast<std::size_t>(i) * MapWidth;
        std::int32_t j = c0 % MapWidth;
        std::int32_t x = ox;
        for (std::int64_t n = 0; n < columns; ++n) {
            const std::uint16_t k = Map[rowStart + static_cast<std::size_t>(j)];
            if (k == EmptyCell) {
            } else if (k >= ChipCount) {
                Warn("DDDDBG BGチップ%lld番は無効です。0..%lldの範囲で指定してください", k,
                     ChipCount - 1);
            } else if (const TDDDDChip& chip = Chips[k]; !chip.Surface) {
                Warn("DDDDBG BGチップ%lld番に使うサーフェスが見付かりません", k);
            } else {
                DrawFastTwice(*chip.Surface, x, y, chip.Rect,
                              chip.Transparent ? DDBLTFAST_SRCCOLORKEY : DDBLTFAST_NOCOLORKEY);
            }
            x += ChipWidth;
            if (++j == MapWidth)
                j = 0;
        }
        y += ChipHeight;
        if (++i == MapHeight)
            i = 0;
    }
}
