#pragma once
// OpenGL objects of the drawing thread's context: shader programs, frame fences, timer queries
// and a streaming vertex buffer. Each owns its GL names and frees them in the context that is
// current when it goes.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <epoxy/gl.h>
#include <string>

namespace gpu {

// A linked program of one vertex and one fragment shader.
class Program {
public:
    Program() = default;
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    // False with the compiler's or linker's log in *why.
    bool Build(const char* vertexSource, const char* fragmentSource, std::string* why);
    GLuint Id() const { return id_; }
    GLint Uniform(const char* name) const { return glGetUniformLocation(id_, name); }
    // The context that held it is gone: its name is no longer ours to delete.
    void Forget() { id_ = 0; }

private:
    GLuint id_ = 0;
};

// The frames in flight: a fence per frame submitted; Limit waits until at most `count` are not
// yet drawn, so a driver never queues more work than the frames it is allowed.
class FrameFences {
public:
    ~FrameFences();
    void Submit();
    void Limit(std::size_t count);
    // Waits for every frame: all that was submitted has been drawn.
    void Drain() { Limit(0); }
    // Frames whose fence has signalled since the start (or the last Forget).
    std::uint64_t Drawn() const { return drawn_; }
    std::size_t InFlight() const { return fences_.size(); }
    // Drops the fences without waiting (the context was lost: nothing more is counted drawn).
    void Forget();

private:
    std::deque<GLsync> fences_;
    std::uint64_t drawn_ = 0;
};

// The GPU's own time for a stretch of work, read back a few frames later so nothing waits.
class GpuTimer {
public:
    ~GpuTimer();
    void Begin();
    void End();
    // Nanoseconds of GPU time of the spans whose results are in so far, and their count.
    std::uint64_t Nanoseconds() const { return nanoseconds_; }
    std::uint64_t Spans() const { return spans_; }
    // Waits for the results still out.
    void Collect();
    // The context that held the queries is gone.
    void Forget() {
        pending_.clear();
        active_ = 0;
    }

private:
    void Harvest(bool wait);
    std::deque<GLuint> pending_;
    GLuint active_ = 0;
    std::uint64_t nanoseconds_ = 0;
    std::uint64_t spans_ = 0;
};

// A vertex buffer written anew for each draw: each write orphans the old storage, so the
// driver never waits for a draw still reading it.
class StreamBuffer {
public:
    ~StreamBuffer();
    // Binds the buffer to GL_ARRAY_BUFFER and fills it.
    void Write(const void* data, std::size_t bytes);
    GLuint Id() const { return id_; }
    void Forget() { id_ = 0; }

private:
    GLuint id_ = 0;
};

// A GPU reset since the last call, through the context's robustness (GL_KHR_robustness or
// GL_ARB_robustness); never on a context without it.
bool ResetHappened();
// The next ResetHappened answers true (tests only).
void SimulateResetForTests();

// The first GL error pending, or GL_NO_ERROR; clears them all.
GLenum TakeGlError();

// A texture of one level, sampled nearest, its texels undefined. Left bound to GL_TEXTURE_2D.
GLuint MakeTexture(GLenum internal, GLenum format, GLenum type, int width, int height);
// A 256 x 1 texture of colours as 0x00RRGGBB (GL_BGRA bytes), sampled nearest: an 8-bit
// surface's palette for a shader. Left bound to GL_TEXTURE_2D.
GLuint MakePaletteTexture();

} // namespace gpu
