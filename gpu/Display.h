#pragma once
// EGL displays and OpenGL 3.3 core contexts.
#include <epoxy/egl.h>
#include <memory>
#include <string>

namespace gpu {

// The window system the program shows its windows on: its EGL display is the one whose contexts
// can draw into those windows, so the drawing context is made there to share its textures with
// the presenter's.
enum class WindowSystem { None, X11, Wayland };

// An EGL display. Headless, for drawing without a window: the first hardware EGL device
// (EGL_EXT_platform_device), else Mesa's surfaceless platform, which takes a render node where
// there is one and a software rasteriser otherwise. Or the window system's.
class Display {
public:
    // Null with the reason in *why when no display can be opened.
    static std::unique_ptr<Display> OpenHeadless(std::string* why);
    // X11: a connection of its own to the server of $DISPLAY (window ids are the server's, so its
    // surfaces can be made on any client's windows); Wayland: `native` is the application's
    // wl_display. Null with the reason in *why.
    static std::unique_ptr<Display> OpenWindowSystem(WindowSystem system, void* native,
                                                     std::string* why);
    // False only where EGL lists its devices and every one is Mesa's software device: then no
    // display needs opening to know there is no hardware (nor a driver loading for nothing).
    static bool MayHaveHardware();
    ~Display();
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    EGLDisplay Handle() const { return display_; }
    // "device", "surfaceless", "x11" or "wayland".
    const std::string& Platform() const { return platform_; }
    // The window system whose windows its surfaces can show; None for a headless display.
    WindowSystem Shows() const { return shows_; }
    // The EGL device is Mesa's software device (EGL_MESA_device_software).
    bool SoftwareDevice() const { return softwareDevice_; }
    bool HasExtension(const char* name) const;

private:
    Display() = default;
    EGLDisplay display_ = EGL_NO_DISPLAY;
    // Which device is behind it, where EGL says.
    void QueryDevice();
    std::string platform_;
    bool softwareDevice_ = false;
    WindowSystem shows_ = WindowSystem::None;
};

// An OpenGL 3.3 core context on a display, current on no surface (EGL_KHR_surfaceless_context).
// Robust (reset notification, lose context on reset) where the display offers it, so a GPU
// reset is seen instead of hanging the program.
class Context {
public:
    // `share`: the context whose objects this one shares, or null. `config`: the configuration
    // of the surfaces it is to draw on, where the display cannot make a context without one.
    static std::unique_ptr<Context> Create(Display& display, const Context* share, std::string* why,
                                           EGLConfig config = nullptr);
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    // Current on the calling thread, on no surface, or drawing on and reading from `surface`.
    bool MakeCurrent() const;
    bool MakeCurrent(EGLSurface surface) const;
    static void ReleaseCurrent(const Display& display);
    EGLContext Handle() const { return context_; }

private:
    Context(Display& display) : display_(display) {}
    Display& display_;
    EGLContext context_ = EGL_NO_CONTEXT;
};

} // namespace gpu
