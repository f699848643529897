#pragma once
// The Direct3D test started from the main window on the GPU road (llvmpipe taken as hardware),
// with pictures shown, on the scripted clock, and what its window shows: the back buffer
// stretched over the client area, drawn by the presenter from the GPU.
#include "app/Unit1.h"
#include "directx/SoftSurface.h"
#include "engine/dddd.h"
#include "engine/dddd_log.h"
#include "forms/Presenter.h"
#include "gfxbench/Unit2.h"
#include "gfxbench/Unit3.h"
#include "platform/MMSystem.h"
#include "tests/GpuRoad.h"
#include "tests/PictureCompare.h"
#include "tests/ScopedEnv.h"

#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
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

// Starts the Direct3D test alone from the main window, five frames a phase, and looks at the
// fifth frame of each phase the hardware device draws; `also` is called after each look. The
// scene's archive is copied from `archive` into the run's own current folder.
inline std::vector<Direct3DShownFrame>
RunDirect3DShown(const QString& archive, const std::function<void(const QImage&)>& also = {}) {
    std::vector<Direct3DShownFrame> seen;
    QTemporaryDir dir;
    if (!QFile::copy(archive, dir.filePath("Zelka.dat")))
        return seen;
    ScopedCurrentDir cwd(dir.path());
    SetDebugLogFolderForTests(dir.path().toStdString());
    {
        TForm1 main;
        TForm2 gdi(main);
        TForm3 scene(main);
        scene.Timer->setInterval(0);
        for (QCheckBox* box : {main.cb1, main.cb2, main.cb3, main.cb5})
            box->setChecked(false);
        main.cb4->setChecked(true);
        main.show();
        DWORD now = 1000;
        ScriptedClock clock([&now](std::uint64_t) { return ++now; });
        int inPhase = 0, lastPhase = 0;
        scene.FrameHook = [&](int phase) {
            inPhase = phase == lastPhase ? inPhase + 1 : 1;
            lastPhase = phase;
            now += kDirect3DPhaseMs / 5;
            if (inPhase != 5 || scene.DDDD1->D3DDeviceKind != TD3DDeviceKind::HAL)
                return;
            seen.push_back(LookAtDirect3DFrame(scene));
            if (also)
                also(seen.back().shown);
        };
        main.Button5Click();
        main.hide();
    }
    SetDebugLogFolderForTests("");
    return seen;
}

// A frame of each phase on `road`, showing the back buffer stretched, the primary's memory
// holding it, and, on the GL road, the back buffer not read back once the road drew a frame.
inline void ExpectDirect3DShown(const std::vector<Direct3DShownFrame>& frames,
                                const std::string& road) {
    ASSERT_EQ(frames.size(), 4u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(frames[i].road, road);
        EXPECT_GT(frames[i].shown.width(), 400);
        EXPECT_EQ(frames[i].shownMismatches, 0);
        EXPECT_EQ(frames[i].memoryMismatches, 0);
        if (i > 0) { // the road has drawn a frame by the first look
            EXPECT_EQ(frames[i].backBufferRead, road != "gl");
        }
    }
}
