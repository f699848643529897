#pragma once
// Frames handed from the drawing thread to the presenter's on the GPU, without a read back: at
// each complete frame the drawing thread copies the picture (its raw bits, in an integer
// texture) into a texture of a small ring, fences the copy and publishes it; the presenter's
// context, shared with the drawing one, takes the newest and waits for its fence on its own
// thread. The ring has a slot more than the two the presenter and the newest frame hold, so the
// drawing thread always finds one free and never waits for the presenter or the display.
// The mutex is a leaf: nothing else is locked under it.
#include "Renderer.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <epoxy/gl.h>
#include <memory>
#include <mutex>

namespace gpu {

// How a frame's bits are laid out: a palette index, 16-bit 5-6-5 or x-5-5-5, 32-bit x-8-8-8.
enum class FrameLayout { Index8, RGB565, XRGB1555, XRGB8888 };

// A frame as the presenter takes it. Its texture is the presenter's to read until it takes
// another (or lets go).
struct SharedFrame {
    GLuint texture = 0;
    int width = 0, height = 0;
    FrameLayout layout = FrameLayout::XRGB8888;
    std::array<std::uint32_t, 256> palette{}; // 0x00RRGGBB, Index8 only
    std::uint64_t serial = 0;                 // 1 for the first frame published, 0: none
};

class FrameHandOver {
public:
    static constexpr int kSlots = 3;
    explicit FrameHandOver(std::shared_ptr<Device> device) : device_(std::move(device)) {}
    ~FrameHandOver();
    FrameHandOver(const FrameHandOver&) = delete;
    FrameHandOver& operator=(const FrameHandOver&) = delete;

    const std::shared_ptr<Device>& GetDevice() const { return device_; }

    // The drawing thread, its context current: copies width x height pixels of `framebuffer` from
    // (x, y) on (the bits in `layout`, rows as the host memory counts them) into a free slot,
    // fences and flushes the copy and makes it the newest frame; false where nothing was
    // published (closed, refused, no slot free). `generation` names the drawing context: after
    // a reset the old one's textures are gone and a new context shares nothing with the
    // presenter's, so the hand-over refuses itself.
    bool Publish(GLuint framebuffer, int x, int y, int width, int height, FrameLayout layout,
                 const std::uint32_t* palette, std::uint64_t generation);
    // The drawing thread: reads the newest frame's bits into `bits` (rows `pitch` bytes apart)
    // while it is still frame `serial` of context `generation`; false where it is not, and
    // nothing is written.
    bool ReadNewest(std::uint64_t serial, std::uint64_t generation, void* bits,
                    std::ptrdiff_t pitch);
    // The drawing thread: no more frames; the textures no one reads go now (the one the
    // presenter reads goes when it lets go). Names of another generation's context are dropped.
    void Close(std::uint64_t generation);

    // The presenter, its shared context current: the newest frame when it is newer than the one
    // held (the held slot is let go), after waiting on this thread for the GPU to have written
    // it; Same when nothing newer came; Gone, holding nothing, once closed.
    enum class Take { Newer, Same, Gone };
    Take TakeNewest(SharedFrame& frame);
    // The presenter lets go of the frame it holds (its draws that read it have finished).
    void LetGo();
    // The presenter cannot show these frames (no surface, no shared context): the drawing
    // thread reads each frame back for the presenter's other roads instead.
    void Refuse() { refused_.store(true); }
    bool Refused() const { return refused_.load(); }
    // The presenter has drawn one of these frames: until then the drawing thread also reads
    // each frame back, so a refusal never leaves a frame unshown.
    void Accept() { accepted_.store(true); }
    bool Accepted() const { return accepted_.load() && !refused_.load(); }
    std::uint64_t Published() const;
    // Frames the drawing thread copied and could not, each slot taken (tests).
    std::uint64_t Starved() const { return starved_.load(); }

private:
    struct Slot {
        GLuint texture = 0;
        GLuint framebuffer = 0; // the drawing context's, for the copy
        GLsync written = nullptr;
        SharedFrame frame;
    };
    void FreeSlot(Slot& slot, bool deleteNames);

    std::shared_ptr<Device> device_;
    mutable std::mutex mutex_;
    std::array<Slot, kSlots> slots_;
    int newest_ = -1;  // the slot of the newest frame published
    int reading_ = -1; // the slot the presenter holds
    std::uint64_t serial_ = 0;
    std::uint64_t generation_ = 0;
    bool closed_ = false;
    std::atomic<bool> refused_{false};
    std::atomic<bool> accepted_{false};
    std::atomic<std::uint64_t> starved_{0};
};

} // namespace gpu
