#pragma once
// The archive the DirectDraw and Direct3D tests load their pictures from, and a check, made
// outside any measurement, that each picture the scene needs is there and decodes. A picture
// that does not load leaves its surface or texture empty: the tests then run with less to draw
// and their scores are not comparable, so a run tells it before it starts.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr const char* kSceneArchiveFileName = "Zelka.dat";

// A picture of the scene and the tests that draw it.
struct ScenePicture {
    const char* entry;
    bool directDraw;
    bool direct3D;
};
inline constexpr std::array<ScenePicture, 4> kScenePictures{{
    {"samp4.bmp", true, false},
    {"boss2.bmp", true, true},
    {"samp3.bmp", true, false},
    {"samp5.bmp", true, false},
}};

enum class SceneFaultKind {
    ArchiveMissing,    // no such file, here or beside the program
    ArchiveUnreadable, // the file cannot be opened for reading
    NotAnArchive,      // the file is no QDA archive
    EntryMissing,      // the archive has no entry of the picture's name
    EntryDamaged,      // the entry's bytes cannot be read, expanded or decoded as a bitmap
};

struct SceneFault {
    SceneFaultKind kind;
    std::string entry; // the picture; empty for the archive's own faults
    bool operator==(const SceneFault&) const = default;
};

struct SceneArchiveCheck {
    std::string archive;            // the file checked
    std::vector<SceneFault> faults; // empty: every picture loads

    bool Complete() const { return faults.empty(); }
    // Whether the test of that mode (kTestModeDirectDraw, kTestModeDirect3D) lacks a picture.
    bool Lacks(std::int32_t testMode) const;
};

// The archive the scene loads: "Zelka.dat" in the current folder, else the program's own copy,
// else the bare name (which then does not open).
std::string SceneArchiveName();

// Reads each picture of the scene from the archive as the loaders do and decodes it, without
// creating any surface.
SceneArchiveCheck CheckSceneArchive(const std::string& archive = SceneArchiveName());
