#include "GpuStore.h"

#include "GpuBlitter.h"

namespace directx {

namespace {

struct TextureFormat {
    GLenum internal, type;
};

TextureFormat FormatFor(int bytesPerPixel) {
    switch (bytesPerPixel) {
    case 1:
        return {GL_R8UI, GL_UNSIGNED_BYTE};
    case 2:
        return {GL_R16UI, GL_UNSIGNED_SHORT};
    default:
        return {GL_R32UI, GL_UNSIGNED_INT};
    }
}

// Rows of `plane` as GL reads and writes them: the pitch in pixels.
void SetRowLength(GLenum name, const PixelPlane& plane) {
    glPixelStorei(name, static_cast<GLint>(plane.pitch / plane.bytesPerPixel));
}

} // namespace

void (*GpuStore::flushQueued)() = nullptr;

void GpuStore::Sync() {
    if (queued_ && flushQueued)
        flushQueued();
    queued_ = false;
    if (shadowNewer_ && shadow_) {
        shadowNewer_ = false;
        shadow_->WriteBack(*this);
    }
}

GpuStore::GpuStore(int width, int height, int bytesPerPixel)
    : width_(width), height_(height), bytesPerPixel_(bytesPerPixel), dirty_{0, 0, width, height} {}

GpuStore::~GpuStore() {
    Drop();
}

void GpuStore::Make() {
    generation_ = GpuBlitter::Generation();
    const TextureFormat format = FormatFor(bytesPerPixel_);
    texture_ = gpu::MakeTexture(format.internal, GL_RED_INTEGER, format.type, width_, height_);
    glGenFramebuffers(1, &framebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture_, 0);
    dirty_ = RECT{0, 0, width_, height_};
    ++version_;
}

GLuint GpuStore::Texture(const PixelPlane& host) {
    if (texture_ && generation_ != GpuBlitter::Generation())
        Drop(); // made in a context a reset took away
    Sync();
    if (!texture_)
        Make();
    if (!Empty(dirty_))
        Upload(host);
    return texture_;
}

GLuint GpuStore::FramebufferToReplace() {
    if (texture_ && generation_ != GpuBlitter::Generation())
        Drop();
    if (!texture_)
        Make();
    // Whatever the host memory held before is in the pixels that replace the store's.
    dirty_ = RECT{};
    return framebuffer_;
}

GLuint GpuStore::Framebuffer(const PixelPlane& host) {
    Texture(host);
    return framebuffer_;
}

void GpuStore::HostWritten(const RECT& rect) {
    if (Empty(rect))
        return;
    Sync(); // queued draws read the pixels as they were
    if (Empty(dirty_))
        dirty_ = rect;
    else
        dirty_ = RECT{std::min(dirty_.left, rect.left), std::min(dirty_.top, rect.top),
                      std::max(dirty_.right, rect.right), std::max(dirty_.bottom, rect.bottom)};
    dirty_ = Intersect(dirty_, RECT{0, 0, width_, height_});
}

void GpuStore::Upload(const PixelPlane& host) {
    if (!host.bits) { // a scratch texture: nothing of the host's to bring along
        dirty_ = RECT{};
        return;
    }
    const TextureFormat format = FormatFor(bytesPerPixel_);
    glBindTexture(GL_TEXTURE_2D, texture_);
    SetRowLength(GL_UNPACK_ROW_LENGTH, host);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexSubImage2D(GL_TEXTURE_2D, 0, dirty_.left, dirty_.top, dirty_.right - dirty_.left,
                    dirty_.bottom - dirty_.top, GL_RED_INTEGER, format.type,
                    host.At(dirty_.left, dirty_.top));
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    dirty_ = RECT{};
    ++version_;
}

void GpuStore::ReadBack(const PixelPlane& host) {
    if (!texture_ || generation_ == GpuBlitter::Generation())
        Sync(); // a shadow drawn into may make the store's texture now
    if (!hostStale_)
        return;
    hostStale_ = false;
    if (!framebuffer_ || !host.bits || generation_ != GpuBlitter::Generation())
        return; // nothing left to read: a reset took the GPU's copy
    const TextureFormat format = FormatFor(bytesPerPixel_);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    SetRowLength(GL_PACK_ROW_LENGTH, host);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width_, height_, GL_RED_INTEGER, format.type, host.bits);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
}

void GpuStore::Drop() {
    if (queued_ && flushQueued)
        flushQueued(); // nothing queued may name what goes
    queued_ = false;
    shadow_.reset();
    shadowNewer_ = false;
    ++version_;
    const bool ours = generation_ == GpuBlitter::Generation();
    if (framebuffer_ && ours)
        glDeleteFramebuffers(1, &framebuffer_);
    if (texture_ && ours)
        glDeleteTextures(1, &texture_);
    framebuffer_ = 0;
    texture_ = 0;
    hostStale_ = false;
    dirty_ = RECT{0, 0, width_, height_};
}

} // namespace directx
