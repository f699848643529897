// The rasteriser's bilinear additive quad against Mesa's llvmpipe drawing the same picture
// through OpenGL ES 2 on an EGL display without a window (surfaceless, software rendering):
// once with llvmpipe on one thread and once with all cores, each beside ours in the same run.
#include "Headline.h"
#include "QuadScene.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES2/gl2.h>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <string>
#include <thread>

using namespace quad;

namespace {

const char* const kVertexShader = R"(
attribute vec2 position;
attribute vec2 texel;
varying vec2 uv;
void main() {
    uv = texel;
    gl_Position = vec4(position, 0.0, 1.0);
})";

// Modulate, with the keyed texels transparent black so they add nothing.
const char* const kFragmentShader = R"(
precision mediump float;
uniform sampler2D picture;
uniform vec4 tint;
varying vec2 uv;
void main() {
    gl_FragColor = texture2D(picture, uv) * tint;
})";

class LlvmpipeQuad {
public:
    // threads 0: llvmpipe draws on the calling thread.
    explicit LlvmpipeQuad(unsigned threads) {
        if (Open(threads))
            SetUp();
    }

private:
    bool Fail(const std::string& error) {
        error_ = error;
        return false;
    }

    bool Open(unsigned threads) {
        // llvmpipe reads these when its screen is made, at eglInitialize.
        setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
        setenv("LP_NUM_THREADS", std::to_string(threads).c_str(), 1);
        auto getDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
            eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (!getDisplay)
            return Fail("no eglGetPlatformDisplayEXT");
        display_ = getDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display_ == EGL_NO_DISPLAY || !eglInitialize(display_, nullptr, nullptr))
            return Fail("no surfaceless EGL display");
        eglBindAPI(EGL_OPENGL_ES_API);
        const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE,
                                           EGL_OPENGL_ES2_BIT, EGL_NONE};
        EGLConfig config = nullptr;
        EGLint configs = 0;
        if (!eglChooseConfig(display_, configAttributes, &config, 1, &configs) || configs < 1)
            return Fail("no OpenGL ES 2 configuration");
        const EGLint contextAttributes[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
        context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, contextAttributes);
        if (context_ == EGL_NO_CONTEXT ||
            !eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_))
            return Fail("no OpenGL ES 2 context");
        const std::string renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
        if (renderer.find("llvmpipe") == std::string::npos)
            return Fail("the renderer is " + renderer + ", not llvmpipe");
        return true;
    }

public:
    ~LlvmpipeQuad() {
        if (context_ != EGL_NO_CONTEXT) {
            eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
            eglDestroyContext(display_, context_);
        }
        if (display_ != EGL_NO_DISPLAY)
            eglTerminate(display_);
        unsetenv("LP_NUM_THREADS");
    }
    const std::string& Error() const { return error_; }

    void Draw() {
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        glFinish();
    }
    // One quad onto black, as 0xAARRGGBB rows from the top.
    std::vector<std::uint32_t> Picture() {
        glClear(GL_COLOR_BUFFER_BIT);
        Draw();
        std::vector<std::uint8_t> rgba(std::size_t(kSize) * kSize * 4);
        glReadPixels(0, 0, kSize, kSize, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        std::vector<std::uint32_t> out(std::size_t(kSize) * kSize);
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                const std::uint8_t* p = &rgba[(std::size_t(kSize - 1 - y) * kSize + x) * 4];
                out[std::size_t(y) * kSize + x] = 0xFF000000u | p[0] << 16 | p[1] << 8 | p[2];
            }
        return out;
    }

private:
    void SetUp() {
        glGenFramebuffers(1, &framebuffer_);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
        glGenRenderbuffers(1, &colour_);
        glBindRenderbuffer(GL_RENDERBUFFER, colour_);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGB565, kSize, kSize);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_);
        if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
            Fail("no 5-6-5 frame buffer");
            return;
        }
        glViewport(0, 0, kSize, kSize);

        const auto pixels = TexturePixels();
        std::vector<std::uint8_t> rgba;
        for (std::uint16_t p : pixels) {
            const std::uint32_t c = p == pixels[0] ? 0u : Widen(p);
            rgba.insert(rgba.end(), {std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c),
                                     std::uint8_t(c >> 24)});
        }
        glGenTextures(1, &texture_);
        glBindTexture(GL_TEXTURE_2D, texture_);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, kTexture, kTexture, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     rgba.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);

        program_ = glCreateProgram();
        for (auto [kind, text] : {std::pair{GL_VERTEX_SHADER, kVertexShader},
                                  std::pair{GL_FRAGMENT_SHADER, kFragmentShader}}) {
            const GLuint shader = glCreateShader(kind);
            glShaderSource(shader, 1, &text, nullptr);
            glCompileShader(shader);
            glAttachShader(program_, shader);
            glDeleteShader(shader);
        }
        glBindAttribLocation(program_, 0, "position");
        glBindAttribLocation(program_, 1, "texel");
        glLinkProgram(program_);
        GLint linked = 0;
        glGetProgramiv(program_, GL_LINK_STATUS, &linked);
        if (!linked) {
            Fail("the shaders do not link");
            return;
        }
        glUseProgram(program_);
        glUniform1i(glGetUniformLocation(program_, "picture"), 0);
        glUniform4f(glGetUniformLocation(program_, "tint"), 0xC0 / 255.0f, 0xA0 / 255.0f,
                    0x80 / 255.0f, 1.0f);
        // Our pixel centres sit on integer coordinates: texture coordinates shift by half a
        // pixel's worth so both sample the same spots. Rows run bottom-up in GL.
        const float shift = -0.5f / kSize;
        const float quadVertices[] = {-1, 1,  shift, shift,     1, 1,  1 + shift, shift,
                                      -1, -1, shift, 1 + shift, 1, -1, 1 + shift, 1 + shift};
        glGenBuffers(1, &vertices_);
        glBindBuffer(GL_ARRAY_BUFFER, vertices_);
        glBufferData(GL_ARRAY_BUFFER, sizeof quadVertices, quadVertices, GL_STATIC_DRAW);
        glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(float), nullptr);
        glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(float),
                              reinterpret_cast<const void*>(2 * sizeof(float)));
        glEnableVertexAttribArray(0);
        glEnableVertexAttribArray(1);
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
        glClearColor(0, 0, 0, 1);
        if (glGetError() != GL_NO_ERROR)
            Fail("OpenGL ES set-up failed");
    }

    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLContext context_ = EGL_NO_CONTEXT;
    GLuint framebuffer_ = 0, colour_ = 0, texture_ = 0, program_ = 0, vertices_ = 0;
    std::string error_;
};

// threads 0: one thread, timed by each side's thread CPU time; otherwise all cores, timed by
// the wall clock, both sides in turn.
void QuadVsLlvmpipe(benchmark::State& state, unsigned threads) {
    Scene scene;
    LlvmpipeQuad llvmpipe(threads);
    if (!llvmpipe.Error().empty()) {
        state.SkipWithError(llvmpipe.Error().c_str());
        return;
    }
    if (!SamePicture(OurPicture(), llvmpipe.Picture())) {
        state.SkipWithError("llvmpipe draws another picture");
        return;
    }
    auto now = threads == 0 ? &ThreadSeconds : &WallSeconds;
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        const double t0 = now();
        DrawQuad(scene);
        const double t1 = now();
        llvmpipe.Draw();
        const double t2 = now();
        ours += t1 - t0;
        theirs += t2 - t1;
        benchmark::DoNotOptimize(scene.target.data());
    }
    state.counters["speed_ratio"] = theirs / ours;
    state.counters["llvmpipe_mpix_per_s"] =
        double(state.iterations()) * kSize * kSize / 1e6 / theirs;
}

void BM_QuadVsLlvmpipe1Thread(benchmark::State& state) {
    QuadVsLlvmpipe(state, 0);
}
BENCHMARK(BM_QuadVsLlvmpipe1Thread)->Unit(benchmark::kMillisecond);

void BM_QuadVsLlvmpipeAllCores(benchmark::State& state) {
    QuadVsLlvmpipe(state, std::max(1u, std::thread::hardware_concurrency()));
}
BENCHMARK(BM_QuadVsLlvmpipeAllCores)->Unit(benchmark::kMillisecond);

} // namespace

static bench::RegisterHeadline oneThread("BM_QuadVsLlvmpipe1Thread",
                                         {"ratio.quad_vs_llvmpipe_1thread", bench::Figure::Counter,
                                          "speed_ratio"});
static bench::RegisterHeadline oneThreadFill("BM_QuadVsLlvmpipe1Thread",
                                             {"mpix.llvmpipe_quad_add_1thread",
                                              bench::Figure::Counter, "llvmpipe_mpix_per_s"});
static bench::RegisterHeadline allCores("BM_QuadVsLlvmpipeAllCores",
                                        {"ratio.quad_vs_llvmpipe_all_cores", bench::Figure::Counter,
                                         "speed_ratio"});
static bench::RegisterHeadline allCoresFill("BM_QuadVsLlvmpipeAllCores",
                                            {"mpix.llvmpipe_quad_add_all_cores",
                                             bench::Figure::Counter, "llvmpipe_mpix_per_s"});
