#include "GpuRaster.h"

#include "GpuBlitter.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <type_traits>

namespace directx {

namespace {

// A whole-target pass: four corners from the vertex index, no vertex data.
const char* const kPassVertex = R"(#version 330 core
void main() {
    vec2 p = vec2((gl_VertexID & 1) != 0 ? 1.0 : -1.0, (gl_VertexID & 2) != 0 ? 1.0 : -1.0);
    gl_Position = vec4(p, 0.0, 1.0);
}
)";

// Store to colour shadow: each channel's value v of n bits becomes v / (2^n - 1), which the
// shadow's own channels (as wide or wider) hold exactly.
const char* const kToColor = R"(#version 330 core
uniform usampler2D source;
uniform ivec4 shift; // blue, green, red, alpha
uniform ivec4 bits;
out vec4 color;
void main() {
    uint raw = texelFetch(source, ivec2(gl_FragCoord.xy), 0).r;
    vec4 c;
    for (int k = 0; k < 4; ++k) {
        if (bits[k] == 0) {
            c[k] = k == 3 ? 1.0 : 0.0;
            continue;
        }
        uint top = (1u << uint(bits[k])) - 1u;
        c[k] = float((raw >> uint(shift[k])) & top) / float(top);
    }
    color = c.zyxw;
}
)";

// Colour shadow to store: the nearest channel value, packed.
const char* const kToStore = R"(#version 330 core
uniform sampler2D source;
uniform ivec4 shift;
uniform ivec4 bits;
out uint raw;
void main() {
    vec4 c = texelFetch(source, ivec2(gl_FragCoord.xy), 0).zyxw;
    uint v = 0u;
    for (int k = 0; k < 4; ++k) {
        if (bits[k] == 0)
            continue;
        uint top = (1u << uint(bits[k])) - 1u;
        v |= uint(floor(clamp(c[k], 0.0, 1.0) * float(top) + 0.5)) << uint(shift[k]);
    }
    raw = v;
}
)";

// Depth cells to the depth shadow and back; cells of more than 24 bits keep their top 24.
const char* const kToDepth = R"(#version 330 core
uniform usampler2D source;
uniform float depthMax;
uniform int depthShift;
void main() {
    uint cell = texelFetch(source, ivec2(gl_FragCoord.xy), 0).r;
    gl_FragDepth = float(cell >> uint(depthShift)) / depthMax;
}
)";

const char* const kFromDepth = R"(#version 330 core
uniform sampler2D source;
uniform float depthMax;
uniform int depthShift;
out uint raw;
void main() {
    float d = texelFetch(source, ivec2(gl_FragCoord.xy), 0).r;
    uint v = uint(floor(clamp(d, 0.0, 1.0) * depthMax + 0.5));
    raw = depthShift == 0 ? v : (v << uint(depthShift)) | (v >> uint(24 - depthShift));
}
)";

// Triangles: position already in GL window coordinates; every attribute is interpolated
// linearly on the screen, premultiplied by q, and divided by q per pixel, which is perspective
// correction where q is the vertex's rhw and affine where it is 1.
const char* const kDrawVertex = R"(#version 330 core
layout(location = 0) in vec4 position;
layout(location = 1) in vec2 uv;
layout(location = 2) in vec4 color;
layout(location = 3) in float bilinear;
uniform vec2 targetSize;
noperspective out vec2 vUV;
noperspective out vec4 vColor;
noperspective out float vQ;
flat out float vBilinear;
void main() {
    gl_Position = vec4(position.xy / targetSize * 2.0 - 1.0, position.z * 2.0 - 1.0, 1.0);
    vUV = uv;
    vColor = color;
    vQ = position.w;
    vBilinear = bilinear;
}
)";

// The rasteriser's pixel: vertex colour rounded to bytes, texels addressed and filtered in
// its 8-bit fixed point, colour keys on raw texel values, texture blends in 8-bit arithmetic.
const char* const kDrawFragment = R"(#version 330 core
noperspective in vec2 vUV;
noperspective in vec4 vColor;
noperspective in float vQ;
flat in float vBilinear;
uniform bool textured;
uniform usampler2D texels;
uniform sampler2D palette;
uniform bool paletted;
uniform ivec4 shift;
uniform ivec4 bits;
uniform ivec2 texSize;
uniform ivec2 address;
uniform bool keyed;
uniform uint keyLow;
uniform uint keyHigh;
uniform uint colorBits;
uniform int texMode;
uniform bool texAlpha;
out vec4 fragColor;

int Wrap(int i, int size, int mode) {
    if (mode == 3 || mode == 4)
        return clamp(i, 0, size - 1);
    int period = mode == 2 ? 2 * size : size;
    if (i < 0)
        i += ((-i - 1) / period + 1) * period;
    int m = i % period;
    return m < size ? m : period - 1 - m;
}

bool Transparent(uint raw) {
    uint v = raw & colorBits;
    return keyed && v >= keyLow && v <= keyHigh;
}

uvec4 Decode(uint raw) {
    if (paletted)
        return uvec4(floor(texelFetch(palette, ivec2(int(raw & 255u), 0), 0).zyxw * 255.0 + 0.5));
    uvec4 c;
    for (int k = 0; k < 4; ++k) {
        if (bits[k] == 0) {
            c[k] = k == 3 ? 255u : 0u;
            continue;
        }
        uint top = (1u << uint(bits[k])) - 1u;
        c[k] = (((raw >> uint(shift[k])) & top) * 255u + top / 2u) / top;
    }
    return c;
}

uint Fetch(int x, int y) {
    return texelFetch(texels, ivec2(Wrap(x, texSize.x, address.x), Wrap(y, texSize.y, address.y)),
                      0).r;
}

uint Mul255(uint a, uint b) {
    uint t = a * b + 128u;
    return (t + (t >> 8)) >> 8;
}

void main() {
    vec4 vc = vColor / vQ;
    uvec4 col = uvec4(clamp(floor(vc + 0.5), 0.0, 255.0));
    uvec4 src = col;
    if (textured) {
        bool bil = vBilinear > 0.5;
        vec2 st = vUV / vQ * vec2(texSize) - (bil ? 0.5 : 0.0) + 1.0 / 65536.0;
        vec2 cell = floor(st);
        ivec2 i = ivec2(cell);
        uvec4 t;
        if (!bil) {
            uint raw = Fetch(i.x, i.y);
            if (Transparent(raw))
                discard;
            t = Decode(raw);
        } else {
            uint fx = min(uint((st.x - cell.x) * 256.0), 255u);
            uint fy = min(uint((st.y - cell.y) * 256.0), 255u);
            uint r00 = Fetch(i.x, i.y), r10 = Fetch(i.x + 1, i.y);
            uint r01 = Fetch(i.x, i.y + 1), r11 = Fetch(i.x + 1, i.y + 1);
            uvec4 c00 = Decode(r00), c10 = Decode(r10), c01 = Decode(r01), c11 = Decode(r11);
            bool k00 = Transparent(r00), k10 = Transparent(r10);
            bool k01 = Transparent(r01), k11 = Transparent(r11);
            if (!(k00 || k10 || k01 || k11)) {
                uvec4 left = (c00 * (256u - fy) + c01 * fy + 128u) >> 8;
                uvec4 right = (c10 * (256u - fy) + c11 * fy + 128u) >> 8;
                t = (left * (256u - fx) + right * fx + 128u) >> 8;
            } else {
                // Keyed taps drop out and the rest share their weight; a mostly keyed pixel
                // is left out.
                uint total = 0u;
                uvec4 sum = uvec4(0u);
                uint w00 = (256u - fx) * (256u - fy), w10 = fx * (256u - fy);
                uint w01 = (256u - fx) * fy, w11 = fx * fy;
                if (!k00) { total += w00; sum += c00 * w00; }
                if (!k10) { total += w10; sum += c10 * w10; }
                if (!k01) { total += w01; sum += c01 * w01; }
                if (!k11) { total += w11; sum += c11 * w11; }
                if (total * 2u < 65536u)
                    discard;
                t = (sum + total / 2u) / total;
            }
        }
        if (texMode == 1 || texMode == 2) {
            src.xyz = uvec3(Mul255(t.x, col.x), Mul255(t.y, col.y), Mul255(t.z, col.z));
            src.w = texMode == 2 ? Mul255(t.w, col.w) : (texAlpha ? t.w : col.w);
        } else if (texMode == 3) {
            src = t;
        } else {
            for (int k = 0; k < 3; ++k)
                src[k] = Mul255(t[k], t.w) + Mul255(col[k], 255u - t.w);
            src.w = col.w;
        }
    }
    fragColor = vec4(src.zyxw) / 255.0;
}
)";

struct Channels {
    GLint shift[4] = {0, 0, 0, 0}; // blue, green, red, alpha
    GLint bits[4] = {0, 0, 0, 0};
};

Channels ChannelsOf(const PixelFormat& format) {
    Channels c;
    const DWORD masks[4] = {format.bMask, format.gMask, format.rMask, format.alphaMask};
    for (int k = 0; k < 4; ++k) {
        const MaskChannel ch = MaskChannel::Of(masks[k]).TopEight();
        c.shift[k] = ch.bits ? ch.shift : 0;
        c.bits[k] = ch.bits;
    }
    return c;
}

void SetChannels(const gpu::Program& program, const Channels& c) {
    glUniform4iv(program.Uniform("shift"), 1, c.shift);
    glUniform4iv(program.Uniform("bits"), 1, c.bits);
}

// The narrowest colour-renderable format holding every channel exactly.
GLenum ShadowFormat(const Channels& c) {
    const int b = c.bits[0], g = c.bits[1], r = c.bits[2], a = c.bits[3];
    if (r == 5 && g == 6 && b == 5 && a == 0)
        return GL_RGB565;
    if (r == 5 && g == 5 && b == 5 && a <= 1)
        return GL_RGB5_A1;
    return GL_RGBA8;
}

GLenum BlendFactor(int blend) {
    switch (blend) {
    case D3DBLEND_ZERO:
        return GL_ZERO;
    case D3DBLEND_SRCCOLOR:
        return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR:
        return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA:
        return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA:
        return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA:
        return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA:
        return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR:
        return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR:
        return GL_ONE_MINUS_DST_COLOR;
    case D3DBLEND_SRCALPHASAT:
        return GL_SRC_ALPHA_SATURATE;
    default:
        return GL_ONE;
    }
}

GLenum DepthFunction(int func) {
    switch (func) {
    case D3DCMP_NEVER:
        return GL_NEVER;
    case D3DCMP_LESS:
        return GL_LESS;
    case D3DCMP_EQUAL:
        return GL_EQUAL;
    case D3DCMP_LESSEQUAL:
        return GL_LEQUAL;
    case D3DCMP_GREATER:
        return GL_GREATER;
    case D3DCMP_NOTEQUAL:
        return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL:
        return GL_GEQUAL;
    default:
        return GL_ALWAYS;
    }
}

// The texture blend as the shader knows it: 0 none, 1 modulate, 2 modulate alpha, 3 decal,
// 4 decal alpha.
int TextureMode(D3DTEXTUREBLEND blend) {
    switch (blend) {
    case D3DTBLEND_DECAL:
    case D3DTBLEND_DECALMASK:
    case D3DTBLEND_COPY:
        return 3;
    case D3DTBLEND_DECALALPHA:
        return 4;
    case D3DTBLEND_MODULATEALPHA:
        return 2;
    default:
        return 1;
    }
}

bool BilinearFilter(D3DTEXTUREFILTER filter) {
    return filter == D3DFILTER_LINEAR || filter == D3DFILTER_MIPLINEAR ||
           filter == D3DFILTER_LINEARMIPNEAREST || filter == D3DFILTER_LINEARMIPLINEAR;
}

bool Finite(const D3DTLVERTEX& v) {
    return std::isfinite(v.sx) && std::isfinite(v.sy) && std::isfinite(v.sz) &&
           std::isfinite(v.rhw) && std::isfinite(v.tu) && std::isfinite(v.tv);
}

void UnbindAll() {
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_DEPTH_CLAMP);
    glDepthMask(GL_TRUE);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glActiveTexture(GL_TEXTURE0);
}

} // namespace

struct RasterHolder {
    bool tried = false;
    bool broken = false;
    std::unique_ptr<GpuRaster> raster;
    std::string why;
};

namespace {

RasterHolder& Held() {
    static RasterHolder holder;
    return holder;
}

void FlushHeld() {
    if (GpuRaster* raster = Held().raster.get())
        raster->Flush();
}

} // namespace

// A shadow's write back into its store begins: the queued draws drawn, the store's framebuffer
// bound for a pass over all of it. Null where the shadow's context is gone.
static GpuRaster* StartWriteBack(GpuStore& store, std::uint64_t generation) {
    GpuRaster* raster = Held().raster.get();
    if (!raster || generation != GpuBlitter::Generation())
        return nullptr;
    raster->Flush();
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, store.FramebufferToReplace());
    glViewport(0, 0, store.Width(), store.Height());
    UnbindAll();
    return raster;
}

// A target's colour image in a normalized texture, which blending can write.
class ColorShadow : public StoreShadow {
public:
    ColorShadow(GpuStore& store, const PixelFormat& format)
        : format(format), channels(ChannelsOf(format)), generation(GpuBlitter::Generation()) {
        for (GLenum internal : {ShadowFormat(channels), GLenum(GL_RGBA8)}) {
            texture = gpu::MakeTexture(internal, GL_RGBA, GL_UNSIGNED_BYTE, store.Width(),
                                       store.Height());
            glGenFramebuffers(1, &framebuffer);
            glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
            glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
            if (glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE)
                break;
            Free(); // not renderable here: the widest format instead
        }
    }
    ~ColorShadow() override { Free(); }
    void Free() {
        if (generation == GpuBlitter::Generation()) {
            glDeleteFramebuffers(1, &framebuffer);
            glDeleteTextures(1, &texture);
        }
        framebuffer = texture = 0;
    }
    void Import(GpuStore& store) {
        GpuRaster& raster = *Held().raster;
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer);
        glViewport(0, 0, store.Width(), store.Height());
        glUseProgram(raster.toColor_.Id());
        SetChannels(raster.toColor_, channels);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, store.MadeTexture());
        glBindVertexArray(raster.emptyArray_);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        imported = store.Version();
    }
    void WriteBack(GpuStore& store) override {
        GpuRaster* raster = StartWriteBack(store, generation);
        if (!raster)
            return;
        glUseProgram(raster->toStore_.Id());
        SetChannels(raster->toStore_, channels);
        glBindTexture(GL_TEXTURE_2D, texture);
        glBindVertexArray(raster->emptyArray_);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        store.GpuWritten();
        imported = store.Version();
    }

    PixelFormat format;
    Channels channels;
    std::uint64_t generation;
    GLuint texture = 0, framebuffer = 0;
    std::uint64_t imported = ~std::uint64_t{0};
};

// A Z-buffer's cells in a depth texture, which depth testing reads and writes.
class DepthShadow : public StoreShadow {
public:
    DepthShadow(GpuStore& store, int depthBits)
        : generation(GpuBlitter::Generation()), shift(depthBits > 24 ? depthBits - 24 : 0),
          max(float((1u << std::min(depthBits, 24)) - 1)) {
        texture =
            gpu::MakeTexture(depthBits <= 16 ? GL_DEPTH_COMPONENT16 : GL_DEPTH_COMPONENT24,
                             GL_DEPTH_COMPONENT, GL_UNSIGNED_INT, store.Width(), store.Height());
    }
    ~DepthShadow() override {
        if (generation == GpuBlitter::Generation())
            glDeleteTextures(1, &texture);
    }
    void Pass(const gpu::Program& program) const {
        glUseProgram(program.Id());
        glUniform1f(program.Uniform("depthMax"), max);
        glUniform1i(program.Uniform("depthShift"), shift);
        glBindVertexArray(Held().raster->emptyArray_);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    }
    void Import(GpuStore& store) {
        GpuRaster& raster = *Held().raster;
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, raster.depthFramebuffer_);
        glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, texture, 0);
        glViewport(0, 0, store.Width(), store.Height());
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_ALWAYS);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, store.MadeTexture());
        Pass(raster.toDepth_);
        UnbindAll();
        imported = store.Version();
    }
    void WriteBack(GpuStore& store) override {
        GpuRaster* raster = StartWriteBack(store, generation);
        if (!raster)
            return;
        glBindTexture(GL_TEXTURE_2D, texture);
        Pass(raster->fromDepth_);
        store.GpuWritten();
        imported = store.Version();
    }

    std::uint64_t generation;
    int shift;
    float max;
    GLuint texture = 0;
    std::uint64_t imported = ~std::uint64_t{0};
};

struct GpuRaster::Shadows {
    ColorShadow* color = nullptr;
    DepthShadow* depth = nullptr;
};

GpuRaster* GpuRaster::Get() {
    RasterHolder& held = Held();
    if (held.tried)
        return held.broken ? nullptr : held.raster.get();
    held.tried = true;
    if (!GpuBlitter::Get()) {
        const std::string road = gpu::ChosenRoad().whyNotGpu;
        held.why = road.empty() ? "no hardware renderer" : road;
        return nullptr;
    }
    std::unique_ptr<GpuRaster> raster(new GpuRaster());
    raster->generation_ = GpuBlitter::Generation();
    held.raster = std::move(raster);
    std::string why;
    if (!held.raster->Start(&why)) {
        held.why = why;
        held.broken = true;
        held.raster.reset();
        return nullptr;
    }
    GpuStore::flushQueued = &FlushHeld;
    return held.raster.get();
}

GpuRaster* GpuRaster::Started() {
    const RasterHolder& held = Held();
    return held.broken ? nullptr : held.raster.get();
}

std::string GpuRaster::WhyNot() {
    Get();
    return Held().why;
}

void GpuRaster::ForgetForTests() {
    RasterHolder& held = Held();
    held.raster.reset();
    held.tried = held.broken = false;
    held.why.clear();
    GpuStore::flushQueued = nullptr;
}

GpuRaster::~GpuRaster() {
    if (generation_ == GpuBlitter::Generation()) {
        glDeleteVertexArrays(1, &vertexArray_);
        glDeleteVertexArrays(1, &emptyArray_);
        glDeleteTextures(1, &paletteTexture_);
        glDeleteFramebuffers(1, &depthFramebuffer_);
    } else {
        draw_.Forget();
        toColor_.Forget();
        toStore_.Forget();
        toDepth_.Forget();
        fromDepth_.Forget();
        buffer_.Forget();
    }
}

bool GpuRaster::Draws(const PixelFormat& format) {
    if (format.Palettized() || format.IsZBuffer() ||
        (format.bitsPerPixel != 16 && format.bitsPerPixel != 32))
        return false;
    for (DWORD mask : {format.rMask, format.gMask, format.bMask, format.alphaMask})
        if (MaskChannel::Of(mask).bits > 8)
            return false;
    return true;
}

bool GpuRaster::Start(std::string* why) {
    const bool shaderFault = gpu::TakeStartFault(gpu::StartFault::Shader);
    if (!draw_.Build(kDrawVertex, shaderFault ? "#version 330 core\nnot a shader" : kDrawFragment,
                     why) ||
        !toColor_.Build(kPassVertex, kToColor, why) ||
        !toStore_.Build(kPassVertex, kToStore, why) ||
        !toDepth_.Build(kPassVertex, kToDepth, why) ||
        !fromDepth_.Build(kPassVertex, kFromDepth, why)) {
        *why = "the Direct3D shaders do not build: " + *why;
        return false;
    }
    glUseProgram(draw_.Id());
    glUniform1i(draw_.Uniform("texels"), 0);
    glUniform1i(draw_.Uniform("palette"), 1);
    for (const gpu::Program* pass : {&toColor_, &toStore_, &toDepth_, &fromDepth_}) {
        glUseProgram(pass->Id());
        glUniform1i(pass->Uniform("source"), 0);
    }
    glGenVertexArrays(1, &emptyArray_);
    glGenVertexArrays(1, &vertexArray_);
    glBindVertexArray(vertexArray_);
    buffer_.Write(nullptr, sizeof(Vertex));
    const auto field = [](std::size_t offset) { return reinterpret_cast<const void*>(offset); };
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, sizeof(Vertex), field(offsetof(Vertex, x)));
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, sizeof(Vertex), field(offsetof(Vertex, u)));
    glEnableVertexAttribArray(2);
    glVertexAttribPointer(2, 4, GL_FLOAT, GL_FALSE, sizeof(Vertex), field(offsetof(Vertex, b)));
    glEnableVertexAttribArray(3);
    glVertexAttribPointer(3, 1, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                          field(offsetof(Vertex, bilinear)));
    glBindVertexArray(0);
    paletteTexture_ = gpu::MakePaletteTexture();
    glGenFramebuffers(1, &depthFramebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, depthFramebuffer_);
    glDrawBuffer(GL_NONE);
    glReadBuffer(GL_NONE);
    glDisable(GL_DITHER); // GL's dithering is the implementation's; the rasteriser has none
    if (!MeasureFillRule(why))
        return false;
    if (const GLenum error = gpu::TakeGlError(); error != GL_NO_ERROR) {
        *why = "OpenGL error while the Direct3D device started (0x" + std::to_string(error) + ")";
        return false;
    }
    return true;
}

bool GpuRaster::MeasureFillRule(std::string* why) {
    // A square whose edges run through pixel centres: the top-left rule covers its left column
    // and top row and leaves its right column and bottom row. GL leaves the tie to the
    // implementation, so what it does is looked at, and a nudge smaller than the vertex grid
    // moves ties to the side the rule wants.
    constexpr int kSize = 8;
    const GLuint texture = gpu::MakeTexture(GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, kSize, kSize);
    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    GLint subpixelBits = 4;
    glGetIntegerv(GL_SUBPIXEL_BITS, &subpixelBits);
    const float nudge = std::ldexp(1.0f, -std::clamp<GLint>(subpixelBits, 4, 12));
    struct Cover {
        int minX = kSize, maxX = -1, minY = kSize, maxY = -1, count = 0;
    };
    const auto cover = [&] {
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        const float x0 = 1.5f + offsetX_, y0 = 1.5f + offsetY_;
        const float x1 = 5.5f + offsetX_, y1 = 5.5f + offsetY_;
        const Vertex corner[4] = {{x0, y0, 0, 1, 0, 0, 255, 255, 255, 255, 0},
                                  {x1, y0, 0, 1, 0, 0, 255, 255, 255, 255, 0},
                                  {x0, y1, 0, 1, 0, 0, 255, 255, 255, 255, 0},
                                  {x1, y1, 0, 1, 0, 0, 255, 255, 255, 255, 0}};
        vertices_ = {corner[0], corner[1], corner[2], corner[1], corner[3], corner[2]};
        glUseProgram(draw_.Id());
        glUniform2f(draw_.Uniform("targetSize"), kSize, kSize);
        glUniform1i(draw_.Uniform("textured"), 0);
        glViewport(0, 0, kSize, kSize);
        glBindVertexArray(vertexArray_);
        buffer_.Write(vertices_.data(), vertices_.size() * sizeof(Vertex));
        glDrawArrays(GL_TRIANGLES, 0, 6);
        vertices_.clear();
        std::vector<std::uint32_t> pixels(kSize * kSize);
        glReadPixels(0, 0, kSize, kSize, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        Cover c;
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x)
                if (pixels[y * kSize + x] != 0) {
                    c.minX = std::min(c.minX, x), c.maxX = std::max(c.maxX, x);
                    c.minY = std::min(c.minY, y), c.maxY = std::max(c.maxY, y);
                    ++c.count;
                }
        return c;
    };
    const Cover seen = cover();
    const auto axis = [&](int low, int high, float* offset) {
        if (low == 1 && high == 4)
            *offset = 0;
        else if (low == 2 && high == 5)
            *offset = -nudge;
        else
            return false;
        return true;
    };
    bool ok = axis(seen.minX, seen.maxX, &offsetX_) && axis(seen.minY, seen.maxY, &offsetY_);
    if (ok) {
        const Cover checked = cover();
        ok = checked.minX == 1 && checked.maxX == 4 && checked.minY == 1 && checked.maxY == 4 &&
             checked.count == 16;
    }
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteTextures(1, &texture);
    if (!ok)
        *why = "GL's fill rule could not be made the top-left rule (a 4x4 square covered " +
               std::to_string(seen.count) + " pixels)";
    return ok;
}

bool GpuRaster::Current() {
    if (generation_ == GpuBlitter::Generation())
        return true;
    // A reset took the context and every name in it; the new context needs all of them again.
    draw_.Forget();
    toColor_.Forget();
    toStore_.Forget();
    toDepth_.Forget();
    fromDepth_.Forget();
    buffer_.Forget();
    vertexArray_ = emptyArray_ = paletteTexture_ = depthFramebuffer_ = 0;
    vertices_.clear();
    for (GpuStore* store : marked_)
        store->ClearQueued();
    marked_.clear();
    queued_ = false;
    generation_ = GpuBlitter::Generation();
    std::string why;
    if (!Start(&why)) {
        Held().why = why;
        Held().broken = true;
        return false;
    }
    return true;
}

GpuRaster::Shadows GpuRaster::Prepare(const Target& target, bool wholeColor, bool wholeDepth) {
    GpuBlitter* blitter = GpuBlitter::Get();
    Shadows shadows;
    const auto bring = [&](GpuStore& store, const PixelPlane& host, auto* shadow, bool whole,
                           auto make) {
        using Shadow = std::remove_pointer_t<decltype(shadow)>;
        const auto current = [&] {
            auto* found = dynamic_cast<Shadow*>(store.Shadow());
            return found && found->generation == GpuBlitter::Generation() ? found : nullptr;
        };
        shadow = current();
        if (shadow && store.ShadowNewer())
            return shadow; // the shadow holds the newest pixels
        if (blitter)
            blitter->FlushFor(store);
        store.Texture(host); // the host's writes uploaded (a store made anew drops its shadow)
        shadow = current();
        if (!shadow) {
            auto made = make();
            shadow = made.get();
            store.SetShadow(std::move(made));
        }
        if (shadow->imported != store.Version()) {
            if (whole)
                shadow->imported = store.Version();
            else
                shadow->Import(store);
        }
        return shadow;
    };
    shadows.color = bring(*target.color, target.colorHost, shadows.color, wholeColor, [&] {
        return std::make_unique<ColorShadow>(*target.color, target.format);
    });
    if (target.depth)
        shadows.depth = bring(*target.depth, target.depthHost, shadows.depth, wholeDepth, [&] {
            return std::make_unique<DepthShadow>(*target.depth, target.depthBits);
        });
    UnbindAll();
    return shadows;
}

void GpuRaster::Queue(const Batch& batch) {
    if (queued_ && batch == batch_)
        return;
    Flush();
    batch_ = batch;
    queued_ = true;
    const auto mark = [&](GpuStore* store) {
        if (store && std::find(marked_.begin(), marked_.end(), store) == marked_.end()) {
            store->MarkQueued();
            marked_.push_back(store);
        }
    };
    mark(batch.color);
    mark(batch.depth);
    mark(batch.texture);
    batch.color->ShadowWritten();
    if (batch.depth && batch.zWrite)
        batch.depth->ShadowWritten();
}

void GpuRaster::Draw(const Target& target, const RasterStates& s, const Texture* texture,
                     const D3DRECT& clip, D3DPRIMITIVETYPE type, const D3DTLVERTEX* vertices,
                     DWORD count) {
    if (type != D3DPT_TRIANGLELIST && type != D3DPT_TRIANGLESTRIP && type != D3DPT_TRIANGLEFAN)
        return;
    if (count < 3 || !vertices || !target.color || !Current())
        return;
    const bool depthTest = target.depth && s.zEnable;
    D3DRECT area{std::max<LONG>(clip.x1, 0), std::max<LONG>(clip.y1, 0),
                 std::min<LONG>(clip.x2, target.color->Width()),
                 std::min<LONG>(clip.y2, target.color->Height())};
    if (depthTest) {
        area.x2 = std::min<LONG>(area.x2, target.depth->Width());
        area.y2 = std::min<LONG>(area.y2, target.depth->Height());
    }
    if (area.x1 >= area.x2 || area.y1 >= area.y2)
        return;

    Batch b;
    b.color = target.color;
    b.depth = depthTest ? target.depth : nullptr;
    b.zTest = depthTest;
    b.zWrite = depthTest && s.zWrite;
    b.zFunc = s.zFunc;
    b.clip = {area.x1, area.y1, area.x2, area.y2};
    const bool blend =
        s.blendEnable && !(s.srcBlend == D3DBLEND_ONE && s.destBlend == D3DBLEND_ZERO);
    b.blend = blend;
    if (blend) {
        b.srcBlend = s.srcBlend;
        b.destBlend = s.destBlend;
    }
    if (texture && texture->store && texture->store->Width() > 0) {
        b.texture = texture->store;
        b.textureFormat = texture->format;
        if (texture->format.Palettized())
            for (int i = 0; i < 256; ++i)
                b.palette[i] = 0xFF000000u |
                               ((texture->palette ? texture->palette[i] : CubeColor(i)) & 0xFFFFFF);
        b.keyed = s.colorKeyEnable && texture->hasColorKey;
        if (b.keyed) {
            const DWORD bits = texture->format.ColorBits();
            b.keyLow = texture->keyLow & bits;
            b.keyHigh = texture->keyHigh & bits;
        }
        b.textureMode = TextureMode(s.textureBlend);
        b.addressU = s.addressU;
        b.addressV = s.addressV;
    }
    const bool starts = !queued_ || !(b == batch_);
    if (starts) {
        Flush();
        Target t = target;
        if (!depthTest)
            t.depth = nullptr;
        Prepare(t, false, false);
        if (b.texture) {
            if (GpuBlitter* blitter = GpuBlitter::Get())
                blitter->FlushFor(*b.texture);
            b.texture->Texture(texture->host);
        }
        Queue(b);
    }

    const float width = float(texture && b.texture ? texture->store->Width() : 1);
    const float height = float(texture && b.texture ? texture->store->Height() : 1);
    const bool magBilinear = BilinearFilter(s.magFilter), minBilinear = BilinearFilter(s.minFilter);
    const bool flat = s.shadeMode == D3DSHADE_FLAT;
    auto triangle = [&](const D3DTLVERTEX& a, const D3DTLVERTEX& b1, const D3DTLVERTEX& c) {
        const D3DTLVERTEX* v[3] = {&a, &b1, &c};
        if (!Finite(a) || !Finite(b1) || !Finite(c))
            return;
        // Snapped to the rasteriser's grid; positions beyond its guard band are left as they
        // are, for GL's clipping.
        double x[3], y[3];
        for (int i = 0; i < 3; ++i) {
            const bool far = std::abs(v[i]->sx) > 1 << 20 || std::abs(v[i]->sy) > 1 << 20;
            x[i] = far ? v[i]->sx : double(std::llround(double(v[i]->sx) * 16)) / 16;
            y[i] = far ? v[i]->sy : double(std::llround(double(v[i]->sy) * 16)) / 16;
        }
        const double area2 = (x[1] - x[0]) * (y[2] - y[0]) - (y[1] - y[0]) * (x[2] - x[0]);
        if (area2 == 0 || (s.cullMode == D3DCULL_CCW && area2 < 0) ||
            (s.cullMode == D3DCULL_CW && area2 > 0))
            return;
        double rhw[3];
        for (int i = 0; i < 3; ++i)
            rhw[i] = v[i]->rhw == 0 ? 1.0 : v[i]->rhw;
        const bool perspective = s.perspective && !(rhw[0] == rhw[1] && rhw[1] == rhw[2]);
        if (perspective && (rhw[0] <= 0 || rhw[1] <= 0 || rhw[2] <= 0))
            return;
        double q[3];
        for (int i = 0; i < 3; ++i)
            q[i] = perspective ? rhw[i] : 1.0;
        bool bilinear = magBilinear;
        if (b.texture && magBilinear != minBilinear) {
            // Texels per pixel at the centre choose between the two filters.
            const double ex1 = x[1] - x[0], ey1 = y[1] - y[0], ex2 = x[2] - x[0], ey2 = y[2] - y[0];
            const double det = ex1 * ey2 - ex2 * ey1;
            const auto plane = [&](double a0, double a1, double a2, double* dx, double* dy) {
                const double d1 = a1 - a0, d2 = a2 - a0;
                *dx = (d1 * ey2 - d2 * ey1) / det;
                *dy = (d2 * ex1 - d1 * ex2) / det;
            };
            double udx, udy, vdx, vdy, qdx, qdy;
            plane(v[0]->tu * q[0], v[1]->tu * q[1], v[2]->tu * q[2], &udx, &udy);
            plane(v[0]->tv * q[0], v[1]->tv * q[1], v[2]->tv * q[2], &vdx, &vdy);
            plane(q[0], q[1], q[2], &qdx, &qdy);
            const double cx = (ex1 + ex2) / 3, cy = (ey1 + ey2) / 3;
            const double r = q[0] + qdx * cx + qdy * cy;
            const double u = (v[0]->tu * q[0] + udx * cx + udy * cy) / r;
            const double w = (v[0]->tv * q[0] + vdx * cx + vdy * cy) / r;
            const double dudx = (udx - u * qdx) / r, dudy = (udy - u * qdy) / r;
            const double dvdx = (vdx - w * qdx) / r, dvdy = (vdy - w * qdy) / r;
            const double perPixel = std::abs(dudx * dvdy - dudy * dvdx) * width * height;
            bilinear = perPixel > 1.0 ? minBilinear : magBilinear;
        }
        for (int i = 0; i < 3; ++i) {
            const D3DCOLOR color = flat ? a.color : v[i]->color;
            const float qi = float(q[i]);
            vertices_.push_back(Vertex{float(x[i] + 0.5) + offsetX_, float(y[i] + 0.5) + offsetY_,
                                       v[i]->sz, qi, v[i]->tu * qi, v[i]->tv * qi,
                                       float(color & 0xFF) * qi, float((color >> 8) & 0xFF) * qi,
                                       float((color >> 16) & 0xFF) * qi, float(color >> 24) * qi,
                                       bilinear ? 1.0f : 0.0f});
        }
    };
    switch (type) {
    case D3DPT_TRIANGLELIST:
        for (DWORD i = 0; i + 2 < count; i += 3)
            triangle(vertices[i], vertices[i + 1], vertices[i + 2]);
        break;
    case D3DPT_TRIANGLESTRIP:
        for (DWORD i = 0; i + 2 < count; ++i) {
            if (i % 2 == 0)
                triangle(vertices[i], vertices[i + 1], vertices[i + 2]);
            else
                triangle(vertices[i + 1], vertices[i], vertices[i + 2]);
        }
        break;
    default:
        for (DWORD i = 1; i + 1 < count; ++i)
            triangle(vertices[0], vertices[i], vertices[i + 1]);
        break;
    }
}

void GpuRaster::Clear(const Target& target, const D3DRECT* rects, DWORD count, const D3DRECT& area,
                      bool color, bool depth) {
    if (!target.color || !Current())
        return;
    Flush();
    GpuBlitter::Get()->TimeGpuWork();
    const auto cut = [&](const D3DRECT& r, const GpuStore& store) {
        return D3DRECT{std::max({r.x1, area.x1, LONG{0}}), std::max({r.y1, area.y1, LONG{0}}),
                       std::min({r.x2, area.x2, LONG(store.Width())}),
                       std::min({r.y2, area.y2, LONG(store.Height())})};
    };
    const auto whole = [&](const GpuStore& store) {
        for (DWORD i = 0; i < count; ++i) {
            const D3DRECT r = cut(rects[i], store);
            if (r.x1 == 0 && r.y1 == 0 && r.x2 == store.Width() && r.y2 == store.Height())
                return true;
        }
        return false;
    };
    Target t = target;
    if (!depth)
        t.depth = nullptr;
    if (!color && !t.depth)
        return;
    const Shadows shadows = Prepare(t, color && whole(*t.color), t.depth && whole(*t.depth));
    glEnable(GL_SCISSOR_TEST);
    const auto each = [&](const GpuStore& store, GLbitfield bit) {
        for (DWORD i = 0; i < count; ++i) {
            const D3DRECT r = cut(rects[i], store);
            if (r.x1 >= r.x2 || r.y1 >= r.y2)
                continue;
            glScissor(r.x1, r.y1, r.x2 - r.x1, r.y2 - r.y1);
            glClear(bit);
        }
    };
    if (color) {
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, shadows.color->framebuffer);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        // The background: black (opaque where the target has no alpha to hold it).
        glClearColor(0, 0, 0, shadows.color->channels.bits[3] ? 0.0f : 1.0f);
        each(*t.color, GL_COLOR_BUFFER_BIT);
        t.color->ShadowWritten();
    }
    if (t.depth) {
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, depthFramebuffer_);
        glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D,
                               shadows.depth->texture, 0);
        glDepthMask(GL_TRUE);
        glClearDepth(1.0);
        each(*t.depth, GL_DEPTH_BUFFER_BIT);
        t.depth->ShadowWritten();
    }
    UnbindAll();
}

void GpuRaster::Flush() {
    if (!queued_ || flushing_)
        return;
    flushing_ = true;
    queued_ = false;
    for (GpuStore* store : marked_)
        store->ClearQueued();
    marked_.clear();
    const Batch& b = batch_;
    auto* color = dynamic_cast<ColorShadow*>(b.color->Shadow());
    auto* depth = b.depth ? dynamic_cast<DepthShadow*>(b.depth->Shadow()) : nullptr;
    if (vertices_.empty() || generation_ != GpuBlitter::Generation() || !color ||
        (b.depth && !depth)) {
        vertices_.clear();
        flushing_ = false;
        return;
    }
    GpuBlitter::Get()->TimeGpuWork();
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, color->framebuffer);
    glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D,
                           depth ? depth->texture : 0, 0);
    glViewport(0, 0, b.color->Width(), b.color->Height());
    // A target without alpha keeps the shadow's opaque alpha, as the rasteriser reads it.
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, color->channels.bits[3] ? GL_TRUE : GL_FALSE);
    glEnable(GL_SCISSOR_TEST);
    glScissor(b.clip[0], b.clip[1], b.clip[2] - b.clip[0], b.clip[3] - b.clip[1]);
    if (b.blend) {
        glEnable(GL_BLEND);
        if (b.srcBlend == D3DBLEND_BOTHSRCALPHA)
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        else if (b.srcBlend == D3DBLEND_BOTHINVSRCALPHA)
            glBlendFunc(GL_ONE_MINUS_SRC_ALPHA, GL_SRC_ALPHA);
        else
            glBlendFunc(BlendFactor(b.srcBlend), BlendFactor(b.destBlend));
    }
    // z is clamped to the depth range, never clipped, with or without the Z test (the engine
    // draws at z 2 without one).
    glEnable(GL_DEPTH_CLAMP);
    if (b.zTest) {
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(DepthFunction(b.zFunc));
        glDepthMask(b.zWrite ? GL_TRUE : GL_FALSE);
    }
    glUseProgram(draw_.Id());
    glUniform2f(draw_.Uniform("targetSize"), float(b.color->Width()), float(b.color->Height()));
    glUniform1i(draw_.Uniform("textured"), b.texture ? 1 : 0);
    if (b.texture) {
        const Channels channels = ChannelsOf(b.textureFormat);
        SetChannels(draw_, channels);
        const bool paletted = b.textureFormat.Palettized();
        glUniform1i(draw_.Uniform("paletted"), paletted ? 1 : 0);
        glUniform2i(draw_.Uniform("texSize"), b.texture->Width(), b.texture->Height());
        glUniform2i(draw_.Uniform("address"), b.addressU, b.addressV);
        glUniform1i(draw_.Uniform("keyed"), b.keyed ? 1 : 0);
        glUniform1ui(draw_.Uniform("keyLow"), b.keyLow);
        glUniform1ui(draw_.Uniform("keyHigh"), b.keyHigh);
        glUniform1ui(draw_.Uniform("colorBits"), b.textureFormat.ColorBits());
        glUniform1i(draw_.Uniform("texMode"), b.textureMode);
        glUniform1i(draw_.Uniform("texAlpha"), !paletted && b.textureFormat.alphaMask != 0);
        if (paletted) {
            glActiveTexture(GL_TEXTURE1);
            glBindTexture(GL_TEXTURE_2D, paletteTexture_);
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 256, 1, GL_BGRA, GL_UNSIGNED_BYTE,
                            b.palette.data());
        }
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, b.texture->MadeTexture());
    }
    glBindVertexArray(vertexArray_);
    buffer_.Write(vertices_.data(), vertices_.size() * sizeof(Vertex));
    glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(vertices_.size()));
    ++drawCalls_;
    vertices_.clear();
    UnbindAll();
    flushing_ = false;
}

} // namespace directx
