#include "GpuBlitter.h"

#include "DisplayAdapter.h"
#include "GpuRaster.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace directx {

namespace {

// One quad per blit, over the part of the destination drawn; its edges lie on pixel edges, so
// exactly the pixels of that rectangle are drawn.
const char* const kVertexShader = R"(#version 330 core
layout(location = 0) in ivec4 full;
layout(location = 1) in ivec4 visible;
layout(location = 2) in ivec4 source;
layout(location = 3) in uvec2 extra;
uniform vec2 targetSize;
flat out ivec4 vFull;
flat out ivec4 vSource;
flat out uvec2 vExtra;
void main() {
    vec2 corner = vec2((gl_VertexID & 1) != 0 ? visible.z : visible.x,
                       (gl_VertexID & 2) != 0 ? visible.w : visible.y);
    gl_Position = vec4(corner / targetSize * 2.0 - 1.0, 0.0, 1.0);
    vFull = full;
    vSource = source;
    vExtra = extra;
}
)";

// The software blitter's own stepping: destination column i shows source column i * s / d
// (from the far side when mirrored); keyed pixels are those whose colour bits lie in the key's
// range, compared as unsigned integers.
const char* const kFragmentShader = R"(#version 330 core
uniform usampler2D sourceTexture;
uniform int mode;
uniform bool keyed;
uniform uint keyLow;
uniform uint keyRange;
uniform uint colorBits;
flat in ivec4 vFull;
flat in ivec4 vSource;
flat in uvec2 vExtra;
out uint color;
void main() {
    if (mode == 0) {
        color = vExtra.y;
        return;
    }
    ivec2 p = ivec2(gl_FragCoord.xy);
    int sw = vSource.z - vSource.x;
    int sh = vSource.w - vSource.y;
    int dw = vFull.z - vFull.x;
    int dh = vFull.w - vFull.y;
    int sx = p.x - vFull.x;
    int sy = p.y - vFull.y;
    if (sw != dw)
        sx = sx * sw / dw;
    if (sh != dh)
        sy = sy * sh / dh;
    if ((vExtra.x & 1u) != 0u)
        sx = sw - 1 - sx;
    if ((vExtra.x & 2u) != 0u)
        sy = sh - 1 - sy;
    uint value = texelFetch(sourceTexture, ivec2(vSource.x + sx, vSource.y + sy), 0).r;
    if (keyed && (value & colorBits) - keyLow <= keyRange)
        discard;
    color = value;
}
)";

struct Holder {
    bool tried = false;
    std::unique_ptr<GpuBlitter> blitter;
};

Holder& Held() {
    static Holder holder;
    return holder;
}

bool SameKey(const ColorKeyRange& a, const ColorKeyRange& b) {
    return a.enabled == b.enabled &&
           (!a.enabled || (a.low == b.low && a.high == b.high && a.colorBits == b.colorBits));
}

} // namespace

GpuBlitter* GpuBlitter::Get() {
    Holder& held = Held();
    if (held.tried)
        return held.blitter.get();
    held.tried = true;
    const gpu::Road& road = gpu::ChosenRoad();
    if (!road.device)
        return nullptr;
    std::unique_ptr<GpuBlitter> blitter(new GpuBlitter(*road.device));
    std::string why;
    if (!blitter->Start(&why)) {
        gpu::AbandonGpu(why);
        return nullptr;
    }
    held.blitter = std::move(blitter);
    return held.blitter.get();
}

void GpuBlitter::ForgetForTests() {
    GpuRaster::ForgetForTests(); // its GL objects go while the context is still there
    Holder& held = Held();
    held.blitter.reset();
    held.tried = false;
}

bool GpuBlitter::Start(std::string* why) {
    const bool shaderFault = gpu::TakeStartFault(gpu::StartFault::Shader);
    if (!program_.Build(kVertexShader,
                        shaderFault ? "#version 330 core\nnot a shader" : kFragmentShader, why))
        return false;
    targetSize_ = program_.Uniform("targetSize");
    mode_ = program_.Uniform("mode");
    keyed_ = program_.Uniform("keyed");
    keyLow_ = program_.Uniform("keyLow");
    keyRange_ = program_.Uniform("keyRange");
    colorBits_ = program_.Uniform("colorBits");
    glUseProgram(program_.Id());
    glUniform1i(program_.Uniform("sourceTexture"), 0);

    glGenVertexArrays(1, &vertexArray_);
    glBindVertexArray(vertexArray_);
    instances_.Write(nullptr, sizeof(Instance)); // makes the buffer to describe
    const auto field = [](std::size_t offset) { return reinterpret_cast<const void*>(offset); };
    glEnableVertexAttribArray(0);
    glVertexAttribIPointer(0, 4, GL_INT, sizeof(Instance), field(offsetof(Instance, full)));
    glEnableVertexAttribArray(1);
    glVertexAttribIPointer(1, 4, GL_INT, sizeof(Instance), field(offsetof(Instance, visible)));
    glEnableVertexAttribArray(2);
    glVertexAttribIPointer(2, 4, GL_INT, sizeof(Instance), field(offsetof(Instance, source)));
    glEnableVertexAttribArray(3);
    glVertexAttribIPointer(3, 2, GL_UNSIGNED_INT, sizeof(Instance),
                           field(offsetof(Instance, mirror)));
    for (GLuint i = 0; i < 4; ++i)
        glVertexAttribDivisor(i, 1);
    glDisable(GL_DITHER);
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    return SelfTest(why);
}

bool GpuBlitter::SelfTest(std::string* why) {
    // A fill and a keyed, mirrored stretch on a small 16-bit store, read back and compared
    // with what the software blitter writes.
    std::vector<WORD> host(8 * 4, 0), expected(8 * 4, 0);
    const auto plane = [](std::vector<WORD>& pixels) {
        PixelPlane p;
        p.bits = reinterpret_cast<BYTE*>(pixels.data());
        p.pitch = 16;
        p.width = 8;
        p.height = 4;
        p.bytesPerPixel = 2;
        return p;
    };
    for (std::size_t i = 0; i < host.size(); ++i)
        host[i] = expected[i] = static_cast<WORD>(i * 2654435761u >> 16);
    GpuStore store(8, 4, 2);
    if (!store.Framebuffer(plane(host)) || gpu::TakeStartFault(gpu::StartFault::Framebuffer) ||
        glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        *why = "an integer framebuffer is incomplete on this renderer";
        return false;
    }
    const RECT fill{1, 1, 3, 3};
    const Copy copy{RECT{3, 0, 8, 4}, RECT{4, 0, 8, 4}, RECT{0, 0, 3, 2}, true, false};
    ColorKeyRange key;
    key.enabled = true;
    key.low = key.high = host[1];
    key.colorBits = 0xFFFF;
    Fill(store, plane(host), fill, 0x1234);
    Blit(store, plane(host), store, plane(host), copy, key);
    Flush();
    store.GpuWritten();
    store.ReadBack(plane(host));
    FillRect(plane(expected), fill, 0x1234);
    std::vector<WORD> before = expected;
    PixelPlane from = plane(before);
    BlitRect(plane(expected), copy.full, copy.visible, from, copy.source, key, true, false);
    if (const GLenum error = gpu::TakeGlError();
        error != GL_NO_ERROR || gpu::TakeStartFault(gpu::StartFault::GlError)) {
        *why = "OpenGL error at start-up (0x" + std::to_string(error) + ")";
        return false;
    }
    if (host != expected) {
        *why = "the GPU's blits differ from the software blitter's";
        return false;
    }
    return true;
}

void GpuBlitter::Fill(GpuStore& target, const PixelPlane& targetHost, const RECT& rect,
                      DWORD value) {
    Instance instance{};
    std::memcpy(instance.visible, &rect, sizeof instance.visible);
    instance.fill = value;
    Queue(target, target.Framebuffer(targetHost), nullptr, 0, ColorKeyRange{}, instance);
}

void GpuBlitter::Blit(GpuStore& target, const PixelPlane& targetHost, GpuStore& source,
                      const PixelPlane& sourceHost, const Copy& copy, const ColorKeyRange& key) {
    Instance instance{};
    std::memcpy(instance.full, &copy.full, sizeof instance.full);
    std::memcpy(instance.visible, &copy.visible, sizeof instance.visible);
    instance.mirror = (copy.mirrorX ? 1u : 0u) | (copy.mirrorY ? 2u : 0u);
    const GLuint framebuffer = target.Framebuffer(targetHost);
    if (&source == &target) {
        // GL cannot read a texture while drawing into it: the source rectangle goes through a
        // scratch copy, and the blit is drawn at once so the next one may reuse it.
        const GLuint texture = Scratch(target, copy.source);
        const RECT moved{0, 0, copy.source.right - copy.source.left,
                         copy.source.bottom - copy.source.top};
        std::memcpy(instance.source, &moved, sizeof instance.source);
        Queue(target, framebuffer, scratch_.get(), texture, key, instance);
        Flush();
        return;
    }
    std::memcpy(instance.source, &copy.source, sizeof instance.source);
    Queue(target, framebuffer, &source, source.Texture(sourceHost), key, instance);
}

GLuint GpuBlitter::Scratch(GpuStore& store, const RECT& rect) {
    Flush();
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (!scratch_ || scratch_->BytesPerPixel() != store.BytesPerPixel() ||
        scratch_->Width() < width || scratch_->Height() < height)
        scratch_ = std::make_unique<GpuStore>(std::max(width, scratch_ ? scratch_->Width() : 0),
                                              std::max(height, scratch_ ? scratch_->Height() : 0),
                                              store.BytesPerPixel());
    const GLuint texture = scratch_->Texture(PixelPlane{}); // nothing to upload: made empty
    glBindFramebuffer(GL_READ_FRAMEBUFFER, store.Framebuffer(PixelPlane{}));
    glBindTexture(GL_TEXTURE_2D, texture);
    glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, rect.left, rect.top, width, height);
    return texture;
}

void GpuBlitter::Queue(GpuStore& target, GLuint framebuffer, GpuStore* source, GLuint texture,
                       const ColorKeyRange& key, const Instance& instance) {
    const bool joins = batch_.target == &target && batch_.source == source &&
                       batch_.texture == texture && SameKey(batch_.key, key) &&
                       batch_.instances.size() < 4096;
    if (!joins) {
        Flush();
        batch_.target = &target;
        batch_.source = source;
        batch_.framebuffer = framebuffer;
        batch_.texture = texture;
        batch_.key = key;
    }
    batch_.instances.push_back(instance);
    target.GpuWritten();
}

void GpuBlitter::Flush() {
    if (batch_.instances.empty()) {
        batch_.target = batch_.source = nullptr;
        return;
    }
    timer_.Begin();
    glUseProgram(program_.Id());
    glBindVertexArray(vertexArray_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, batch_.framebuffer);
    glViewport(0, 0, batch_.target->Width(), batch_.target->Height());
    glUniform2f(targetSize_, static_cast<float>(batch_.target->Width()),
                static_cast<float>(batch_.target->Height()));
    glUniform1i(mode_, batch_.source ? 1 : 0);
    glUniform1i(keyed_, batch_.key.enabled ? 1 : 0);
    glUniform1ui(keyLow_, batch_.key.low);
    glUniform1ui(keyRange_, batch_.key.high - batch_.key.low);
    glUniform1ui(colorBits_, batch_.key.colorBits);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, batch_.texture);
    instances_.Write(batch_.instances.data(), batch_.instances.size() * sizeof(Instance));
    glDrawArraysInstanced(GL_TRIANGLE_STRIP, 0, 4, static_cast<GLsizei>(batch_.instances.size()));
    ++drawCalls_;
    batch_.instances.clear();
    batch_.target = batch_.source = nullptr;
}

void GpuBlitter::FlushFor(const GpuStore& store) {
    if (batch_.target == &store || batch_.source == &store)
        Flush();
}

// The Direct3D device's draws of the frame go out with it.
static void FlushRaster() {
    if (GpuRaster* raster = GpuRaster::Started())
        raster->Flush();
}

bool GpuBlitter::EndFrame() {
    FlushRaster();
    Flush();
    timer_.End();
    fences_.Submit();
    ++framesSubmitted_;
    // Drawing the next frame waits for the one before this: never more than two in flight.
    fences_.Limit(1);
    if (!gpu::ResetHappened())
        return true;
    Recover();
    Adapter().LoseAllSurfaces();
    return false;
}

void GpuBlitter::Recover() {
    // Every name of the old context died with it: none is deleted in the new one.
    fences_.Forget();
    timer_.Forget();
    program_.Forget();
    instances_.Forget();
    vertexArray_ = 0;
    batch_.instances.clear();
    batch_.target = batch_.source = nullptr;
    ++generation_; // stores remake their textures when next used
    std::string why;
    if (!device_.RenewContext(&why) || !Start(&why))
        std::fprintf(stderr, "zelka: the GPU was reset and drawing cannot go on: %s\n",
                     why.c_str());
}

std::uint64_t GpuBlitter::Generation() {
    const GpuBlitter* blitter = Held().blitter.get();
    return blitter ? blitter->generation_ : 0;
}

void GpuBlitter::Finish() {
    FlushRaster();
    Flush();
    timer_.End();
    fences_.Drain();
    timer_.Collect();
}

} // namespace directx
