#pragma once
// EGL displays and OpenGL 3.3 core contexts.
#include <epoxy/egl.h>
#include <memory>
#include <string>

namespace gpu {

// An EGL display for drawing without a window: the first hardware EGL device
// (EGL_EXT_platform_device), else Mesa's surfaceless platform, which takes a render node where
// there is one and a software rasteriser otherwise.
class Display {
public:
    // Null with the reason in *why when no display can be opened.
    static std::unique_ptr<Display> OpenHeadless(std::string* why);
    // False only where EGL lists its devices and every one is Mesa's software device: then no
    // display needs opening to know there is no hardware (nor a driver loading for nothing).
    static bool MayHaveHardware();
    ~Display();
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    EGLDisplay Handle() const { return display_; }
    // "device" or "surfaceless".
    const std::string& Platform() const { return platform_; }
    // The EGL device is Mesa's software device (EGL_MESA_device_software).
    bool SoftwareDevice() const { return softwareDevice_; }
    bool HasExtension(const char* name) const;

private:
    Display() = default;
    EGLDisplay display_ = EGL_NO_DISPLAY;
    std::string platform_;
    bool softwareDevice_ = false;
};

// An OpenGL 3.3 core context on a display, current on no surface (EGL_KHR_surfaceless_context).
// Robust (reset notification, lose context on reset) where the display offers it, so a GPU
// reset is seen instead of hanging the program.
class Context {
public:
    // `share`: the context whose objects this one shares, or null.
    static std::unique_ptr<Context> Create(Display& display, const Context* share,
                                           std::string* why);
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    // Current on the calling thread.
    bool MakeCurrent() const;
    static void ReleaseCurrent(const Display& display);
    EGLContext Handle() const { return context_; }

private:
    Context(Display& display) : display_(display) {}
    Display& display_;
    EGLContext context_ = EGL_NO_CONTEXT;
};

} // namespace gpu
