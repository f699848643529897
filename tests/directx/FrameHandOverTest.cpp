// Frames handed from the drawing context to another thread's shared context on the GPU: the
// reader gets the newest frame bit for bit, a reader holding a frame (a stalled presenter) never
// stops the drawer nor sees its frame written over, and closed or refused hand-overs stop.
#include "gpu/FrameHandOver.h"

#include "directx/GpuBlitter.h"
#include "tests/GpuRoad.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

using Take = gpu::FrameHandOver::Take;

// `work` on a thread of its own, a context shared with the drawing one current there.
template <typename Work> void OnReader(gpu::FrameHandOver& frames, Work&& work) {
    std::thread([&] {
        std::string why;
        const auto context = frames.GetDevice()->ShareContext(&why);
        ASSERT_TRUE(context && context->MakeCurrent()) << why;
        work();
        gpu::Context::ReleaseCurrent(frames.GetDevice()->GetDisplay());
    }).join();
}

// A taken 16-bit frame's bits, read through a framebuffer of the reader's context.
std::vector<std::uint16_t> Bits(const gpu::SharedFrame& frame) {
    std::vector<std::uint16_t> bits(std::size_t(frame.width) * std::size_t(frame.height));
    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, frame.texture,
                           0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, frame.width, frame.height, GL_RED_INTEGER, GL_UNSIGNED_SHORT, bits.data());
    glDeleteFramebuffers(1, &framebuffer);
    return bits;
}

TEST(FrameHandOverTest, NewestFramesArriveExactlyAndAHeldOneNeverStopsTheDrawer) {
    GpuRoad road;
    ASSERT_EQ(road.Failure(), "");
    const std::uint64_t generation = directx::GpuBlitter::Generation();
    gpu::FrameHandOver frames(gpu::ChosenDevice());
    // Three 37 x 11 frames on the GPU, each pixel its seed plus seven times its place.
    std::vector<std::vector<std::uint16_t>> bits(3, std::vector<std::uint16_t>(37 * 11));
    std::vector<std::unique_ptr<directx::GpuStore>> stores;
    for (std::size_t f = 0; f < bits.size(); ++f) {
        for (std::size_t i = 0; i < bits[f].size(); ++i)
            bits[f][i] = std::uint16_t(0x100 + f * 0x2000 + i * 7);
        stores.push_back(std::make_unique<directx::GpuStore>(37, 11, 2));
    }
    const auto publish = [&](std::size_t f, gpu::FrameHandOver& to, std::uint64_t made) {
        const directx::PixelPlane host{
            PixelBlock{reinterpret_cast<BYTE*>(bits[f].data()), 74, 37, 11}, 2};
        to.Publish(stores[f]->Framebuffer(host), 0, 0, 37, 11, gpu::FrameLayout::RGB565, nullptr,
                   made);
    };
    gpu::SharedFrame shown;
    publish(0, frames, generation);
    OnReader(frames, [&] {
        ASSERT_EQ(frames.TakeNewest(shown), Take::Newer);
        EXPECT_EQ(Bits(shown), bits[0]);
    });
    // The reader holds the first frame while the drawer goes on: every frame finds a slot.
    for (int i = 0; i < 20; ++i)
        publish(1 + i % 2, frames, generation);
    EXPECT_EQ(frames.Published(), 21u);
    EXPECT_EQ(frames.Starved(), 0u);
    OnReader(frames, [&] {
        EXPECT_EQ(Bits(shown), bits[0]); // what it holds was never written over
        ASSERT_EQ(frames.TakeNewest(shown), Take::Newer);
        EXPECT_EQ(shown.serial, 21u);
        EXPECT_EQ(Bits(shown), bits[2]);
        EXPECT_EQ(frames.TakeNewest(shown), Take::Same);
    });
    // Closed: nothing more is published, and the reader lets go of what it held.
    frames.Close(generation);
    publish(0, frames, generation);
    EXPECT_EQ(frames.Published(), 21u);
    OnReader(frames, [&] { EXPECT_EQ(frames.TakeNewest(shown), Take::Gone); });
    // A new drawing context (after a reset) shares nothing with the reader's: refused.
    gpu::FrameHandOver next(gpu::ChosenDevice());
    publish(0, next, generation);
    publish(0, next, generation + 1);
    EXPECT_TRUE(next.Refused());
    EXPECT_EQ(next.Published(), 1u);
    next.Close(generation);
    stores.clear();
}

} // namespace
