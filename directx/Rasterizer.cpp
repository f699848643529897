#include "Rasterizer.h"

#include "Rasterizer_stages.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace directx {

struct Rasterizer::Impl {
    raster::TargetCodec target;
    bool targetValid = false;
    raster::TextureCache textures;
    raster::Span span; // scratch for the runs of pixels

    const raster::TargetCodec& CodecFor(const RasterTarget& t) {
        const bool indexed = t.format.Palettized();
        if (targetValid && target.format == t.format) {
            if (!indexed)
                return target;
            const auto colors = raster::OpaquePalette(t.palette);
            if (colors == target.paletteKey)
                return target;
        }
        target.format = t.format;
        if (indexed) {
            target.paletteKey = raster::OpaquePalette(t.palette);
            target.index = PaletteMatcher(target.paletteKey.data());
        } else {
            target.codec = ColorConverter(t.format);
        }
        targetValid = true;
        return target;
    }
};

Rasterizer::Rasterizer() : impl_(std::make_unique<Impl>()) {}
Rasterizer::~Rasterizer() = default;

bool Rasterizer::Draw(const RasterTarget& target, const RasterDepth* depth,
                      const RasterStates& states, const D3DRECT& clip, D3DPRIMITIVETYPE type,
                      const D3DTLVERTEX* vertices, DWORD count) {
    if (type != D3DPT_TRIANGLELIST && type != D3DPT_TRIANGLESTRIP && type != D3DPT_TRIANGLEFAN)
        return false;
    const int bpp = target.format.bitsPerPixel;
    if (target.bits == nullptr || target.width <= 0 || target.height <= 0 ||
        (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32))
        return false;
    if (count < 3 || vertices == nullptr)
        return true;

    D3DRECT area{std::max<LONG>(clip.x1, 0), std::max<LONG>(clip.y1, 0),
                 std::min<LONG>(clip.x2, target.width), std::min<LONG>(clip.y2, target.height)};
    if (depth != nullptr) {
        if (depth->bits == nullptr || (depth->bitsPerCell != 16 && depth->bitsPerCell != 32))
            depth = nullptr;
        else {
            area.x2 = std::min<LONG>(area.x2, depth->width);
            area.y2 = std::min<LONG>(area.y2, depth->height);
        }
    }
    if (area.x1 >= area.x2 || area.y1 >= area.y2)
        return true;

    const RasterTexture* texture = states.texture;
    const raster::TexelImage* image = nullptr;
    if (texture != nullptr && texture->bits != nullptr && texture->width > 0 &&
        texture->height > 0) {
        const int tb = texture->format.bitsPerPixel;
        if (tb == 8 || tb == 16 || tb == 24 || tb == 32)
            image = &impl_->textures.For(*texture, states.colorKeyEnable && texture->hasColorKey);
    }

    const raster::DrawDescription draw{
        target,
        depth,
        states,
        area,
        image,
        impl_->CodecFor(target),
        raster::ChoosePipeline(target, depth, states, image, WideVectorsInUse())};
    auto triangle = [&](DWORD a, DWORD b, DWORD c) {
        const D3DTLVERTEX& va = vertices[a];
        const D3DTLVERTEX& vb = vertices[b];
        const D3DTLVERTEX& vc = vertices[c];
        if (!raster::Finite(va) || !raster::Finite(vb) || !raster::Finite(vc))
            return;
        // Flat shading takes the colour of the triangle's first vertex.
        const bool flat = states.shadeMode == D3DSHADE_FLAT;
        raster::Polygon(draw, impl_->span, raster::MakeVertex(va, va.color),
                        raster::MakeVertex(vb, flat ? va.color : vb.color),
                        raster::MakeVertex(vc, flat ? va.color : vc.color));
    };
    switch (type) {
    case D3DPT_TRIANGLELIST:
        for (DWORD i = 0; i + 2 < count; i += 3)
            triangle(i, i + 1, i + 2);
        break;
    case D3DPT_TRIANGLESTRIP:
        // Every other triangle is taken in reverse so the whole strip keeps one winding.
        for (DWORD i = 0; i + 2 < count; ++i) {
            if (i % 2 == 0)
                triangle(i, i + 1, i + 2);
            else
                triangle(i + 1, i, i + 2);
        }
        break;
    default:
        for (DWORD i = 1; i + 1 < count; ++i)
            triangle(0, i, i + 1);
        break;
    }
    return true;
}

DWORD Rasterizer::PackColor(const RasterTarget& target, D3DCOLOR color) {
    const raster::TargetCodec& codec = impl_->CodecFor(target);
    if (target.format.Palettized())
        return codec.index.Nearest(color);
    return codec.codec.FromArgb(color);
}

namespace {

// rect cut to a width x height block; empty where none of it is inside.
RECT Inside(const D3DRECT& rect, int width, int height) {
    return RECT{std::max<LONG>(rect.x1, 0), std::max<LONG>(rect.y1, 0),
                std::min<LONG>(rect.x2, width), std::min<LONG>(rect.y2, height)};
}

} // namespace

void Rasterizer::ClearTarget(const RasterTarget& target, const D3DRECT& rect, D3DCOLOR color) {
    const int bpp = target.format.bitsPerPixel;
    if (target.bits == nullptr || (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32))
        return;
    const RECT cut = Inside(rect, target.width, target.height);
    if (cut.left >= cut.right || cut.top >= cut.bottom)
        return;
    const PixelPlane plane{target, target.format.BytesPerPixel()};
    FillRect(plane, cut, PackColor(target, color));
}

void Rasterizer::ClearDepth(const RasterDepth& depth, const D3DRECT& rect, D3DVALUE z) {
    if (depth.bits == nullptr || (depth.bitsPerCell != 16 && depth.bitsPerCell != 32))
        return;
    const RECT cut = Inside(rect, depth.width, depth.height);
    if (cut.left >= cut.right || cut.top >= cut.bottom)
        return;
    const double scale =
        depth.depthBits >= 32 ? 4294967295.0 : double((1ull << depth.depthBits) - 1);
    const double zc = std::isfinite(z) ? std::clamp<double>(z, 0.0, 1.0) : 1.0;
    const PixelPlane plane{depth, depth.bitsPerCell / 8};
    FillRect(plane, cut, static_cast<std::uint32_t>(zc * scale + 0.5));
}

} // namespace directx
