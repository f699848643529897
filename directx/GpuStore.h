#pragma once
// A surface's pixels on the graphics hardware: an integer texture holding the surface's own bits
// (8, 16 or 32 of them a pixel, so colour keys and copies are exact) and its framebuffer. The
// surface keeps its host memory beside it as the place locks, device contexts and the software
// paths read and write; the store knows which of the two is newer and brings the other up to
// date only when it is read.
#include "Blit.h"
#include "gpu/GlObjects.h"

#include <cstdint>

namespace directx {

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
    void GpuWritten() { hostStale_ = true; }
    bool HostStale() const { return hostStale_; }
    // Brings the host memory up to date (the caller flushed the blits that write this store).
    void ReadBack(const PixelPlane& host);
    // Drops the GL objects (a lost surface, a lost context): the host memory is what is left.
    void Drop();

private:
    void Make();
    void Upload(const PixelPlane& host);
    int width_, height_, bytesPerPixel_;
    GLuint texture_ = 0;
    GLuint framebuffer_ = 0;
    std::uint64_t generation_ = 0; // the context the names belong to (GpuBlitter::Generation)
    bool hostStale_ = false;
    RECT dirty_{}; // host memory newer than the texture here
};

} // namespace directx
