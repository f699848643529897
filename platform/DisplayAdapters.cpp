#include "DisplayAdapters.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

extern "C" {
#include <pci/pci.h>
}

namespace {

// libpci's error callback may not return (a damaged ID database is one); the name lookup ends
// through here instead of ending the program.
thread_local std::jmp_buf* lookupFailed = nullptr;

[[noreturn]] void LookupError(char*, ...) {
    std::longjmp(*lookupFailed, 1);
}

void Quiet(char*, ...) {}

std::string Attribute(const std::filesystem::path& device, const char* name) {
    std::ifstream file(device / name);
    std::string value;
    std::getline(file, value);
    return value;
}

// A sysfs number attribute such as "0x10de"; -1 when it is missing or no number.
long HexAttribute(const std::filesystem::path& device, const char* name) {
    const std::string text = Attribute(device, name);
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 16);
    return text.empty() || *end != '\0' || value < 0 ? -1 : value;
}

std::string Hex(long value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04lx", value & 0xFFFF);
    return text;
}

// A name from the ID database, or empty. Kept apart from anything with a destructor: a
// failing lookup jumps out of it.
bool LookUp(pci_access* pacc, char* buffer, int size, int flags, int vendor, int device) {
    std::jmp_buf failed;
    lookupFailed = &failed;
    if (setjmp(failed) != 0) {
        lookupFailed = nullptr;
        buffer[0] = '\0';
        return false;
    }
    const char* name = pci_lookup_name(pacc, buffer, size, flags, vendor, device);
    lookupFailed = nullptr;
    return name != nullptr;
}

} // namespace

std::vector<DisplayAdapter> DisplayAdapters(const DisplayAdapterSources& sources) {
    namespace fs = std::filesystem;
    // The devices are read from sysfs directly: libpci's own scan treats anything unexpected
    // in the tree as fatal. libpci gives the names.
    const fs::path devices = fs::path(sources.sysfsRoot) / "bus" / "pci" / "devices";
    std::error_code ec;
    std::vector<DisplayAdapter> adapters;
    std::vector<std::pair<long, long>> ids;
    for (const fs::directory_entry& entry : fs::directory_iterator(devices, ec)) {
        const long cls = HexAttribute(entry.path(), "class");
        if (cls < 0 || (cls >> 16) != PCI_BASE_CLASS_DISPLAY)
            continue;
        const long vendor = HexAttribute(entry.path(), "vendor");
        const long device = HexAttribute(entry.path(), "device");
        if (vendor < 0 || device < 0)
            continue;
        std::error_code linkError;
        const fs::path driver = fs::read_symlink(entry.path() / "driver", linkError);
        DisplayAdapter adapter;
        adapter.slot = entry.path().filename().string();
        adapter.driver = linkError ? std::string() : driver.filename().string();
        adapter.bootVga = Attribute(entry.path(), "boot_vga") == "1";
        adapters.push_back(adapter);
        ids.emplace_back(vendor, device);
    }
    if (adapters.empty())
        return {};

    pci_access* pacc = pci_alloc();
    pacc->error = LookupError;
    pacc->warning = Quiet;
    pacc->debug = Quiet;
    std::string idFile = sources.idFile;
    if (!idFile.empty())
        pci_set_name_list_path(pacc, idFile.data(), 0);
    const int flags = PCI_LOOKUP_NO_NUMBERS | (sources.useHwdb ? 0 : PCI_LOOKUP_NO_HWDB);
    for (std::size_t i = 0; i < adapters.size(); ++i) {
        const auto [vendor, device] = ids[i];
        char name[256];
        adapters[i].vendor =
            LookUp(pacc, name, sizeof name, flags | PCI_LOOKUP_VENDOR, static_cast<int>(vendor), 0)
                ? name
                : "PCI vendor " + Hex(vendor);
        adapters[i].device = LookUp(pacc, name, sizeof name, flags | PCI_LOOKUP_DEVICE,
                                    static_cast<int>(vendor), static_cast<int>(device))
                                 ? name
                                 : "device " + Hex(device);
    }
    pci_cleanup(pacc);
    std::stable_sort(adapters.begin(), adapters.end(),
                     [](const DisplayAdapter& a, const DisplayAdapter& b) {
                         if (a.bootVga != b.bootVga)
                             return a.bootVga;
                         return a.slot < b.slot;
                     });
    return adapters;
}

std::string DisplayAdapterName(const DisplayAdapter& adapter) {
    std::string name = adapter.vendor + " " + adapter.device;
    if (!adapter.driver.empty())
        name += " (" + adapter.driver + ")";
    return name;
}
