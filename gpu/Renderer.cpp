#include "Renderer.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <epoxy/gl.h>
#include <set>

namespace gpu {

namespace {

struct State {
    RendererChoice choice = RendererChoice::Auto;
    WindowSystem windowSystem = WindowSystem::None;
    void* nativeDisplay = nullptr;
    std::optional<Road> road;
    std::shared_ptr<Device> device;
    std::set<StartFault> faults;
};

State& Current() {
    static State state;
    return state;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::string GlString(GLenum name) {
    const auto* text = reinterpret_cast<const char*>(glGetString(name));
    return text ? text : "";
}

// What the GPU says it has, in KiB (NVIDIA's and AMD's extensions); 0 where it says nothing.
std::size_t VideoMemoryKiB() {
    GLint value[4] = {};
    if (epoxy_has_gl_extension("GL_NVX_gpu_memory_info")) {
        glGetIntegerv(0x9047 /* GPU_MEMORY_INFO_DEDICATED_VIDMEM_NVX */, value);
        return static_cast<std::size_t>(std::max(value[0], 0));
    }
    if (epoxy_has_gl_extension("GL_ATI_meminfo")) {
        glGetIntegerv(0x87FC /* TEXTURE_FREE_MEMORY_ATI */, value);
        return static_cast<std::size_t>(std::max(value[0], 0));
    }
    return 0;
}

Road Probe(RendererChoice choice) {
    Road road;
    road.choice = choice;
    if (choice == RendererChoice::Software) {
        road.whyNotGpu = "the software renderer was chosen (--renderer software)";
        return road;
    }
    if (!SoftwareRendererAllowed() && !Display::MayHaveHardware()) {
        road.whyNotGpu = "the only OpenGL renderer is a software rasteriser (Mesa's software EGL "
                         "device)";
        return road;
    }
    std::string why;
    std::unique_ptr<Display> display;
    if (Current().windowSystem != WindowSystem::None)
        display = Display::OpenWindowSystem(Current().windowSystem, Current().nativeDisplay, &why);
    if (!display)
        display = Display::OpenHeadless(&why);
    if (!display) {
        road.whyNotGpu = why;
        return road;
    }
    auto context =
        TakeStartFault(StartFault::Context) ? nullptr : Context::Create(*display, nullptr, &why);
    if (!context) {
        road.whyNotGpu = why.empty() ? "no OpenGL 3.3 core context (injected)" : why;
        return road;
    }
    if (!context->MakeCurrent()) {
        road.whyNotGpu = "the OpenGL context cannot be made current";
        return road;
    }
    RendererInfo& info = road.probed;
    info.renderer = GlString(GL_RENDERER);
    info.version = GlString(GL_VERSION);
    info.vendor = GlString(GL_VENDOR);
    info.platform = display->Platform();
    info.hardware = !display->SoftwareDevice() && !NamesSoftwareRasterizer(info.renderer);
    info.videoMemoryKiB = VideoMemoryKiB();
    if (!info.hardware && !SoftwareRendererAllowed()) {
        road.whyNotGpu =
            "the only OpenGL renderer is a software rasteriser (" + info.renderer + ")";
        Context::ReleaseCurrent(*display);
        return road;
    }
    Current().device = std::make_shared<Device>(std::move(display), std::move(context), info);
    road.device = Current().device.get();
    return road;
}

} // namespace

std::optional<RendererChoice> ParseRendererChoice(std::string_view text) {
    if (text == "auto")
        return RendererChoice::Auto;
    if (text == "gpu")
        return RendererChoice::Gpu;
    if (text == "software")
        return RendererChoice::Software;
    return std::nullopt;
}

bool NamesSoftwareRasterizer(std::string_view renderer) {
    const std::string lower = Lower(renderer);
    for (const char* name : {"llvmpipe", "softpipe", "swrast", "lavapipe", "software rasterizer"})
        if (lower.find(name) != std::string::npos)
            return true;
    return false;
}

bool SoftwareRendererAllowed() {
    const char* value = std::getenv("ZELKA_GL_ALLOW_SOFTWARE");
    return value && std::string_view(value) == "1";
}

void UseWindowSystem(WindowSystem system, void* native) {
    Current().windowSystem = system;
    Current().nativeDisplay = native;
}

void SetRendererChoice(RendererChoice choice) {
    Current().choice = choice;
}

std::shared_ptr<Device> ChosenDevice() {
    const Road& road = ChosenRoad();
    return road.device ? Current().device : nullptr;
}

const Road& ChosenRoad() {
    State& state = Current();
    if (!state.road)
        state.road = Probe(state.choice);
    return *state.road;
}

void AbandonGpu(const std::string& why) {
    if (!Current().road)
        return;
    Road& road = *Current().road;
    road.device = nullptr;
    road.whyNotGpu = why;
}

void InjectStartFault(StartFault fault) {
    Current().faults.insert(fault);
}

bool TakeStartFault(StartFault fault) {
    return Current().faults.erase(fault) > 0;
}

void ResetRendererForTests() {
    State& state = Current();
    state.road.reset();
    if (state.device) {
        Context::ReleaseCurrent(state.device->GetDisplay());
        state.device.reset();
    }
    state.choice = RendererChoice::Auto; // the window system stays: it is the application's
}

} // namespace gpu

#if defined(__SANITIZE_ADDRESS__)
// Under LeakSanitizer (the sanitizer builds): Mesa's EGL and its drivers keep objects of the
// display and the JIT to the end of the process; leaks whose stacks pass through them are
// theirs, not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libEGL_mesa.so\n"
           "leak:libGLX_mesa.so\n"
           "leak:_dri.so\n"
           "leak:libgallium\n"
           "leak:libLLVM\n"
           "leak:libglapi.so\n"
           "leak:libdrm\n";
}
#endif
