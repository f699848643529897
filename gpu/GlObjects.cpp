#include "GlObjects.h"

#include <algorithm>
#include <vector>

namespace gpu {

namespace {

GLuint Compile(GLenum kind, const char* source, std::string* why) {
    const GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok == GL_TRUE)
        return shader;
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> log(static_cast<std::size_t>(std::max(length, 1)));
    glGetShaderInfoLog(shader, static_cast<GLsizei>(log.size()), nullptr, log.data());
    *why = std::string(kind == GL_VERTEX_SHADER ? "vertex" : "fragment") +
           " shader does not compile: " + log.data();
    glDeleteShader(shader);
    return 0;
}

} // namespace

Program::~Program() {
    if (id_)
        glDeleteProgram(id_);
}

bool Program::Build(const char* vertexSource, const char* fragmentSource, std::string* why) {
    const GLuint vertex = Compile(GL_VERTEX_SHADER, vertexSource, why);
    if (!vertex)
        return false;
    const GLuint fragment = Compile(GL_FRAGMENT_SHADER, fragmentSource, why);
    if (!fragment) {
        glDeleteShader(vertex);
        return false;
    }
    const GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glLinkProgram(program);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    GLint ok = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        char log[1024] = {};
        glGetProgramInfoLog(program, sizeof log, nullptr, log);
        *why = std::string("shader program does not link: ") + log;
        glDeleteProgram(program);
        return false;
    }
    if (id_)
        glDeleteProgram(id_);
    id_ = program;
    return true;
}

FrameFences::~FrameFences() {
    for (GLsync fence : fences_)
        glDeleteSync(fence);
}

void FrameFences::Submit() {
    fences_.push_back(glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0));
    glFlush(); // the fence must reach the GPU, or a wait on it could wait forever
}

void FrameFences::Limit(std::size_t count) {
    while (fences_.size() > count) {
        GLsync oldest = fences_.front();
        const GLenum result = glClientWaitSync(oldest, GL_SYNC_FLUSH_COMMANDS_BIT, 10'000'000'000);
        if (result == GL_WAIT_FAILED || result == GL_TIMEOUT_EXPIRED) {
            // A lost context answers nothing: count nothing more as drawn.
            Forget();
            return;
        }
        glDeleteSync(oldest);
        fences_.pop_front();
        ++drawn_;
    }
}

void FrameFences::Forget() {
    fences_.clear(); // a lost context's fences went with it
}

GpuTimer::~GpuTimer() {
    for (GLuint query : pending_)
        glDeleteQueries(1, &query);
    if (active_)
        glDeleteQueries(1, &active_);
}

void GpuTimer::Begin() {
    if (active_)
        return;
    glGenQueries(1, &active_);
    glBeginQuery(GL_TIME_ELAPSED, active_);
}

void GpuTimer::End() {
    if (!active_)
        return;
    glEndQuery(GL_TIME_ELAPSED);
    pending_.push_back(active_);
    active_ = 0;
    Harvest(false);
}

void GpuTimer::Collect() {
    Harvest(true);
}

void GpuTimer::Harvest(bool wait) {
    while (!pending_.empty()) {
        const GLuint query = pending_.front();
        GLint available = GL_FALSE;
        if (!wait)
            glGetQueryObjectiv(query, GL_QUERY_RESULT_AVAILABLE, &available);
        if (!wait && available != GL_TRUE)
            return;
        GLuint64 elapsed = 0;
        glGetQueryObjectui64v(query, GL_QUERY_RESULT, &elapsed);
        nanoseconds_ += elapsed;
        ++spans_;
        glDeleteQueries(1, &query);
        pending_.pop_front();
    }
}

StreamBuffer::~StreamBuffer() {
    if (id_)
        glDeleteBuffers(1, &id_);
}

void StreamBuffer::Write(const void* data, std::size_t bytes) {
    if (!id_)
        glGenBuffers(1, &id_);
    glBindBuffer(GL_ARRAY_BUFFER, id_);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(bytes), nullptr, GL_STREAM_DRAW);
    glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(bytes), data);
}

namespace {
bool simulatedReset = false;
}

void SimulateResetForTests() {
    simulatedReset = true;
}

GLuint MakeTexture(GLenum internal, GLenum format, GLenum type, int width, int height) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(internal), width, height, 0, format, type,
                 nullptr);
    return texture;
}

GLuint MakePaletteTexture() {
    return MakeTexture(GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, 256, 1);
}

bool ResetHappened() {
    if (simulatedReset) {
        simulatedReset = false;
        return true;
    }
    // Asked once per frame: which entry point answers is looked up once per process.
    static const int kind = epoxy_gl_version() >= 45 || epoxy_has_gl_extension("GL_KHR_robustness")
                                ? 1
                            : epoxy_has_gl_extension("GL_ARB_robustness") ? 2
                                                                          : 0;
    if (kind == 1)
        return glGetGraphicsResetStatus() != GL_NO_ERROR;
    if (kind == 2)
        return glGetGraphicsResetStatusARB() != GL_NO_ERROR;
    return false;
}

GLenum TakeGlError() {
    const GLenum first = glGetError();
    if (first != GL_NO_ERROR)
        for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
        }
    return first;
}

} // namespace gpu
