#pragma once
// A display card with 3-D hardware as DirectDraw reports it (DDCAPS_3D and the hardware device
// on offer), on the software layer: the callers' choices between the hardware device and the
// emulation devices, tested without a GPU. The adapter's next Reset takes it away again.
#include "directx/DisplayAdapter.h"

inline void OfferHardware3D() {
    using namespace directx;
    std::vector<DriverEntry> drivers = Adapter().Drivers();
    for (DriverEntry& driver : drivers)
        driver.hardwareCaps |= DDCAPS_3D;
    Adapter().SetDrivers(std::move(drivers));
    Adapter().direct3d.Device(DeviceKind::HAL).available = true;
}
