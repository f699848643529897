// Writes seed corpora for the fuzz targets from the packer's own output:
//   make_fuzz_seeds RESOURCES_FOLDER OUT_FOLDER
// OUT_FOLDER/<target>/ gets a handful of inputs each, from the scene's pictures and a few
// small hand-made cases.
#include "FuzzInput.h"
#include "engine/DArc.h"
#include "platform/Classes.h"
#include "tools/ArchivePacker.h"

#include <filesystem>
#include <iostream>

namespace {

using Bytes = std::vector<std::uint8_t>;

void Write(const std::filesystem::path& folder, const std::string& name, const Bytes& bytes) {
    std::filesystem::create_directories(folder);
    TMemoryStream stream(bytes);
    stream.SaveToFile((folder / name).string());
}

Bytes WithSize(const Bytes& packed, std::size_t stated) {
    Bytes out{std::uint8_t(stated), std::uint8_t(stated >> 8), std::uint8_t(stated >> 16),
              std::uint8_t(stated >> 24)};
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: make_fuzz_seeds RESOURCES_FOLDER OUT_FOLDER\n";
        return 2;
    }
    const std::filesystem::path resources = argv[1], out = argv[2];
    try {
        std::vector<ArchiveInput> pictures;
        for (const char* name : {"samp4.bmp", "boss2.bmp", "samp3.bmp", "samp5.bmp"}) {
            TMemoryStream file;
            file.LoadFromFile((resources / name).string());
            pictures.push_back({name, file.TakeBytes()});
        }
        const Bytes tune = Text("abababababcdcdcdcdabcdabcd ゼルカ ゼルカ ゼルカ");
        const Bytes example{0xFF, 0x61, 0x62, 0xFE, 0x02, 0x00, 0x00, 0x00, 0x80, 0x80};

        const auto archives = out / "read_archive_entry";
        Write(archives, "sprites-packed", BuildArchive({pictures[3]}, true));
        Write(archives, "sprites-stored", BuildArchive({pictures[3]}, false));
        Write(archives, "empty", BuildArchive({}, true));
        Write(archives, "texts",
              BuildArchive({{"a.txt", tune}, {"A.TXT", Text("x")}, {"empty", {}}}, true));
        Write(archives, "texts-stored", BuildArchive({{"a.txt", tune}, {"b", Text("y")}}, false));
        Bytes example_archive = BuildArchive({{"ab", {0x61, 0x62, 0x61, 0x62}}}, true);
        example_archive.resize(example_archive.size() -
                               PackBytePairs({0x61, 0x62, 0x61, 0x62}).size());
        example_archive.insert(example_archive.end(), example.begin(), example.end());
        example_archive[256 + 4] = std::uint8_t(example.size()); // packed size of the entry
        Write(archives, "example", example_archive);
        Write(archives, "tiles-packed", BuildArchive({pictures[0], pictures[2]}, true));

        const auto expand = out / "expand_byte_pairs";
        Write(expand, "example", WithSize(example, 4));
        Write(expand, "tune", WithSize(PackBytePairs(tune), tune.size()));
        Write(expand, "sprites",
              WithSize(PackBytePairs(pictures[3].Data), pictures[3].Data.size()));
        const Bytes tileBlock(pictures[0].Data.begin(), pictures[0].Data.begin() + 4096);
        Write(expand, "tile-block", WithSize(PackBytePairs(tileBlock), tileBlock.size()));
        Write(expand, "small-blocks", WithSize(PackBytePairs(tune, 7), tune.size()));
        // Pairs of pairs: code 128 is "aa", every later code two of the one before, so the
        // one byte FF stands for 2^128 bytes, far past the largest entry allowed.
        Bytes deep{0xFF, 0x61, 0x61, 126};
        for (int code = 129; code < 256; ++code)
            deep.insert(deep.end(), {std::uint8_t(code - 1), std::uint8_t(code - 1)});
        deep.insert(deep.end(), {1, 0, 0, 0, 0xFF});
        Write(expand, "deep-pairs", WithSize(deep, kQDALargestEntry));
        Write(expand, "deep-pairs-past-bound", WithSize(deep, 0x7FFFFFFF));

        const auto roundTrip = out / "pack_round_trip";
        Write(roundTrip, "tune", [&] {
            Bytes b{3};
            b.insert(b.end(), tune.begin(), tune.end());
            return b;
        }());
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            Bytes b{std::uint8_t(i * 40)};
            b.insert(b.end(), pictures[i].Data.begin(),
                     pictures[i].Data.begin() +
                         std::min<std::size_t>(1200, pictures[i].Data.size()));
            Write(roundTrip, pictures[i].Name, b);
        }
    } catch (const Exception& e) {
        std::cerr << "make_fuzz_seeds: " << e.Message() << "\n";
        return 1;
    }
    return 0;
}
