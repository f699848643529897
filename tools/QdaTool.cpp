#include "QdaTool.h"

#include "ArchivePacker.h"
#include "engine/DArc.h"
#include "platform/Classes.h"

#include <cstdio>
#include <exception>
#include <iomanip>
#include <unistd.h>

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char* const kUsageText = "usage: qdatool pack [--stored] ARCHIVE FILE...\n"
                               "       qdatool list ARCHIVE\n"
                               "       qdatool extract ARCHIVE ENTRY OUTFILE\n";

class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void WriteFileAtomically(const std::string& fileName, const std::vector<std::uint8_t>& bytes) {
    // A half-written archive must never replace a good one, so write beside it and rename.
    const std::string temporary = fileName + ".tmp" + std::to_string(::getpid());
    try {
        TMemoryStream stream(bytes);
        stream.SaveToFile(temporary);
    } catch (const EStreamError& e) {
        std::remove(temporary.c_str());
        throw ToolError("cannot write \"" + fileName + "\": " + e.Message());
    }
    if (std::rename(temporary.c_str(), fileName.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw ToolError("cannot replace \"" + fileName + "\"");
    }
}

int Pack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::size_t at = 1;
    bool packed = true;
    if (at < args.size() && args[at] == "--stored") {
        packed = false;
        ++at;
    }
    if (args.size() - at < 2) {
        err << kUsageText;
        return kUsage;
    }
    const std::string archiveName = args[at++];
    std::vector<ArchiveInput> inputs;
    for (; at < args.size(); ++at) {
        const std::string& fileName = args[at];
        const std::optional<std::string> name = EncodeArchiveName(fileName);
        if (!name)
            throw ToolError("entry name \"" + fileName + "\" has no CP932 form");
        if (name->empty() || name->size() >= kQDANameSize)
            throw ToolError("entry name \"" + fileName + "\" must be 1 to 255 CP932 bytes");
        for (const ArchiveInput& earlier : inputs)
            if (ArchiveNamesMatch(earlier.Name, *name)) {
                err << "qdatool: warning: \"" << fileName
                    << "\" is given more than once; readers find the first\n";
                break;
            }
        TMemoryStream data;
        data.LoadFromFile(fileName);
        inputs.push_back({*name, data.TakeBytes()});
    }
    const std::vector<std::uint8_t> archive = BuildArchive(inputs, packed);

    // Every entry must come back through the engine's reader before the file is written.
    TMemoryStream check(archive);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        bool shadowed = false;
        for (std::size_t j = 0; j < i; ++j)
            shadowed = shadowed || ArchiveNamesMatch(inputs[j].Name, inputs[i].Name);
        if (shadowed)
            continue;
        const std::unique_ptr<TMemoryStream> back =
            ReadArchiveEntry(check, DecodeArchiveName(inputs[i].Name));
        if (back->Bytes() != inputs[i].Data)
            throw ToolError("entry \"" + args[args.size() - inputs.size() + i] +
                            "\" does not read back unchanged");
    }
    WriteFileAtomically(archiveName, archive);
    std::size_t total = 0;
    for (const ArchiveInput& input : inputs)
        total += input.Data.size();
    out << archiveName << ": " << inputs.size() << (inputs.size() == 1 ? " entry, " : " entries, ")
        << total << " bytes " << (packed ? "packed" : "stored") << " into " << archive.size()
        << "\n";
    return kOk;
}

int List(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 2) {
        err << kUsageText;
        return kUsage;
    }
    TFileStream file(args[1], TFileStream::fmOpenRead);
    const TQDADirectory directory = ReadArchiveDirectory(file);
    out << args[1] << ": " << (directory.Packed ? "packed" : "stored") << ", "
        << directory.Entries.size() << (directory.Entries.size() == 1 ? " entry\n" : " entries\n");
    out << std::setw(10) << "offset" << std::setw(11) << "stored" << std::setw(11) << "size"
        << "  name\n";
    for (const TQDAEntry& entry : directory.Entries) {
        const std::uint32_t stored = directory.Packed ? entry.PackedSize : entry.Size;
        out << std::setw(10) << entry.DataOffset << std::setw(11) << stored << std::setw(11)
            << entry.Size << "  " << DecodeArchiveName(entry.Name) << "\n";
    }
    return kOk;
}

int Extract(const std::vector<std::string>& args, std::ostream& err) {
    if (args.size() != 4) {
        err << kUsageText;
        return kUsage;
    }
    const std::unique_ptr<TMemoryStream> entry = OpenArchiveEntry(args[1], args[2]);
    WriteFileAtomically(args[3], entry->Bytes());
    return kOk;
}

} // namespace

int RunQdaTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        if (!args.empty() && args[0] == "pack")
            return Pack(args, out, err);
        if (!args.empty() && args[0] == "list")
            return List(args, out, err);
        if (!args.empty() && args[0] == "extract")
            return Extract(args, err);
        err << kUsageText;
        return kUsage;
    } catch (const Exception& e) {
        err << "qdatool: " << e.Message() << "\n";
    } catch (const std::bad_alloc&) {
        err << "qdatool: out of memory\n";
    } catch (const std::exception& e) {
        err << "qdatool: " << e.what() << "\n";
    }
    return kFailed;
}
