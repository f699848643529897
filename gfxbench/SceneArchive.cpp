#include "SceneArchive.h"

#include "BenchHost.h"
#include "engine/DArc.h"
#include "forms/Graphics.h"
#include "platform/BitmapHeader.h"
#include "platform/Classes.h"
#include "platform/ProgramFolders.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <new>

namespace {

// Whether the bytes pass both loaders: the surface's, which wants the "BM" mark and whole
// headers before it decodes, and the texture's, which decodes the same bytes from a file.
bool LoadsAsBitmap(TMemoryStream& stream) {
    const std::vector<std::uint8_t>& bytes = stream.Bytes();
    if (bytes.size() < kBitmapHeadersSize || !IsBitmapFile(bytes.data(), kBitmapFileHeaderSize))
        return false;
    TBitmap bitmap;
    return bitmap.LoadFromMemory(bytes.data(), bytes.size());
}

} // namespace

bool SceneArchiveCheck::Lacks(std::int32_t testMode) const {
    return std::any_of(faults.begin(), faults.end(), [testMode](const SceneFault& fault) {
        if (fault.entry.empty())
            return true;
        for (const ScenePicture& picture : kScenePictures)
            if (fault.entry == picture.entry)
                return testMode == kTestModeDirectDraw ? picture.directDraw : picture.direct3D;
        return false;
    });
}

std::string SceneArchiveName() {
    const std::string found = FindProgramFile(kSceneArchiveFileName);
    return found.empty() ? kSceneArchiveFileName : found;
}

SceneArchiveCheck CheckSceneArchive(const std::string& archive) {
    SceneArchiveCheck check{archive, {}};
    std::error_code error;
    if (!std::filesystem::exists(archive, error)) {
        check.faults.push_back({SceneFaultKind::ArchiveMissing, {}});
        return check;
    }
    std::unique_ptr<TFileStream> file;
    try {
        file = std::make_unique<TFileStream>(archive, TFileStream::fmOpenRead);
    } catch (const Exception&) {
        check.faults.push_back({SceneFaultKind::ArchiveUnreadable, {}});
        return check;
    }
    for (const ScenePicture& picture : kScenePictures) {
        try {
            const std::unique_ptr<TMemoryStream> entry = ReadArchiveEntry(*file, picture.entry);
            if (!LoadsAsBitmap(*entry))
                check.faults.push_back({SceneFaultKind::EntryDamaged, picture.entry});
        } catch (const EQDAError& e) {
            if (e.Message() == kQDANotAnArchive) {
                check.faults = {{SceneFaultKind::NotAnArchive, {}}};
                return check;
            }
            check.faults.push_back({e.Message() == kQDAEntryNotFound ? SceneFaultKind::EntryMissing
                                                                     : SceneFaultKind::EntryDamaged,
                                    picture.entry});
        } catch (const Exception&) { // a read error of the file
            check.faults.push_back({SceneFaultKind::EntryDamaged, picture.entry});
        } catch (const std::bad_alloc&) {
            check.faults.push_back({SceneFaultKind::EntryDamaged, picture.entry});
        }
    }
    return check;
}
