#pragma once
// The Direct3D test on the GPU road (llvmpipe taken as hardware) in a window the window system
// shows, on the scripted clock, and what its window shows at a frame: the back buffer stretched
// over the client area, drawn by the presenter from the GPU.
#include "directx/SoftSurface.h"
#include "engine/dddd.h"
#include "engine/dddd_log.h"
#include "forms/Presenter.h"
#include "gfxbench/DetachedHost.h"
#include "gfxbench/Unit3.h"
#include "platform/MMSystem.h"
#include "tests/GpuRoad.h"
#include "tests/PictureCompare.h"
#include "tests/ScopedEnv.h"

#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <string>
#include <vector>

// What the window showed at a frame, compared with the back buffer.
struct Direct3DShownFrame {
    std::string road;          // the presenter's road for the window
    bool backBufferRead;       // the back buffer was read back to host memory for the frame
    int shownMismatches = -1;  // window pixels that are not the back buffer's, stretched
    int memoryMismatches = -1; // the same for the primary's memory under the window
    QImage shown;              // what the window showed, as the presenter read it back
};

// The surface's pixels in `area` (all of it when empty), in the colours a window shows.
inline QImage SurfacePicture(IDirectDrawSurface* surface, QRect area = {}) {
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    if (surface->Lock(nullptr, &desc, DDLOCK_WAIT | DDLOCK_READONLY, nullptr) != DD_OK)
        return QImage();
    const TPixelView view = static_cast<directx::SoftSurface*>(surface)->View();
    const QImage whole(view.bits, view.width, view.height, int(view.pitch),
                       presenting::QtFormat(view.layout));
    const QImage picture =
        (area.isEmpty() ? whole : whole.copy(area)).convertToFormat(QImage::Format_RGB32);
    surface->Unlock(nullptr);
    return picture;
}

// What the Direct3D test's window shows now, a frame just presented.
inline Direct3DShownFrame LookAtDirect3DFrame(TForm3& form) {
    Direct3DShownFrame frame;
    IDirectDrawSurface* back = form.DDDD1->BackBuffer->Surface;
    const directx::GpuStore* store = static_cast<directx::SoftSurface*>(back)->Gpu();
    frame.backBufferRead = !store || !store->HostStale(); // before this reads it
    frame.shown = PresentedPicture(form.DDDD1->Window);
    frame.road = presenting::Presenter::Instance().RoadName(&form);
    const QImage source = SurfacePicture(back);
    POINT origin{0, 0};
    ClientToScreen(form.DDDD1->Window, &origin);
    const QRect client = frame.shown.rect();
    frame.shownMismatches = Mismatches(frame.shown, source, client, 1);
    // The primary's memory under the window (the screen may be the smaller).
    auto* primary = static_cast<directx::SoftSurface*>(form.DDDD1->PrimarySurface->Surface);
    const QRect onScreen = client.translated(origin.x, origin.y);
    const QRect under = onScreen & QRect(0, 0, primary->Width(), primary->Height());
    frame.memoryMismatches = Mismatches(SurfacePicture(primary, under), source,
                                        onScreen.translated(-under.topLeft()), 1);
    return frame;
}

// Calls `look` at the fifth of every five frames of each phase the hardware device draws, the
// scripted clock `now` moved on a fifth of a phase each frame.
inline std::function<void(int)> EachPhasesFifthFrame(TForm3& form, DWORD& now,
                                                     std::function<void()> look) {
    return [&form, &now, look = std::move(look), inPhase = 0, lastPhase = 0](int phase) mutable {
        inPhase = phase == lastPhase ? inPhase + 1 : 1;
        lastPhase = phase;
        now += kDirect3DPhaseMs / 5;
        if (inPhase == 5 && form.DDDD1->D3DDeviceKind == TD3DDeviceKind::HAL)
            look();
    };
}

// Runs the Direct3D test on its own with the hardware device at 16 bits and looks at the fifth
// frame of each phase. The scene's archive is copied from `archive` into a folder of the run's
// own, its current folder while it runs.
inline std::vector<Direct3DShownFrame> RunDirect3DShown(const QString& archive) {
    std::vector<Direct3DShownFrame> seen;
    QTemporaryDir dir;
    if (!QFile::copy(archive, dir.filePath("Zelka.dat")))
        return seen;
    ScopedCurrentDir cwd(dir.path());
    SetDebugLogFolderForTests(dir.path().toStdString());
    {
        directx::Adapter().SetDesktopBitCount(16);
        DetachedHost host;
        TForm3 form(host);
        host.mode = 2; // as the main window's start command sets it: the form exists
        form.Timer->setInterval(0);
        form.SetUpForTestMode(&host);
        DWORD now = 5000;
        ScriptedClock clock{[&](std::uint64_t) { return now; }};
        form.FrameHook =
            EachPhasesFifthFrame(form, now, [&] { seen.push_back(LookAtDirect3DFrame(form)); });
        form.Timer->start();
        form.ShowModal();
    }
    SetDebugLogFolderForTests("");
    return seen;
}
