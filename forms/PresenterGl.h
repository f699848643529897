#pragma once
// The presenter's road for frames drawn on the GPU: a context of the presenter's thread, shared
// with the drawing context, draws the newest frame a flipping chain handed over (its raw bits,
// decoded in the shader) into an EGL window surface of the window's, scaled to fit with its
// aspect kept (or stretched over a piece of the window) and black around it, and swaps without
// waiting for the display. Nothing is read
// back to host memory, except a picture of what is shown when one is asked for.
#include "gpu/FrameHandOver.h"

#include <QImage>
#include <QRect>
#include <QSize>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace presenting {

class GlRoad {
public:
    // On the presenter's thread, where the drawing context of `device` is on the window system's
    // display. `visual`: the native visual of the windows it draws on (X11), 0 for any.
    // Null with the reason in *why.
    static std::unique_ptr<GlRoad> Open(std::shared_ptr<gpu::Device> device, std::uint32_t visual,
                                        std::string* why);
    ~GlRoad();
    GlRoad(const GlRoad&) = delete;
    GlRoad& operator=(const GlRoad&) = delete;

    // Draws the newest frame of `frames` (or again the one it shows) on the native window
    // `window` (an X11 window id, or a wl_egl_window), `client` pixels large, stretched over
    // `dest` or, where that is empty, fitted with its aspect kept; black around it. Then swaps.
    // `shot`: what is shown, read back. False where it cannot draw there.
    bool Show(std::uintptr_t window, QSize client,
              const std::shared_ptr<gpu::FrameHandOver>& frames, const QRect& dest, QImage* shot);
    // The window goes: its surface with it.
    void Drop(std::uintptr_t window);
    // The device whose drawing context it shares.
    const gpu::Device* Device() const { return device_.get(); }

private:
    explicit GlRoad(std::shared_ptr<gpu::Device> device) : device_(std::move(device)) {}
    bool Start(std::string* why);
    EGLSurface SurfaceFor(std::uintptr_t window);
    void Draw(QSize client, QRect dest);

    // Kept for its contexts: the held frame and the context go before it.
    std::shared_ptr<gpu::Device> device_;
    std::unique_ptr<gpu::Context> context_;
    EGLConfig config_ = nullptr;
    struct Surface {
        std::uint32_t xid = 0; // X11: what EGL is given a pointer to
        EGLSurface surface = EGL_NO_SURFACE;
    };
    std::map<std::uintptr_t, Surface> surfaces_;
    GLuint program_ = 0, vertexArray_ = 0, paletteTexture_ = 0;
    GLint layout_ = -1, frameSize_ = -1, dest_ = -1, windowHeight_ = -1;
    std::array<std::uint32_t, 256> palette_{};
    bool paletteLoaded_ = false;
    // The frame it shows, held from the hand-over it came from.
    std::shared_ptr<gpu::FrameHandOver> held_;
    gpu::SharedFrame frame_;
};

} // namespace presenting
