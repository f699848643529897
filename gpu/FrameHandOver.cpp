#include "FrameHandOver.h"

#include <algorithm>

namespace gpu {

namespace {

// How a frame's bits lie in its texture: the integer format, the pixel type, bytes a pixel.
struct TexelLayout {
    GLenum internalFormat, type;
    int bytes;
};

TexelLayout TexelsOf(FrameLayout layout) {
    switch (layout) {
    case FrameLayout::Index8:
        return {GL_R8UI, GL_UNSIGNED_BYTE, 1};
    case FrameLayout::RGB565:
    case FrameLayout::XRGB1555:
        return {GL_R16UI, GL_UNSIGNED_SHORT, 2};
    case FrameLayout::XRGB8888:
        break;
    }
    return {GL_R32UI, GL_UNSIGNED_INT, 4};
}

} // namespace

FrameHandOver::~FrameHandOver() {
    // The names left belong to a context that may be gone; a closed hand-over has none left.
    for (Slot& slot : slots_)
        FreeSlot(slot, false);
}

void FrameHandOver::FreeSlot(Slot& slot, bool deleteNames) {
    if (deleteNames) {
        if (slot.written)
            glDeleteSync(slot.written);
        if (slot.framebuffer)
            glDeleteFramebuffers(1, &slot.framebuffer);
        if (slot.texture)
            glDeleteTextures(1, &slot.texture);
    }
    slot = Slot{};
}

bool FrameHandOver::Publish(GLuint framebuffer, int x, int y, int width, int height,
                            FrameLayout layout, const std::uint32_t* palette,
                            std::uint64_t generation) {
    int target = -1;
    {
        std::lock_guard lock(mutex_);
        if (closed_ || refused_.load())
            return false;
        if (generation_ && generation != generation_) {
            // A reset took the textures, and the new context shares nothing with the presenter's.
            for (Slot& slot : slots_)
                FreeSlot(slot, false);
            newest_ = reading_ = -1;
            refused_.store(true);
            return false;
        }
        generation_ = generation;
        for (int i = 0; i < kSlots && target < 0; ++i)
            if (i != newest_ && i != reading_)
                target = i;
        if (target < 0) {
            starved_.fetch_add(1);
            return false;
        }
    }
    // The slot is neither the newest nor held: the presenter does not touch it, so it is written
    // outside the lock.
    Slot& slot = slots_[std::size_t(target)];
    if (!slot.texture || slot.frame.width != width || slot.frame.height != height ||
        TexelsOf(slot.frame.layout).internalFormat != TexelsOf(layout).internalFormat) {
        FreeSlot(slot, true);
        glGenTextures(1, &slot.texture);
        glBindTexture(GL_TEXTURE_2D, slot.texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        glTexImage2D(GL_TEXTURE_2D, 0, GLint(TexelsOf(layout).internalFormat), width, height, 0,
                     GL_RED_INTEGER, TexelsOf(layout).type, nullptr);
        glGenFramebuffers(1, &slot.framebuffer);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, slot.framebuffer);
        glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                               slot.texture, 0);
    }
    if (slot.written)
        glDeleteSync(slot.written);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, slot.framebuffer);
    glBlitFramebuffer(x, y, x + width, y + height, 0, 0, width, height, GL_COLOR_BUFFER_BIT,
                      GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    slot.written = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    // Another context waits for the fence only once it has reached the GPU.
    glFlush();
    slot.frame.texture = slot.texture;
    slot.frame.width = width;
    slot.frame.height = height;
    slot.frame.layout = layout;
    if (palette && layout == FrameLayout::Index8)
        std::copy(palette, palette + 256, slot.frame.palette.begin());
    std::lock_guard lock(mutex_);
    slot.frame.serial = ++serial_;
    newest_ = target;
    return true;
}

bool FrameHandOver::ReadNewest(std::uint64_t serial, std::uint64_t generation, void* bits,
                               std::ptrdiff_t pitch) {
    GLuint framebuffer = 0;
    SharedFrame frame;
    {
        std::lock_guard lock(mutex_);
        if (closed_ || newest_ < 0 || generation != generation_)
            return false;
        const Slot& slot = slots_[std::size_t(newest_)];
        if (slot.frame.serial != serial)
            return false;
        framebuffer = slot.framebuffer;
        frame = slot.frame;
    }
    // Only the drawing thread publishes, so the newest slot stays as it is; the presenter may
    // read it too.
    const TexelLayout texels = TexelsOf(frame.layout);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, GLint(pitch / texels.bytes));
    glReadPixels(0, 0, frame.width, frame.height, GL_RED_INTEGER, texels.type, bits);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    return true;
}

void FrameHandOver::Close(std::uint64_t generation) {
    std::lock_guard lock(mutex_);
    closed_ = true;
    const bool ours = !generation_ || generation == generation_;
    for (int i = 0; i < kSlots; ++i)
        if (i != reading_ || !ours)
            FreeSlot(slots_[std::size_t(i)], ours);
    if (!ours)
        reading_ = -1;
    newest_ = -1;
}

FrameHandOver::Take FrameHandOver::TakeNewest(SharedFrame& frame) {
    GLsync written = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            if (reading_ >= 0) // its names are shared: the presenter's context frees them
                FreeSlot(slots_[std::size_t(reading_)], true);
            reading_ = -1;
            return Take::Gone;
        }
        if (newest_ < 0 || newest_ == reading_)
            return Take::Same;
        reading_ = newest_;
        frame = slots_[std::size_t(reading_)].frame;
        written = slots_[std::size_t(reading_)].written;
    }
    // The drawing thread leaves a held slot's fence alone, so it is waited for unlocked, here
    // on the presenter's thread: a wait on the GPU alone (glWaitSync) is not kept by every
    // driver across contexts.
    if (written)
        glClientWaitSync(written, GL_SYNC_FLUSH_COMMANDS_BIT, 1'000'000'000);
    return Take::Newer;
}

void FrameHandOver::LetGo() {
    std::lock_guard lock(mutex_);
    if (closed_ && reading_ >= 0)
        FreeSlot(slots_[std::size_t(reading_)], true);
    reading_ = -1;
}

std::uint64_t FrameHandOver::Published() const {
    std::lock_guard lock(mutex_);
    return serial_;
}

} // namespace gpu
