#pragma once
// The texts of the system-information probe, as functions of what was measured.
#include "cpu/PentiumMMX.h"
#include "platform/DisplayAdapters.h"
#include "platform/Kernel.h"

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

// Total physical memory in KB (bytes / 1024, rounded half to even), "#,##0KB".
QString MemoryText(ULONGLONG totalBytes);

// The version record by its platform identifier: "Windows3.1 ", "Windows98 ", "WindowsNT "
// followed by "major. minor Build build", or "Windows??" for any other platform.
QString WindowsVersionText(const OSVERSIONINFOA& version);

// Cycles since reset over milliseconds since start, as megahertz: "000.0000" + "MHz".
QString ClockText(const TCounterSample& cycles, std::uint64_t milliseconds);

// Whether a counter over an uptime gives a clock a processor can have (at most 10 GHz), i.e.
// the counter started with the system.
bool CounterStartedWithSystem(const TCounterSample& cycles, std::uint64_t milliseconds);

// The "display.drv" value of system.ini when it has one; otherwise what the host reports: its
// graphics cards and the window system, e.g. "Intel Corporation AlderLake-S GT1 (i915) / xcb".
QString VideoDriverText(const std::string& systemIniValue, const std::vector<std::string>& cards,
                        const QString& windowSystem);

// The graphics cards by vendor, model and kernel driver (the boot card first); where the PCI
// bus shows none, the kernel's display drivers by name.
std::vector<std::string> GraphicsCards(const DisplayAdapterSources& sources = {});
