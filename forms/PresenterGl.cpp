#include "PresenterGl.h"

#include "gpu/GlObjects.h"

#include <vector>

namespace presenting {

namespace {

// A quad over the viewport.
const char* const kVertexShader = R"(#version 330 core
void main() {
    gl_Position = vec4((gl_VertexID & 1) != 0 ? 1.0 : -1.0, (gl_VertexID & 2) != 0 ? 1.0 : -1.0,
                       0.0, 1.0);
}
)";

// Window pixel centres map to the frame's pixels nearest them, as the presenter's other roads
// scale; the raw bits become colours as Qt converts them (5-bit and 6-bit channels widened by
// repeating their top bits).
const char* const kFragmentShader = R"(#version 330 core
uniform usampler2D frame;
uniform sampler2D palette;
uniform int bitsLayout;
uniform ivec2 frameSize;
uniform ivec4 dest; // left, top (from the window's top), width, height
uniform int windowHeight;
out vec4 color;
void main() {
    vec2 p = vec2(gl_FragCoord.x - float(dest.x),
                  float(windowHeight) - gl_FragCoord.y - float(dest.y));
    ivec2 s = clamp(ivec2(floor(p * vec2(frameSize) / vec2(dest.zw))), ivec2(0), frameSize - 1);
    uint v = texelFetch(frame, s, 0).r;
    uvec3 c;
    if (bitsLayout == 0) {
        color = vec4(texelFetch(palette, ivec2(int(v), 0), 0).rgb, 1.0);
        return;
    } else if (bitsLayout == 1) {
        uvec3 q = uvec3((v >> 11) & 31u, (v >> 5) & 63u, v & 31u);
        c = uvec3((q.r << 3) | (q.r >> 2), (q.g << 2) | (q.g >> 4), (q.b << 3) | (q.b >> 2));
    } else if (bitsLayout == 2) {
        uvec3 q = uvec3((v >> 10) & 31u, (v >> 5) & 31u, v & 31u);
        c = (q << 3) | (q >> 2);
    } else {
        c = uvec3((v >> 16) & 255u, (v >> 8) & 255u, v & 255u);
    }
    color = vec4(vec3(c) / 255.0, 1.0);
}
)";

QRect Fitted(QSize size, QSize area) {
    const QSize fitted = size.scaled(area, Qt::KeepAspectRatio);
    return QRect(QPoint((area.width() - fitted.width()) / 2, (area.height() - fitted.height()) / 2),
                 fitted);
}

GLuint Compile(GLenum kind, const char* source, std::string* why) {
    const GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[512] = {};
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        *why = std::string("the presenter's shader does not compile: ") + log;
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

} // namespace

std::unique_ptr<GlRoad> GlRoad::Open(std::shared_ptr<gpu::Device> device, std::uint32_t visual,
                                     std::string* why) {
    gpu::Display& display = device->GetDisplay();
    if (display.Shows() == gpu::WindowSystem::None) {
        *why = "the drawing context is not on the window system's display";
        return nullptr;
    }
    std::unique_ptr<GlRoad> road(new GlRoad(std::move(device)));
    // A configuration for windows of the visual given, with 8-bit colour channels.
    const EGLint wanted[] = {EGL_SURFACE_TYPE,
                             EGL_WINDOW_BIT,
                             EGL_RENDERABLE_TYPE,
                             EGL_OPENGL_BIT,
                             EGL_RED_SIZE,
                             8,
                             EGL_GREEN_SIZE,
                             8,
                             EGL_BLUE_SIZE,
                             8,
                             EGL_NONE};
    EGLint count = 0;
    eglChooseConfig(display.Handle(), wanted, nullptr, 0, &count);
    std::vector<EGLConfig> configs(std::size_t(std::max(count, 0)));
    if (count <= 0 || !eglChooseConfig(display.Handle(), wanted, configs.data(), count, &count) ||
        count <= 0) {
        *why = "no EGL configuration for windows";
        return nullptr;
    }
    for (EGLint i = 0; i < count && !road->config_; ++i) {
        EGLint id = 0, alpha = 0;
        eglGetConfigAttrib(display.Handle(), configs[std::size_t(i)], EGL_NATIVE_VISUAL_ID, &id);
        eglGetConfigAttrib(display.Handle(), configs[std::size_t(i)], EGL_ALPHA_SIZE, &alpha);
        if (visual ? std::uint32_t(id) == visual : alpha == 0)
            road->config_ = configs[std::size_t(i)];
    }
    if (!road->config_) {
        if (visual) {
            *why = "no EGL configuration for the window's visual";
            return nullptr;
        }
        road->config_ = configs[0];
    }
    road->context_ = road->device_->ShareContext(why, road->config_);
    if (!road->context_)
        return nullptr;
    if (!road->context_->MakeCurrent() || !road->Start(why))
        return nullptr;
    return road;
}

bool GlRoad::Start(std::string* why) {
    const GLuint vertex = Compile(GL_VERTEX_SHADER, kVertexShader, why);
    const GLuint fragment = vertex ? Compile(GL_FRAGMENT_SHADER, kFragmentShader, why) : 0;
    if (!fragment) {
        if (vertex)
            glDeleteShader(vertex);
        return false;
    }
    program_ = glCreateProgram();
    glAttachShader(program_, vertex);
    glAttachShader(program_, fragment);
    glLinkProgram(program_);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    GLint linked = 0;
    glGetProgramiv(program_, GL_LINK_STATUS, &linked);
    if (!linked) {
        *why = "the presenter's shaders do not link";
        return false;
    }
    glUseProgram(program_);
    glUniform1i(glGetUniformLocation(program_, "frame"), 0);
    glUniform1i(glGetUniformLocation(program_, "palette"), 1);
    layout_ = glGetUniformLocation(program_, "bitsLayout");
    frameSize_ = glGetUniformLocation(program_, "frameSize");
    dest_ = glGetUniformLocation(program_, "dest");
    windowHeight_ = glGetUniformLocation(program_, "windowHeight");
    glGenVertexArrays(1, &vertexArray_);
    paletteTexture_ = gpu::MakePaletteTexture();
    if (glGetError() != GL_NO_ERROR) {
        *why = "the presenter's GL objects could not be made";
        return false;
    }
    return true;
}

GlRoad::~GlRoad() {
    if (!context_)
        return;
    const EGLDisplay display = device_->GetDisplay().Handle();
    if (context_->MakeCurrent()) {
        if (held_)
            held_->LetGo();
        if (program_)
            glDeleteProgram(program_);
        if (vertexArray_)
            glDeleteVertexArrays(1, &vertexArray_);
        if (paletteTexture_)
            glDeleteTextures(1, &paletteTexture_);
    }
    gpu::Context::ReleaseCurrent(device_->GetDisplay());
    for (auto& [window, surface] : surfaces_)
        eglDestroySurface(display, surface.surface);
    context_.reset();
    held_.reset();
    frame_ = gpu::SharedFrame{};
}

EGLSurface GlRoad::SurfaceFor(std::uintptr_t window) {
    auto it = surfaces_.find(window);
    if (it != surfaces_.end())
        return it->second.surface;
    const EGLDisplay display = device_->GetDisplay().Handle();
    Surface& made = surfaces_[window];
    void* native = reinterpret_cast<void*>(window);
    if (device_->GetDisplay().Shows() == gpu::WindowSystem::X11) {
        made.xid = std::uint32_t(window);
        native = &made.xid;
    }
    made.surface = eglCreatePlatformWindowSurfaceEXT(display, config_, native, nullptr);
    if (made.surface == EGL_NO_SURFACE) {
        surfaces_.erase(window);
        return EGL_NO_SURFACE;
    }
    if (context_->MakeCurrent(made.surface))
        eglSwapInterval(display, 0); // the frame goes out at once, whatever the display's rate
    return made.surface;
}

void GlRoad::Drop(std::uintptr_t window) {
    auto it = surfaces_.find(window);
    if (it == surfaces_.end())
        return;
    // Where it is still current on the presenter's thread, EGL frees it once it is not.
    eglDestroySurface(device_->GetDisplay().Handle(), it->second.surface);
    surfaces_.erase(it);
}

bool GlRoad::Show(std::uintptr_t window, QSize client,
                  const std::shared_ptr<gpu::FrameHandOver>& frames, const QRect& dest,
                  QImage* shot) {
    const EGLSurface surface = SurfaceFor(window);
    if (surface == EGL_NO_SURFACE || !context_->MakeCurrent(surface))
        return false;
    if (held_ != frames) {
        if (held_)
            held_->LetGo();
        held_ = frames;
        frame_ = gpu::SharedFrame{};
    }
    if (frames) {
        gpu::SharedFrame next;
        switch (frames->TakeNewest(next)) {
        case gpu::FrameHandOver::Take::Newer:
            frame_ = next;
            break;
        case gpu::FrameHandOver::Take::Same:
            break;
        case gpu::FrameHandOver::Take::Gone:
            frame_ = gpu::SharedFrame{};
            break;
        }
    }
    Draw(client, dest);
    if (shot) {
        QImage image(client, QImage::Format_RGB32);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glReadBuffer(GL_BACK);
        glReadPixels(0, 0, client.width(), client.height(), GL_BGRA, GL_UNSIGNED_BYTE,
                     image.bits());
        *shot = image.mirrored(); // GL's rows go up
    }
    const bool swapped = eglSwapBuffers(device_->GetDisplay().Handle(), surface) == EGL_TRUE;
    // Its reads of the frame are done before the slot can be let go at the next refresh.
    glFinish();
    return swapped && glGetError() == GL_NO_ERROR;
}

void GlRoad::Draw(QSize client, QRect dest) {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    // A context first made current without a surface may have no buffer to draw in (Mesa).
    glDrawBuffer(GL_BACK);
    glReadBuffer(GL_BACK);
    glViewport(0, 0, client.width(), client.height());
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    if (!frame_.texture || frame_.width <= 0 || frame_.height <= 0)
        return;
    if (dest.isEmpty())
        dest = Fitted(QSize(frame_.width, frame_.height), client);
    if (dest.isEmpty())
        return;
    glUseProgram(program_);
    glBindVertexArray(vertexArray_);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, paletteTexture_);
    if (frame_.layout == gpu::FrameLayout::Index8 &&
        (!paletteLoaded_ || frame_.palette != palette_)) {
        palette_ = frame_.palette;
        paletteLoaded_ = true;
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 256, 1, GL_BGRA, GL_UNSIGNED_BYTE, palette_.data());
    }
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, frame_.texture);
    glUniform1i(layout_, int(frame_.layout));
    glUniform2i(frameSize_, frame_.width, frame_.height);
    glUniform4i(dest_, dest.x(), dest.y(), dest.width(), dest.height());
    glUniform1i(windowHeight_, client.height());
    glViewport(dest.x(), client.height() - dest.y() - dest.height(), dest.width(), dest.height());
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

} // namespace presenting
