#pragma once
// A surface's pixels on the graphics hardware: an integer texture holding the surface's own bits
// (8, 16 or 32 of them a pixel, so colour keys and copies are exact) and its framebuffer. The
// surface keeps its host memory beside it as the place locks, device contexts and the software
// paths read and write; the store knows which of the two is newer and brings the other up to
// date only when it is read.
#include "Blit.h"
#include "gpu/GlObjects.h"

#include <cstdint>
#include <memory>

namespace directx {

class GpuStore;

// Another GL image of a store's pixels that may be newer than the store (a Direct3D device's
// colour or depth texture, which fixed-function blending and depth testing need): it writes
// itself into the store before anything else uses the store.
class StoreShadow {
public:
    virtual ~StoreShadow() = default;
    virtual void WriteBack(GpuStore& store) = 0;
};

class GpuStore {
public:
    // Whether a surface of this many bytes a pixel can live on the GPU.
    static bool Holds(int bytesPerPixel) {
        return bytesPerPixel == 1 || bytesPerPixel == 2 || bytesPerPixel == 4;
    }
    GpuStore(int width, int height, int bytesPerPixel);
    ~GpuStore();
    GpuStore(const GpuStore&) = delete;
    GpuStore& operator=(const GpuStore&) = delete;

    int Width() const { return width_; }
    int Height() const { return height_; }
    int BytesPerPixel() const { return bytesPerPixel_; }
    // The texture and framebuffer, made (and the host's pixels uploaded) when first used.
    GLuint Texture(const PixelPlane& host);
    GLuint Framebuffer(const PixelPlane& host);

    // The host memory was written in `rect`: the GPU's copy takes it before its next use.
    void HostWritten(const RECT& rect);
    // The GPU wrote the pixels: the host memory is stale until ReadBack.
    void GpuWritten() {
        hostStale_ = true;
        ++version_;
    }
    // A stamp that changes whenever the store's texture takes other pixels, so a shadow knows
    // when its copy is stale.
    std::uint64_t Version() const { return version_; }
    StoreShadow* Shadow() const { return shadow_.get(); }
    void SetShadow(std::unique_ptr<StoreShadow> shadow) { shadow_ = std::move(shadow); }
    // The shadow was drawn into: the store and the host memory are stale until it writes back.
    void ShadowWritten() {
        shadowNewer_ = true;
        hostStale_ = true;
    }
    bool ShadowNewer() const { return shadowNewer_; }
    // Draws that use this store are queued elsewhere (the Direct3D device's): they are drawn
    // before the store is next used, written or read.
    void MarkQueued() { queued_ = true; }
    void ClearQueued() { queued_ = false; }
    // Called for a store marked queued; set by the queue's owner.
    static void (*flushQueued)();
    // The framebuffer of a shadow writing the whole store back: made if need be, nothing
    // uploaded, the host memory's older writes dropped (the shadow's pixels hold them).
    GLuint FramebufferToReplace();
    // The texture as it is, nothing made, uploaded or written back (for the shadow's own
    // passes).
    GLuint MadeTexture() const { return texture_; }
    bool HostStale() const { return hostStale_; }
    // Brings the host memory up to date (the caller flushed the blits that write this store).
    void ReadBack(const PixelPlane& host);
    // Drops the GL objects (a lost surface, a lost context): the host memory is what is left.
    void Drop();

private:
    // Queued draws drawn and a newer shadow written back, before any other use.
    void Sync();
    void Make();
    void Upload(const PixelPlane& host);
    int width_, height_, bytesPerPixel_;
    GLuint texture_ = 0;
    GLuint framebuffer_ = 0;
    std::uint64_t generation_ = 0; // the context the names belong to (GpuBlitter::Generation)
    bool hostStale_ = false;
    RECT dirty_{}; // host memory newer than the texture here
    std::uint64_t version_ = 0;
    std::unique_ptr<StoreShadow> shadow_;
    bool shadowNewer_ = false;
    bool queued_ = false;
};

} // namespace directx
