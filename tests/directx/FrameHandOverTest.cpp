// Frames handed from the drawing context to another thread's shared context on the GPU: what
// that thread reads is the frame's bits exactly, it always gets the newest, and a reader that
// holds a frame (a stalled presenter) never stops the drawing thread.
#include "gpu/FrameHandOver.h"

#include "directx/GpuBlitter.h"
#include "directx/GpuStore.h"
#include "tests/GpuRoad.h"

#include <gtest/gtest.h>
#include <optional>
#include <thread>
#include <vector>

namespace {

// A 16-bit frame on the GPU whose every pixel is `seed` plus its position.
struct Frame {
    Frame(int width, int height, std::uint16_t seed)
        : store(width, height, 2), bits(std::size_t(width) * std::size_t(height)) {
        for (std::size_t i = 0; i < bits.size(); ++i)
            bits[i] = std::uint16_t(seed + i * 7);
        host = directx::PixelPlane{
            PixelBlock{reinterpret_cast<BYTE*>(bits.data()), width * 2, width, height}, 2};
    }
    GLuint Framebuffer() { return store.Framebuffer(host); }
    directx::GpuStore store;
    std::vector<std::uint16_t> bits;
    directx::PixelPlane host;
};

// The other thread: a context shared with the drawing one, taking frames as a presenter does.
class Reader {
public:
    explicit Reader(gpu::FrameHandOver& frames) : frames_(frames) {}
    // Runs `work` on a thread of its own with its shared context current.
    template <typename Work> void Run(Work&& work) {
        std::thread thread([&] {
            std::string why;
            if (!context_)
                context_ = frames_.GetDevice()->ShareContext(&why);
            ASSERT_TRUE(context_) << why;
            ASSERT_TRUE(context_->MakeCurrent());
            work();
            glFinish();
            gpu::Context::ReleaseCurrent(frames_.GetDevice()->GetDisplay());
        });
        thread.join();
    }
    // The taken frame's bits, read through a framebuffer of this context.
    std::vector<std::uint16_t> Bits(const gpu::SharedFrame& frame) {
        std::vector<std::uint16_t> bits(std::size_t(frame.width) * std::size_t(frame.height));
        GLuint framebuffer = 0;
        glGenFramebuffers(1, &framebuffer);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
        glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                               frame.texture, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, frame.width, frame.height, GL_RED_INTEGER, GL_UNSIGNED_SHORT,
                     bits.data());
        glDeleteFramebuffers(1, &framebuffer);
        return bits;
    }
    ~Reader() {
        if (context_)
            Run([] {}); // freed where it is not current
        context_.reset();
    }

private:
    gpu::FrameHandOver& frames_;
    std::unique_ptr<gpu::Context> context_;
};

class FrameHandOverTest : public ::testing::Test {
protected:
    void SetUp() override {
        road.emplace();
        ASSERT_EQ(road->Failure(), "");
        directx::GpuBlitter::Get(); // the drawing context, current on this thread
        frames.emplace(gpu::ChosenDevice());
    }
    void TearDown() override {
        if (frames)
            frames->Close(directx::GpuBlitter::Generation());
        frames.reset();
        road.reset();
    }
    void Publish(Frame& frame) {
        frames->Publish(frame.Framebuffer(), frame.store.Width(), frame.store.Height(),
                        gpu::FrameLayout::RGB565, nullptr, directx::GpuBlitter::Generation());
    }
    std::optional<GpuRoad> road;
    std::optional<gpu::FrameHandOver> frames;
};

TEST_F(FrameHandOverTest, TheReaderGetsTheNewestFrameBitForBitAndHoldingItNeverStopsTheDrawer) {
    Frame first(37, 11, 0x100), later(37, 11, 0x2000), last(37, 11, 0x7777);
    Reader reader(*frames);
    gpu::SharedFrame shown;
    reader.Run([&] { EXPECT_EQ(frames->TakeNewest(shown), gpu::FrameHandOver::Take::Same); });
    Publish(first);
    std::vector<std::uint16_t> bits;
    reader.Run([&] {
        ASSERT_EQ(frames->TakeNewest(shown), gpu::FrameHandOver::Take::Newer);
        bits = reader.Bits(shown);
    });
    EXPECT_EQ(shown.serial, 1u);
    EXPECT_EQ(bits, first.bits);
    // The reader keeps the first frame while the drawer goes on: every frame finds a slot.
    for (int i = 0; i < 20; ++i)
        Publish(i % 2 ? later : last);
    EXPECT_EQ(frames->Published(), 21u);
    EXPECT_EQ(frames->Starved(), 0u);
    reader.Run([&] {
        EXPECT_EQ(reader.Bits(shown), first.bits); // what it holds was never written over
        ASSERT_EQ(frames->TakeNewest(shown), gpu::FrameHandOver::Take::Newer);
        bits = reader.Bits(shown);
        EXPECT_EQ(frames->TakeNewest(shown), gpu::FrameHandOver::Take::Same);
    });
    EXPECT_EQ(shown.serial, 21u);
    EXPECT_EQ(bits, later.bits);
}

TEST_F(FrameHandOverTest, ClosedOrRefusedFramesStop) {
    Frame frame(8, 8, 0x10);
    Reader reader(*frames);
    Publish(frame);
    gpu::SharedFrame shown;
    reader.Run([&] { ASSERT_EQ(frames->TakeNewest(shown), gpu::FrameHandOver::Take::Newer); });
    // A new drawing context (after a reset) shares nothing with the reader's: refused.
    frames->Publish(frame.Framebuffer(), 8, 8, gpu::FrameLayout::RGB565, nullptr,
                    directx::GpuBlitter::Generation() + 1);
    EXPECT_TRUE(frames->Refused());
    EXPECT_EQ(frames->Published(), 1u);
    frames.emplace(gpu::ChosenDevice());
    Reader second(*frames);
    Publish(frame);
    second.Run([&] { ASSERT_EQ(frames->TakeNewest(shown), gpu::FrameHandOver::Take::Newer); });
    frames->Close(directx::GpuBlitter::Generation());
    Publish(frame); // after the close: nothing
    EXPECT_EQ(frames->Published(), 1u);
    second.Run([&] { EXPECT_EQ(frames->TakeNewest(shown), gpu::FrameHandOver::Take::Gone); });
}

} // namespace
