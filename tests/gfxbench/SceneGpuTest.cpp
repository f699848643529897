// The whole DirectDraw test on the GPU (llvmpipe here, through the tests' switch) against the
// software layer, on a scripted clock: the same frames, byte for byte, and the same score.
#include "directx/GpuBlitter.h"
#include "directx/SoftSurface.h"
#include "engine/dddd.h"
#include "gfxbench/DetachedHost.h"
#include "gfxbench/Unit3.h"
#include "platform/MMSystem.h"
#include "platform/Random.h"
#include "tests/GpuRoad.h"
#include "tests/gfxbench/SceneFixture.h"

#include <QImage>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <vector>

namespace {

constexpr DWORD kStepMs = 11; // a frame: 1364 of them in the 15 s
constexpr int kLastFrame = 1364;

struct SceneRun {
    std::map<int, std::vector<BYTE>> frames; // by frame number, as the front showed them
    QString score;
    bool onGpu = false;
};

std::vector<BYTE> FrontBytes(TDDDD& engine) {
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    IDirectDrawSurface* front = engine.PrimarySurface->Surface;
    EXPECT_EQ(front->Lock(nullptr, &desc, DDLOCK_WAIT | DDLOCK_READONLY, nullptr), DD_OK);
    std::vector<BYTE> bytes;
    for (DWORD y = 0; y < desc.dwHeight; ++y) {
        const BYTE* row = static_cast<const BYTE*>(desc.lpSurface) + y * desc.lPitch;
        bytes.insert(bytes.end(), row, row + desc.dwWidth * 2);
    }
    front->Unlock(nullptr);
    return bytes;
}

class SceneGpuTest : public SceneFolderTest {
protected:
    SceneRun DirectDrawRun(bool gpu) {
        SceneRun run;
        std::optional<GpuRoad> road;
        if (gpu) {
            road.emplace();
            EXPECT_EQ(road->Failure(), "");
            directx::Adapter().SetDesktopBitCount(16);
        }
        {
            RandSeed = 12345; // the sprites' places and speeds
            DetachedHost host;
            host.mode = 1;
            TForm3 form(host);
            form.Timer->setInterval(0);
            form.SetUpForTestMode(&host);
            DWORD now = 5000;
            ScriptedClock clock{[&](std::uint64_t) { return now; }};
            form.FrameHook = [&](int) {
                const int n = form.FrameNumber;
                if (n == 1)
                    run.onGpu = static_cast<directx::SoftSurface*>(form.DDDD1->BackBuffer->Surface)
                                    ->OnGpu();
                if (n == 1 || n == 300 || n == 1201 || n == kLastFrame)
                    run.frames[n] = FrontBytes(*form.DDDD1);
                now += kStepMs;
            };
            form.Timer->start();
            form.ShowModal();
            run.score = host.directDraw.text();
        }
        return run;
    }
};

TEST_F(SceneGpuTest, DirectDrawRunOnTheGpuDrawsTheSoftwareFrames) {
    const SceneRun software = DirectDrawRun(false);
    const SceneRun gpu = DirectDrawRun(true);
    EXPECT_FALSE(software.onGpu);
    EXPECT_TRUE(gpu.onGpu);
    EXPECT_EQ(software.score, QString::number(kLastFrame * 25));
    EXPECT_EQ(gpu.score, software.score);
    ASSERT_EQ(software.frames.size(), 4u);
    ASSERT_EQ(gpu.frames.size(), 4u);
    for (const auto& [number, bytes] : software.frames) {
        SCOPED_TRACE(number);
        const std::vector<BYTE>& other = gpu.frames.at(number);
        ASSERT_EQ(other.size(), bytes.size());
        std::size_t differing = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i)
            differing += bytes[i] != other[i];
        EXPECT_EQ(differing, 0u);
        if (differing) {
            for (const auto* b : {&bytes, &other})
                QImage(b->data(), 640, 480, 1280, QImage::Format_RGB16)
                    .save(QString("/tmp/scene-%1-%2.png")
                              .arg(number)
                              .arg(b == &bytes ? "soft" : "gpu"));
        }
    }
}

} // namespace
