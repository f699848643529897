#pragma once
// The GPU road for as long as it lives, on whatever OpenGL renderer the machine has (Mesa's
// llvmpipe taken as hardware through the tests' switch), with video memory on the GPU. Made
// before, and gone after, the DirectDraw objects it serves.
#include "directx/DisplayAdapter.h"
#include "directx/GpuBlitter.h"
#include "gpu/Renderer.h"

#include <cstdlib>
#include <string>

class GpuRoad {
public:
    GpuRoad() {
        directx::GpuBlitter::ForgetForTests();
        gpu::ResetRendererForTests();
        setenv("ZELKA_GL_ALLOW_SOFTWARE", "1", 1);
        gpu::SetRendererChoice(gpu::RendererChoice::Auto);
        directx::Adapter().Reset(); // probes: video memory is the GPU's
    }
    ~GpuRoad() {
        directx::GpuBlitter::ForgetForTests();
        gpu::ResetRendererForTests();
        unsetenv("ZELKA_GL_ALLOW_SOFTWARE");
        gpu::SetRendererChoice(gpu::RendererChoice::Software);
        directx::Adapter().Reset();
    }
    GpuRoad(const GpuRoad&) = delete;
    GpuRoad& operator=(const GpuRoad&) = delete;
    // Why the road could not be opened; empty when it is open.
    std::string Failure() const {
        if (directx::GpuBlitter::Get())
            return "";
        const std::string why = gpu::ChosenRoad().whyNotGpu;
        return why.empty() ? "no GPU road" : why;
    }
};
