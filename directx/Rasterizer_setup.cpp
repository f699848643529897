#include "Rasterizer_stages.h"

#include <bit>

namespace directx::raster {

bool Finite(const D3DTLVERTEX& v) {
    return std::isfinite(v.sx) && std::isfinite(v.sy) && std::isfinite(v.sz) &&
           std::isfinite(v.rhw) && std::isfinite(v.tu) && std::isfinite(v.tv);
}

Vertex MakeVertex(const D3DTLVERTEX& v, D3DCOLOR color) {
    return Vertex{v.sx,
                  v.sy,
                  v.sz,
                  v.rhw,
                  v.tu,
                  v.tv,
                  static_cast<double>((color >> 16) & 0xFF),
                  static_cast<double>((color >> 8) & 0xFF),
                  static_cast<double>(color & 0xFF),
                  static_cast<double>(color >> 24)};
}

namespace {

// Linear blend of two vertices for clipping; attributes are already multiplied by rhw when
// the triangle is perspective-corrected, so linear is right for them.
Vertex Mix(const Vertex& a, const Vertex& b, double t) {
    auto m = [t](double p, double q) { return p + (q - p) * t; };
    return Vertex{m(a.x, b.x), m(a.y, b.y), m(a.z, b.z), m(a.rhw, b.rhw), m(a.u, b.u),
                  m(a.v, b.v), m(a.r, b.r), m(a.g, b.g), m(a.b, b.b),     m(a.a, b.a)};
}

// Cuts a polygon to |x|, |y| <= limit.
std::vector<Vertex> ClipToGuardBand(std::vector<Vertex> polygon) {
    for (int side = 0; side < 4; ++side) {
        auto inside = [side](const Vertex& v) {
            switch (side) {
            case 0:
                return v.x >= -kGuardBand;
            case 1:
                return v.x <= kGuardBand;
            case 2:
                return v.y >= -kGuardBand;
            default:
                return v.y <= kGuardBand;
            }
        };
        auto cut = [side](const Vertex& a, const Vertex& b) {
            const double limit = (side == 0 || side == 2) ? -kGuardBand : kGuardBand;
            const double pa = side < 2 ? a.x : a.y, pb = side < 2 ? b.x : b.y;
            return Mix(a, b, (limit - pa) / (pb - pa));
        };
        std::vector<Vertex> next;
        for (std::size_t i = 0; i < polygon.size(); ++i) {
            const Vertex& a = polygon[i];
            const Vertex& b = polygon[(i + 1) % polygon.size()];
            if (inside(a)) {
                next.push_back(a);
                if (!inside(b))
                    next.push_back(cut(a, b));
            } else if (inside(b)) {
                next.push_back(cut(a, b));
            }
        }
        polygon = std::move(next);
        if (polygon.empty())
            break;
    }
    return polygon;
}

// A triangle with its corners snapped to the sub-pixel grid, wound clockwise.
struct Snapped {
    Vertex v[3];
    std::int64_t X[3], Y[3];
};

// Snaps the corners; false for a triangle without area or one the cull mode drops.
bool Snap(const Vertex& v0, const Vertex& v1, const Vertex& v2, D3DCULL cullMode, Snapped& s) {
    s.v[0] = v0, s.v[1] = v1, s.v[2] = v2;
    for (int i = 0; i < 3; ++i) {
        s.X[i] = std::llround(s.v[i].x * kSub);
        s.Y[i] = std::llround(s.v[i].y * kSub);
    }
    const std::int64_t area =
        (s.X[1] - s.X[0]) * (s.Y[2] - s.Y[0]) - (s.Y[1] - s.Y[0]) * (s.X[2] - s.X[0]);
    if (area == 0)
        return false;
    // A positive area is clockwise on the screen (y grows downwards).
    if ((cullMode == D3DCULL_CCW && area < 0) || (cullMode == D3DCULL_CW && area > 0))
        return false;
    if (area < 0) {
        std::swap(s.v[1], s.v[2]);
        std::swap(s.X[1], s.X[2]);
        std::swap(s.Y[1], s.Y[2]);
    }
    return true;
}

void SetUpEdges(const Snapped& s, Edge edges[3]) {
    for (int e = 0; e < 3; ++e) {
        const int a = e, b = (e + 1) % 3;
        Edge& edge = edges[e];
        edge.dx = s.X[b] - s.X[a];
        edge.dy = s.Y[b] - s.Y[a];
        edge.xa = s.X[a];
        edge.ya = s.Y[a];
        const bool topLeft = edge.dy < 0 || (edge.dy == 0 && edge.dx > 0);
        edge.bias = topLeft ? 0 : 1;
    }
}

// Attribute planes from the snapped positions; false for a triangle behind the eye.
bool SetUpPlanes(const Snapped& s, bool perspectiveOn, TriangleSetup& ts) {
    const double x[3] = {double(s.X[0]) / kSub, double(s.X[1]) / kSub, double(s.X[2]) / kSub};
    const double y[3] = {double(s.Y[0]) / kSub, double(s.Y[1]) / kSub, double(s.Y[2]) / kSub};
    ts.x0 = x[0];
    ts.y0 = y[0];
    const double ex1 = x[1] - x[0], ey1 = y[1] - y[0], ex2 = x[2] - x[0], ey2 = y[2] - y[0];
    const double det = ex1 * ey2 - ex2 * ey1;
    auto plane = [&](double a0, double a1, double a2) {
        const double d1 = a1 - a0, d2 = a2 - a0;
        return Plane{a0, (d1 * ey2 - d2 * ey1) / det, (d2 * ex1 - d1 * ex2) / det};
    };
    const Vertex &v0 = s.v[0], &v1 = s.v[1], &v2 = s.v[2];
    ts.perspective = perspectiveOn && !(v0.rhw == v1.rhw && v1.rhw == v2.rhw);
    if (ts.perspective && (v0.rhw <= 0 || v1.rhw <= 0 || v2.rhw <= 0))
        return false;
    auto attribute = [&](double Vertex::*field) {
        double a[3];
        for (int i = 0; i < 3; ++i)
            a[i] = s.v[i].*field * (ts.perspective ? s.v[i].rhw : 1.0);
        return plane(a[0], a[1], a[2]);
    };
    ts.z = plane(v0.z, v1.z, v2.z);
    ts.rhw = plane(v0.rhw, v1.rhw, v2.rhw);
    ts.u = attribute(&Vertex::u);
    ts.v = attribute(&Vertex::v);
    ts.c[0] = attribute(&Vertex::b);
    ts.c[1] = attribute(&Vertex::g);
    ts.c[2] = attribute(&Vertex::r);
    ts.c[3] = attribute(&Vertex::a);
    return true;
}

// Texels per pixel at the triangle's centre decide between the magnification and
// minification filters.
bool ChooseBilinear(const Snapped& s, const TriangleSetup& ts, const RasterStates& states) {
    double dudx = ts.u.dx, dudy = ts.u.dy, dvdx = ts.v.dx, dvdy = ts.v.dy;
    if (ts.perspective) {
        const double cx = double(s.X[0] + s.X[1] + s.X[2]) / kSub / 3 - ts.x0;
        const double cy = double(s.Y[0] + s.Y[1] + s.Y[2]) / kSub / 3 - ts.y0;
        const double r = ts.rhw.At(cx, cy), u = ts.u.At(cx, cy) / r, v = ts.v.At(cx, cy) / r;
        dudx = (ts.u.dx - u * ts.rhw.dx) / r;
        dudy = (ts.u.dy - u * ts.rhw.dy) / r;
        dvdx = (ts.v.dx - v * ts.rhw.dx) / r;
        dvdy = (ts.v.dy - v * ts.rhw.dy) / r;
    }
    const double texelsPerPixel = std::abs(dudx * dvdy - dudy * dvdx) * ts.texWidth * ts.texHeight;
    return Bilinear(texelsPerPixel > 1.0 ? states.minFilter : states.magFilter);
}

// The covered pixels of rows yFirst..yLast, in runs through the stage functions.
void Scan(const DrawDescription& draw, const Edge edges[3], const TriangleSetup& ts, int yFirst,
          int yLast, Span& span) {
    const Pipeline& p = draw.pipeline;
    const SampleFunction sample = ts.textured ? p.sample[ts.bilinear] : nullptr;
    const FusedFunction fused = ts.textured && !ts.perspective ? p.fused[ts.bilinear] : nullptr;
    const DepthFunction depthTest = draw.depth != nullptr ? p.depth : nullptr;
    const D3DRECT& clip = draw.clip;
    for (int row = yFirst; row <= yLast; ++row) {
        const std::int64_t py = std::int64_t{row} * kSub;
        std::int64_t lo = clip.x1, hi = clip.x2; // [lo, hi)
        for (int k = 0; k < 3; ++k) {
            const Edge& e = edges[k];
            const std::int64_t c = e.dx * (py - e.ya) + e.dy * e.xa - e.bias;
            if (e.dy > 0)
                hi = std::min(hi, FloorDiv(c, kSub * e.dy) + 1);
            else if (e.dy < 0)
                lo = std::max(lo, CeilDiv(-c, -kSub * e.dy));
            else if (c < 0)
                hi = lo;
        }
        BYTE* line = draw.target.bits + std::ptrdiff_t{row} * draw.target.pitch;
        for (std::int64_t start = lo; start < hi; start += kChunk) {
            const int x0 = static_cast<int>(start);
            const int n = static_cast<int>(std::min<std::int64_t>(kChunk, hi - start));
            if (fused) {
                fused(*draw.image, AffineStart(ts, x0, row), line, x0, n);
                continue;
            }
            std::memset(span.live, 1, n);
            Interpolate(ts, x0, row, n, span);
            if (sample)
                sample(*draw.image, draw.states, n, span);
            p.combine(p.textureAlpha, n, span);
            if (depthTest)
                depthTest(*draw.depth, ts.z, x0 - ts.x0, row - ts.y0, x0, row, n, span);
            p.write(draw.codec, draw.states, line, x0, n, span);
        }
    }
}

void Triangle(const DrawDescription& draw, Span& span, const Vertex& v0, const Vertex& v1,
              const Vertex& v2) {
    Snapped s;
    if (!Snap(v0, v1, v2, draw.states.cullMode, s))
        return;
    Edge edges[3];
    SetUpEdges(s, edges);
    const std::int64_t minY = std::min({s.Y[0], s.Y[1], s.Y[2]});
    const std::int64_t maxY = std::max({s.Y[0], s.Y[1], s.Y[2]});
    const int yFirst = static_cast<int>(std::max<std::int64_t>(CeilDiv(minY, kSub), draw.clip.y1));
    const int yLast =
        static_cast<int>(std::min<std::int64_t>(FloorDiv(maxY, kSub), draw.clip.y2 - 1));
    if (yFirst > yLast)
        return;
    TriangleSetup ts;
    if (!SetUpPlanes(s, draw.states.perspective, ts))
        return;
    ts.textured = draw.image != nullptr;
    if (ts.textured) {
        ts.texWidth = draw.image->source.width;
        ts.texHeight = draw.image->source.height;
        ts.bilinear = ChooseBilinear(s, ts, draw.states);
    }
    Scan(draw, edges, ts, yFirst, yLast, span);
}

TexMode TextureMode(D3DTEXTUREBLEND blend) {
    switch (blend) {
    case D3DTBLEND_DECAL:
    case D3DTBLEND_DECALMASK:
    case D3DTBLEND_COPY:
        return TexMode::Decal;
    case D3DTBLEND_DECALALPHA:
        return TexMode::DecalAlpha;
    case D3DTBLEND_MODULATEALPHA:
        return TexMode::ModulateAlpha;
    default:
        return TexMode::Modulate;
    }
}

BlendKind Blending(const RasterStates& states) {
    if (!states.blendEnable)
        return BlendKind::Off;
    if (states.srcBlend == D3DBLEND_ONE && states.destBlend == D3DBLEND_ZERO)
        return BlendKind::Off;
    if (states.srcBlend == D3DBLEND_ONE && states.destBlend == D3DBLEND_ONE)
        return BlendKind::Add;
    if ((states.srcBlend == D3DBLEND_SRCALPHA && states.destBlend == D3DBLEND_INVSRCALPHA) ||
        states.srcBlend == D3DBLEND_BOTHSRCALPHA)
        return BlendKind::Alpha;
    return BlendKind::Generic;
}

} // namespace

void Polygon(const DrawDescription& draw, Span& span, const Vertex& a, const Vertex& b,
             const Vertex& c) {
    auto far = [](const Vertex& v) {
        return std::abs(v.x) > kGuardBand || std::abs(v.y) > kGuardBand;
    };
    if (!far(a) && !far(b) && !far(c)) {
        Triangle(draw, span, a, b, c);
        return;
    }
    // Clip in a space where every attribute is linear on the screen.
    const bool perspective = draw.states.perspective && !(a.rhw == b.rhw && b.rhw == c.rhw);
    auto toLinear = [perspective](Vertex v) {
        if (perspective) {
            v.u *= v.rhw, v.v *= v.rhw, v.r *= v.rhw, v.g *= v.rhw, v.b *= v.rhw, v.a *= v.rhw;
        }
        return v;
    };
    auto fromLinear = [perspective](Vertex v) {
        if (perspective) {
            v.u /= v.rhw, v.v /= v.rhw, v.r /= v.rhw, v.g /= v.rhw, v.b /= v.rhw, v.a /= v.rhw;
        }
        return v;
    };
    std::vector<Vertex> polygon = ClipToGuardBand({toLinear(a), toLinear(b), toLinear(c)});
    for (std::size_t i = 2; i < polygon.size(); ++i)
        Triangle(draw, span, fromLinear(polygon[0]), fromLinear(polygon[i - 1]),
                 fromLinear(polygon[i]));
}

Pipeline ChoosePipeline(const RasterTarget& rt, const RasterDepth* depth,
                        const RasterStates& states, const TexelImage* image, bool wide) {
    Pipeline pipeline;
    TexMode mode = TexMode::None;
    const bool keyed = image != nullptr && image->keyed && image->anyTransparent;
    if (image != nullptr) {
        const int w = image->source.width, h = image->source.height;
        const bool fastWrap = states.addressU == D3DTADDRESS_WRAP &&
                              states.addressV == D3DTADDRESS_WRAP &&
                              std::has_single_bit(unsigned(w)) && std::has_single_bit(unsigned(h));
        const KeyKind key = !keyed            ? KeyKind::None
                            : image->hasAlpha ? KeyKind::List
                                              : KeyKind::Marker;
        pipeline.sample[0] = PickSample(false, fastWrap, key);
        pipeline.sample[1] = PickSample(true, fastWrap, key);
        mode = TextureMode(states.textureBlend);
        pipeline.textureAlpha = image->hasAlpha;
    }
    pipeline.combine = PickCombine(mode);
    const BlendKind blend = Blending(states);
    const bool rgb565 = rt.format.DirectLayout() == TPixelLayout::RGB565;
    pipeline.write = PickWrite(rt.format.BytesPerPixel(), blend, rgb565);
    const bool useDepth = depth != nullptr && states.zEnable;
    if (useDepth)
        pipeline.depth = PickDepth(states.zFunc, depth->bitsPerCell == 32, states.zWrite);
#if defined(__x86_64__)
    // The fused loop covers the Direct3D test's own case: bilinear, wrapped, modulated into
    // 5-6-5, opaque or added, without a depth test.
    if (wide && image != nullptr && !image->padded.empty() && mode == TexMode::Modulate &&
        !useDepth && rgb565 && (blend == BlendKind::Off || blend == BlendKind::Add) &&
        states.addressU == D3DTADDRESS_WRAP && states.addressV == D3DTADDRESS_WRAP &&
        !(keyed && image->hasAlpha))
        pipeline.fused[1] = PickFused(blend == BlendKind::Add, keyed);
#else
    (void)wide;
#endif
    return pipeline;
}

} // namespace directx::raster
