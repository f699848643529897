// The whole DirectDraw and Direct3D tests on the GPU (llvmpipe here, through the tests' switch)
// against the software layer, on a scripted clock: the same DirectDraw frames, byte for byte, the
// hardware device's Direct3D frames within a rounding of the emulation device's, and the same
// scores.
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
#include <cstdlib>
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

std::vector<BYTE> Bytes(IDirectDrawSurface* front) {
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
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
                    run.frames[n] = Bytes(form.DDDD1->PrimarySurface->Surface);
                now += kStepMs;
            };
            form.Timer->start();
            form.ShowModal();
            run.score = host.directDraw.text();
        }
        return run;
    }
    // The Direct3D test: on the GPU road with the hardware device, else on the software layer
    // with RGB emulation (no 3-D hardware); the back buffer as drawn in the tenth frame of each
    // phase.
    SceneRun Direct3DRun(bool gpu) {
        SceneRun run;
        std::optional<GpuRoad> road;
        if (gpu) {
            road.emplace();
            EXPECT_EQ(road->Failure(), "");
        } else {
            directx::Adapter().Reset();
        }
        directx::Adapter().SetDesktopBitCount(16);
        {
            DetachedHost host;
            TForm3 form(host);
            host.mode = 2; // as the main window's start command sets it: the form exists
            form.Timer->setInterval(0);
            form.SetUpForTestMode(&host);
            DWORD now = 5000;
            ScriptedClock clock{[&](std::uint64_t) { return now; }};
            int inPhase = 0, lastPhase = 0;
            form.FrameHook = [&](int phase) {
                inPhase = phase == lastPhase ? inPhase + 1 : 1;
                lastPhase = phase;
                if (phase == 1) {
                    // The hardware device draws on the GPU: its target, Z-buffer and texture
                    // lie there.
                    const auto onGpu = [](IDirectDrawSurface* s) {
                        return static_cast<directx::SoftSurface*>(s)->OnGpu();
                    };
                    run.onGpu = form.DDDD1->D3DDeviceKind == TD3DDeviceKind::HAL &&
                                onGpu(form.DDDD1->BackBuffer->Surface) &&
                                onGpu(form.DDDD1->ZBuffer->Surface) &&
                                onGpu(form.Texture->DeviceSurface);
                }
                if (inPhase == 10)
                    run.frames[phase] = Bytes(form.DDDD1->BackBuffer->Surface);
                now += 50; // 100 frames a phase
            };
            form.Timer->start();
            form.ShowModal();
            run.score = host.direct3D.text();
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

// Each phase's frame of the hardware device within two steps per 5-6-5 channel of the emulation
// device's in at least 99.5 % of the pixels: the two round and place triangle edges each their
// own way.
TEST_F(SceneGpuTest, Direct3DRunOnTheGpuDrawsTheEmulationDevicesFrames) {
    const SceneRun software = Direct3DRun(false);
    const SceneRun gpu = Direct3DRun(true);
    EXPECT_FALSE(software.onGpu);
    EXPECT_TRUE(gpu.onGpu);
    EXPECT_EQ(software.score, QString::number(400 * 10));
    EXPECT_EQ(gpu.score, software.score);
    ASSERT_EQ(software.frames.size(), 4u);
    ASSERT_EQ(gpu.frames.size(), 4u);
    for (const auto& [phase, bytes] : software.frames) {
        SCOPED_TRACE(phase);
        const std::vector<BYTE>& other = gpu.frames.at(phase);
        ASSERT_EQ(other.size(), bytes.size());
        std::size_t far = 0;
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
            const int a = bytes[i] | bytes[i + 1] << 8, b = other[i] | other[i + 1] << 8;
            const int dr = (a >> 11) - (b >> 11), dg = ((a >> 5) & 63) - ((b >> 5) & 63),
                      db = (a & 31) - (b & 31);
            far += std::abs(dr) > 2 || std::abs(dg) > 2 || std::abs(db) > 2;
        }
        EXPECT_LE(far * 1000, bytes.size() / 2 * 5) << far << " pixels further off";
        if (far * 1000 > bytes.size() / 2 * 5) {
            for (const auto* b : {&bytes, &other})
                QImage(b->data(), 400, 400, 800, QImage::Format_RGB16)
                    .save(QString("/tmp/scene3d-%1-%2.png")
                              .arg(phase)
                              .arg(b == &bytes ? "soft" : "gpu"));
        }
    }
}
// scratch

} // namespace
