#pragma once
// The machine's graphics cards: the display-class PCI devices, named from the PCI ID database
// through libpci, with the kernel driver bound to each.
#include <string>
#include <vector>

struct DisplayAdapter {
    std::string slot;   // "0000:01:00.0"
    std::string vendor; // "NVIDIA Corporation", or "PCI vendor 10de" when the database lacks it
    std::string device; // "GA104 [GeForce RTX 3070]", or "device 2484"
    std::string driver; // "nvidia"; empty when no driver is bound
    bool bootVga = false;
};

// Where the card list is read from: the sysfs root ("/sys") and the PCI ID database (empty:
// libpci's own). Tests point both at files of their own and leave udev's database out.
struct DisplayAdapterSources {
    std::string sysfsRoot = "/sys";
    std::string idFile;
    bool useHwdb = true;
};

// The display-class devices (PCI base class 03), the one the firmware booted on first, the
// others in bus order; a device whose attributes cannot be read is passed over. Empty where
// there is no PCI bus.
std::vector<DisplayAdapter> DisplayAdapters(const DisplayAdapterSources& sources = {});

// "Vendor device (driver)", the driver left out when none is bound.
std::string DisplayAdapterName(const DisplayAdapter& adapter);
