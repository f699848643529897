#include "DisplayAdapters.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <fstream>

extern "C" {
#include <pci/pci.h>
}

namespace {

// libpci's error callback may not return; it ends the scan through here instead of ending
// the program.
thread_local std::jmp_buf* scanFailed = nullptr;

[[noreturn]] void ScanError(char*, ...) {
    std::longjmp(*scanFailed, 1);
}

void Quiet(char*, ...) {}

std::string Attribute(const std::filesystem::path& device, const char* name) {
    std::ifstream file(device / name);
    std::string value;
    std::getline(file, value);
    return value;
}

std::string Hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xFFFF);
    return text;
}

struct Found {
    std::string slot;
    unsigned vendorId, deviceId;
};

// The slots and IDs of the display-class devices, or nothing when the scan fails. Kept apart
// from anything with a destructor: a failing scan jumps out of it.
bool ScanDisplayDevices(pci_access* pacc, std::vector<Found>& found) {
    std::jmp_buf failed;
    scanFailed = &failed;
    if (setjmp(failed) != 0) {
        scanFailed = nullptr;
        return false;
    }
    pci_init(pacc);
    pci_scan_bus(pacc);
    for (pci_dev* dev = pacc->devices; dev != nullptr; dev = dev->next) {
        pci_fill_info(dev, PCI_FILL_IDENT | PCI_FILL_CLASS);
        if ((dev->device_class >> 8) != PCI_BASE_CLASS_DISPLAY)
            continue;
        char slot[32];
        std::snprintf(slot, sizeof slot, "%04x:%02x:%02x.%d", dev->domain, dev->bus, dev->dev,
                      dev->func);
        found.push_back({slot, dev->vendor_id, dev->device_id});
    }
    scanFailed = nullptr;
    return true;
}

} // namespace

std::vector<DisplayAdapter> DisplayAdapters(const DisplayAdapterSources& sources) {
    namespace fs = std::filesystem;
    const fs::path bus = fs::path(sources.sysfsRoot) / "bus" / "pci";
    std::error_code ec;
    if (!fs::is_directory(bus / "devices", ec))
        return {};

    pci_access* pacc = pci_alloc();
    pacc->error = ScanError;
    pacc->warning = Quiet;
    pacc->debug = Quiet;
    pacc->method = PCI_ACCESS_SYS_BUS_PCI;
    std::string busPath = bus.string();
    pci_set_param(pacc, const_cast<char*>("sysfs.path"), busPath.data());
    std::string idFile = sources.idFile;
    if (!idFile.empty())
        pci_set_name_list_path(pacc, idFile.data(), 0);
    std::vector<Found> found;
    const bool scanned = ScanDisplayDevices(pacc, found);

    std::vector<DisplayAdapter> adapters;
    for (const Found& f : found) {
        const int flags = PCI_LOOKUP_NO_NUMBERS | (sources.useHwdb ? 0 : PCI_LOOKUP_NO_HWDB);
        char vendor[256], device[256];
        const char* vendorName =
            pci_lookup_name(pacc, vendor, sizeof vendor, flags | PCI_LOOKUP_VENDOR, f.vendorId);
        const char* deviceName = pci_lookup_name(pacc, device, sizeof device,
                                                 flags | PCI_LOOKUP_DEVICE, f.vendorId, f.deviceId);
        const fs::path dir = bus / "devices" / f.slot;
        const fs::path driver = fs::read_symlink(dir / "driver", ec);
        adapters.push_back({f.slot, vendorName ? vendorName : "PCI vendor " + Hex(f.vendorId),
                            deviceName ? deviceName : "device " + Hex(f.deviceId),
                            ec ? std::string() : driver.filename().string(),
                            Attribute(dir, "boot_vga") == "1"});
    }
    pci_cleanup(pacc);
    if (!scanned)
        return {};
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
