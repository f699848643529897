#pragma once
// DirectDraw's blits on the graphics hardware: fills and copies (keyed, stretched, mirrored)
// between GPU stores, queued in call order and drawn as one instanced draw per run of blits
// with the same target, source and key, so a frame's sprites from one sheet are one draw.
// Integer textures and integer arithmetic in the shaders make every result the software
// blitter's, bit for bit. Frames are fenced: at most two are ever in flight.
#include "Blit.h"
#include "GpuStore.h"
#include "gpu/GlObjects.h"
#include "gpu/Renderer.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace directx {

class GpuBlitter {
public:
    // The process's blitter on the GPU road, made and checked on first use; null on the
    // software road, or once a start-up check failed (the road then records why).
    static GpuBlitter* Get();
    // Gone with its device (tests only, after every surface has gone).
    static void ForgetForTests();

    // One blit's rectangles: the whole destination, the part of it drawn, the source.
    struct Copy {
        RECT full{};
        RECT visible{};
        RECT source{};
        bool mirrorX = false;
        bool mirrorY = false;
    };
    void Fill(GpuStore& target, const PixelPlane& targetHost, const RECT& rect, DWORD value);
    void Blit(GpuStore& target, const PixelPlane& targetHost, GpuStore& source,
              const PixelPlane& sourceHost, const Copy& copy, const ColorKeyRange& key);
    // Draws what is queued.
    void Flush();
    // GPU work of the frame follows (the Direct3D device's): the frame's GPU time counts it.
    void TimeGpuWork() { timer_.Begin(); }
    // Draws what is queued if any of it reads or writes `store`: before its host memory is read
    // or written, or it goes.
    void FlushFor(const GpuStore& store);
    // A frame is complete (a flip): drawn, fenced, and the frame before the previous one
    // waited for. False after a GPU reset: the context and every GPU copy of a surface are
    // gone, every surface is lost (the engine's keepers draw them again, as after a mode
    // change), and drawing goes on in a new context.
    bool EndFrame();
    // Which context the GL names of a store belong to: it changes with each reset.
    static std::uint64_t Generation();
    // Waits until every frame submitted has been drawn.
    void Finish();

    // Frames submitted and not yet drawn, the GPU's own time spent on the blits so far.
    std::uint64_t FramesSubmitted() const { return framesSubmitted_; }
    std::size_t FramesInFlight() const { return fences_.InFlight(); }
    std::uint64_t GpuNanoseconds() const { return timer_.Nanoseconds(); }
    std::uint64_t DrawCalls() const { return drawCalls_; }
    const gpu::RendererInfo& Renderer() const { return info_; }

private:
    explicit GpuBlitter(gpu::Device& device) : device_(device), info_(device.Info()) {}
    // After a reset: a new context, the programs and buffers made again in it.
    void Recover();
    // Shaders, vertex layout and a check that a fill and a keyed copy come back exact.
    bool Start(std::string* why);
    bool SelfTest(std::string* why);
    struct Instance {
        GLint full[4];
        GLint visible[4];
        GLint source[4];
        GLuint mirror;
        GLuint fill;
    };
    struct Batch {
        GpuStore* target = nullptr;
        GpuStore* source = nullptr; // null: fills
        GLuint framebuffer = 0;
        GLuint texture = 0;
        ColorKeyRange key;
        std::vector<Instance> instances;
    };
    void Queue(GpuStore& target, GLuint framebuffer, GpuStore* source, GLuint texture,
               const ColorKeyRange& key, const Instance& instance);
    // A copy of `rect` of `store` in a scratch texture, for a blit whose source is its target.
    GLuint Scratch(GpuStore& store, const RECT& rect);

    gpu::Device& device_;
    gpu::RendererInfo info_;
    std::uint64_t generation_ = 1;
    gpu::Program program_;
    GLuint vertexArray_ = 0;
    gpu::StreamBuffer instances_;
    GLint targetSize_ = -1, mode_ = -1, keyed_ = -1, keyLow_ = -1, keyRange_ = -1, colorBits_ = -1;
    Batch batch_;
    std::unique_ptr<GpuStore> scratch_;
    gpu::FrameFences fences_;
    gpu::GpuTimer timer_;
    std::uint64_t framesSubmitted_ = 0;
    std::uint64_t drawCalls_ = 0;
};

} // namespace directx
