#pragma once
// The engine's surroundings for a test of the scene window: a fresh virtual display at 16
// bits, the engine's log in a folder of the test's own, halts that throw, and the scene's
// archive (ZELKA_DAT_PATH) copied into that folder, the current one while the test runs.
#include "directx/DisplayAdapter.h"
#include "engine/dddd_log.h"
#include "forms/Halt.h"
#include "tests/CardWith3D.h"
#include "tests/ScopedEnv.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

class SceneFolderTest : public ::testing::Test {
protected:
    // What a halt throws.
    struct Halted {};

    void SetUp() override {
        directx::Adapter().Reset();
        directx::Adapter().SetDesktopBitCount(16);
        OfferHardware3D(); // a card with 3-D hardware, as the scene's set-ups are written for
        ASSERT_TRUE(dir.isValid());
        SetDebugLogFolderForTests(dir.path().toStdString());
        ASSERT_TRUE(QFile::copy(ZELKA_DAT_PATH, dir.filePath("Zelka.dat")));
        cwd = std::make_unique<ScopedCurrentDir>(dir.path());
    }
    void TearDown() override {
        cwd.reset();
        SetDebugLogFolderForTests("");
        directx::Adapter().Reset();
    }

    QTemporaryDir dir;
    std::unique_ptr<ScopedCurrentDir> cwd;
    ScopedHaltAction halt{[] { throw Halted{}; }};
};
