#include "Display.h"

#include <cstdio>
#include <cstring>
#include <vector>
#include <xcb/xcb.h>

namespace gpu {

namespace {

bool ListHas(const char* list, const char* name) {
    if (!list)
        return false;
    const std::size_t length = std::strlen(name);
    for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += length) {
        const bool starts = p == list || p[-1] == ' ';
        const bool ends = p[length] == '\0' || p[length] == ' ';
        if (starts && ends)
            return true;
    }
    return false;
}

bool ClientHas(const char* name) {
    return ListHas(eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS), name);
}

// The first EGL device that is not Mesa's software device, or none.
EGLDeviceEXT FirstHardwareDevice() {
    if (!ClientHas("EGL_EXT_device_enumeration") && !ClientHas("EGL_EXT_device_base"))
        return EGL_NO_DEVICE_EXT;
    EGLint count = 0;
    if (!eglQueryDevicesEXT(0, nullptr, &count) || count <= 0)
        return EGL_NO_DEVICE_EXT;
    std::vector<EGLDeviceEXT> devices(static_cast<std::size_t>(count));
    if (!eglQueryDevicesEXT(count, devices.data(), &count))
        return EGL_NO_DEVICE_EXT;
    for (EGLint i = 0; i < count; ++i) {
        const char* extensions = eglQueryDeviceStringEXT(devices[i], EGL_EXTENSIONS);
        if (!ListHas(extensions, "EGL_MESA_device_software"))
            return devices[i];
    }
    return EGL_NO_DEVICE_EXT;
}

} // namespace

bool Display::MayHaveHardware() {
    if (!ClientHas("EGL_EXT_device_enumeration") && !ClientHas("EGL_EXT_device_base"))
        return true;
    EGLint count = 0;
    if (!eglQueryDevicesEXT(0, nullptr, &count) || count <= 0)
        return true;
    return FirstHardwareDevice() != EGL_NO_DEVICE_EXT;
}

std::unique_ptr<Display> Display::OpenHeadless(std::string* why) {
    if (!ClientHas("EGL_EXT_platform_base")) {
        *why = "EGL has no platform displays (EGL_EXT_platform_base)";
        return nullptr;
    }
    std::unique_ptr<Display> display(new Display);
    EGLDisplay handle = EGL_NO_DISPLAY;
    if (ClientHas("EGL_EXT_platform_device")) {
        if (EGLDeviceEXT device = FirstHardwareDevice(); device != EGL_NO_DEVICE_EXT) {
            handle = eglGetPlatformDisplayEXT(EGL_PLATFORM_DEVICE_EXT, device, nullptr);
            display->platform_ = "device";
        }
    }
    if (handle == EGL_NO_DISPLAY && ClientHas("EGL_MESA_platform_surfaceless")) {
        handle =
            eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        display->platform_ = "surfaceless";
    }
    if (handle == EGL_NO_DISPLAY) {
        *why = "no EGL device and no surfaceless platform";
        return nullptr;
    }
    EGLint major = 0, minor = 0;
    if (!eglInitialize(handle, &major, &minor)) {
        *why = "eglInitialize failed on the " + display->platform_ + " platform";
        return nullptr;
    }
    display->display_ = handle;
    display->QueryDevice();
    return display;
}

std::unique_ptr<Display> Display::OpenWindowSystem(WindowSystem system, void* native,
                                                   std::string* why) {
    // Not in every header yet: EGL_EXT_platform_xcb.
    constexpr EGLenum kPlatformXcb = 0x31DC;
    constexpr EGLint kPlatformXcbScreen = 0x31DE;
    std::unique_ptr<Display> display(new Display);
    EGLDisplay handle = EGL_NO_DISPLAY;
    if (system == WindowSystem::X11) {
        if (!ClientHas("EGL_EXT_platform_xcb")) {
            *why = "EGL cannot draw on X11 windows (EGL_EXT_platform_xcb)";
            return nullptr;
        }
        int screen = 0;
        xcb_connection_t* connection = xcb_connect(nullptr, &screen);
        if (!connection || xcb_connection_has_error(connection)) {
            if (connection)
                xcb_disconnect(connection);
            *why = "no connection to the X server";
            return nullptr;
        }
        // Kept open for the process: EGL's display goes on using it.
        const EGLint attributes[] = {kPlatformXcbScreen, screen, EGL_NONE};
        handle = eglGetPlatformDisplayEXT(kPlatformXcb, connection, attributes);
        display->platform_ = "x11";
    } else if (system == WindowSystem::Wayland && native) {
        if (!ClientHas("EGL_KHR_platform_wayland") && !ClientHas("EGL_EXT_platform_wayland")) {
            *why = "EGL cannot draw on Wayland surfaces (EGL_KHR_platform_wayland)";
            return nullptr;
        }
        handle = eglGetPlatformDisplayEXT(EGL_PLATFORM_WAYLAND_KHR, native, nullptr);
        display->platform_ = "wayland";
    } else {
        *why = "no window system";
        return nullptr;
    }
    EGLint major = 0, minor = 0;
    if (handle == EGL_NO_DISPLAY || !eglInitialize(handle, &major, &minor)) {
        *why = "no EGL display on " + display->platform_;
        return nullptr;
    }
    display->display_ = handle;
    display->shows_ = system;
    display->QueryDevice();
    return display;
}

void Display::QueryDevice() {
    if (!HasExtension("EGL_EXT_device_query") && !ClientHas("EGL_EXT_device_query"))
        return;
    EGLAttrib device = 0;
    if (eglQueryDisplayAttribEXT(display_, EGL_DEVICE_EXT, &device) && device) {
        const char* extensions =
            eglQueryDeviceStringEXT(reinterpret_cast<EGLDeviceEXT>(device), EGL_EXTENSIONS);
        softwareDevice_ = ListHas(extensions, "EGL_MESA_device_software");
    }
}

Display::~Display() {
    // Not terminated: EGL hands the same display to the next open in this process, and
    // terminating it would unload the driver under objects that still point into it.
    if (display_ != EGL_NO_DISPLAY)
        eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

bool Display::HasExtension(const char* name) const {
    return ListHas(eglQueryString(display_, EGL_EXTENSIONS), name);
}

std::unique_ptr<Context> Context::Create(Display& display, const Context* share, std::string* why,
                                         EGLConfig surfaceConfig) {
    if (!display.HasExtension("EGL_KHR_surfaceless_context")) {
        *why = "EGL cannot make a context current without a surface";
        return nullptr;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        *why = "EGL offers no desktop OpenGL";
        return nullptr;
    }
    EGLConfig config = EGL_NO_CONFIG_KHR;
    if (!display.HasExtension("EGL_KHR_no_config_context") && surfaceConfig) {
        config = surfaceConfig;
    } else if (!display.HasExtension("EGL_KHR_no_config_context")) {
        const EGLint wanted[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
        EGLint count = 0;
        if (!eglChooseConfig(display.Handle(), wanted, &config, 1, &count) || count < 1) {
            *why = "no EGL configuration for OpenGL";
            return nullptr;
        }
    }
    std::unique_ptr<Context> context(new Context(display));
    const bool robust = display.HasExtension("EGL_EXT_create_context_robustness");
    std::vector<EGLint> attributes = {
        EGL_CONTEXT_MAJOR_VERSION,       3,
        EGL_CONTEXT_MINOR_VERSION,       3,
        EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT};
    if (robust)
        attributes.insert(attributes.end(), {EGL_CONTEXT_OPENGL_ROBUST_ACCESS_EXT, EGL_TRUE,
                                             EGL_CONTEXT_OPENGL_RESET_NOTIFICATION_STRATEGY_EXT,
                                             EGL_LOSE_CONTEXT_ON_RESET_EXT});
    attributes.push_back(EGL_NONE);
    const EGLContext shared = share ? share->context_ : EGL_NO_CONTEXT;
    context->context_ = eglCreateContext(display.Handle(), config, shared, attributes.data());
    if (context->context_ == EGL_NO_CONTEXT && robust) {
        // Some drivers offer the extension but not for every profile: try without.
        attributes.resize(6);
        attributes.push_back(EGL_NONE);
        context->context_ = eglCreateContext(display.Handle(), config, shared, attributes.data());
    }
    if (context->context_ == EGL_NO_CONTEXT) {
        *why = "no OpenGL 3.3 core context (EGL error 0x" + [] {
            char text[16];
            std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(eglGetError()));
            return std::string(text);
        }() + ")";
        return nullptr;
    }
    return context;
}

Context::~Context() {
    if (context_ != EGL_NO_CONTEXT) {
        if (eglGetCurrentContext() == context_)
            eglMakeCurrent(display_.Handle(), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(display_.Handle(), context_);
    }
}

bool Context::MakeCurrent() const {
    if (eglGetCurrentContext() == context_)
        return true;
    return eglMakeCurrent(display_.Handle(), EGL_NO_SURFACE, EGL_NO_SURFACE, context_) == EGL_TRUE;
}

bool Context::MakeCurrent(EGLSurface surface) const {
    return eglMakeCurrent(display_.Handle(), surface, surface, context_) == EGL_TRUE;
}

void Context::ReleaseCurrent(const Display& display) {
    eglMakeCurrent(display.Handle(), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

} // namespace gpu
