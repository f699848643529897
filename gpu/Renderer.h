#pragma once
// Which road the graphics tests take, decided once per process: the graphics hardware through
// OpenGL, or the software layer. A hardware renderer is one whose EGL device is not Mesa's
// software device and whose GL_RENDERER names no software rasteriser; the tests' switch
// ZELKA_GL_ALLOW_SOFTWARE=1 accepts Mesa's llvmpipe as if it were hardware, and nothing else does.
#include "Display.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace gpu {

enum class RendererChoice { Auto, Gpu, Software };

// "auto", "gpu" or "software".
std::optional<RendererChoice> ParseRendererChoice(std::string_view text);

// What the probe found.
struct RendererInfo {
    std::string renderer; // GL_RENDERER
    std::string version;  // GL_VERSION
    std::string vendor;   // GL_VENDOR
    std::string platform; // the EGL platform: "device", "surfaceless", "x11" or "wayland"
    bool hardware = false;
    std::size_t videoMemoryKiB = 0; // what the GPU says it has; 0: it does not say
};

// The names of Mesa's software rasterisers in a GL_RENDERER text (llvmpipe, softpipe, swrast, a
// zink over lavapipe).
bool NamesSoftwareRasterizer(std::string_view renderer);
// The tests' switch: ZELKA_GL_ALLOW_SOFTWARE=1.
bool SoftwareRendererAllowed();

// The process's graphics hardware: its display, the drawing thread's context, what it is.
class Device {
public:
    Device(std::unique_ptr<Display> display, std::unique_ptr<Context> context, RendererInfo info)
        : display_(std::move(display)), context_(std::move(context)), info_(std::move(info)) {}
    Display& GetDisplay() { return *display_; }
    const RendererInfo& Info() const { return info_; }
    // After a GPU reset the context is lost with every object in it: a new one takes its
    // place, current on the calling thread. False with the reason where none can be made.
    bool RenewContext(std::string* why) {
        auto context = Context::Create(*display_, nullptr, why);
        if (!context || !context->MakeCurrent())
            return false;
        std::lock_guard lock(contextMutex_);
        context_ = std::move(context);
        return true;
    }
    // A context of another thread's that shares the drawing context's textures and fences (the
    // presenter's); `config` as for Context::Create.
    std::unique_ptr<Context> ShareContext(std::string* why, EGLConfig config = nullptr) {
        std::lock_guard lock(contextMutex_);
        return Context::Create(*display_, context_.get(), why, config);
    }

private:
    std::mutex contextMutex_; // context_ as another thread shares it
    std::unique_ptr<Display> display_;
    std::unique_ptr<Context> context_;
    RendererInfo info_;
};

// The road taken: the device where it is the GPU; why not, where it is the software layer.
struct Road {
    RendererChoice choice = RendererChoice::Auto;
    Device* device = nullptr; // null: the software layer
    std::string whyNotGpu;    // empty on the GPU road
    RendererInfo probed;      // what the probe saw, also where it was refused
};

// The window system the program shows its windows on, before the road is first asked for: the
// drawing context is then made on its EGL display, where the presenter's contexts can share it
// (`native`: the application's wl_display on Wayland). Without a call, or where that display
// cannot be opened: a headless display, and what is shown is read back.
void UseWindowSystem(WindowSystem system, void* native);

// The choice for this process, before the road is first asked for (the command line's
// --renderer). Without a call: auto.
void SetRendererChoice(RendererChoice choice);
// Probes once, on first use, from the calling thread (the drawing thread), and keeps the answer.
// `software` never opens EGL.
const Road& ChosenRoad();
// The device of the road taken, shared by whoever must outlive a test's reset of the road (the
// presenter's contexts share its drawing context); null on the software layer.
std::shared_ptr<Device> ChosenDevice();
// A start-up check after the probe failed (a shader, a framebuffer, a GL error): the process
// goes on the software layer with the reason recorded. The device stays open until the
// process ends, as objects may still name it.
void AbandonGpu(const std::string& why);

// Start-up faults the tests inject, each failing the check of that name once.
enum class StartFault { Context, Shader, Framebuffer, GlError };
void InjectStartFault(StartFault fault);
bool TakeStartFault(StartFault fault);

// Forgets the road and the device, so the next ChosenRoad probes again (tests only).
void ResetRendererForTests();

} // namespace gpu
