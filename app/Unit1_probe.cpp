// The system-information probe of the main window's creation.
#include "Unit1_probe.h"

#include "Unit1.h"
#include "platform/IniFiles.h"
#include "platform/MMSystem.h"
#include "platform/SysUtils.h"

#include <QGuiApplication>
#include <chrono>
#include <cmath>
#include <thread>

QString MemoryText(ULONGLONG totalBytes) {
    const long double kb = std::nearbyint(static_cast<long double>(totalBytes) / 1024.0L);
    return QString::fromStdString(FormatFloat("#,##0KB", kb));
}

QString WindowsVersionText(const OSVERSIONINFOA& version) {
    const char* platform = nullptr;
    switch (version.dwPlatformId) {
    case 0:
        platform = "Windows3.1 ";
        break;
    case 1:
        platform = "Windows98 ";
        break;
    case 2:
        platform = "WindowsNT ";
        break;
    default:
        return "Windows??";
    }
    // Each field is printed whole as a signed 32-bit number, high half included.
    auto field = [](DWORD value) {
        return QString::fromStdString(IntToStr(static_cast<std::int32_t>(value)));
    };
    return platform + field(version.dwMajorVersion) + ". " + field(version.dwMinorVersion) +
           " Build " + field(version.dwBuildNumber);
}

static long double ClockMHz(const TCounterSample& cycles, std::uint64_t milliseconds) {
    // Both counts become extended values as unsigned numbers, piece by 16-bit piece.
    const long double k = 65536.0L;
    const long double cycleCount = (cycles.High >> 16) * k * k * k +
                                   (cycles.High & 0xFFFF) * k * k + (cycles.Low >> 16) * k +
                                   (cycles.Low & 0xFFFF);
    return cycleCount / static_cast<long double>(milliseconds) / 1000.0L;
}

QString ClockText(const TCounterSample& cycles, std::uint64_t milliseconds) {
    return QString::fromStdString(FormatFloat("000.0000", ClockMHz(cycles, milliseconds))) + "MHz";
}

bool CounterStartedWithSystem(const TCounterSample& cycles, std::uint64_t milliseconds) {
    return milliseconds > 0 && ClockMHz(cycles, milliseconds) <= 10000.0L;
}

QString VideoDriverText(const std::string& systemIniValue, const std::vector<std::string>& cards,
                        const QString& windowSystem) {
    if (!systemIniValue.empty())
        return QString::fromStdString(systemIniValue);
    QStringList names;
    for (const std::string& card : cards)
        names << QString::fromStdString(card);
    if (names.isEmpty())
        return windowSystem;
    return names.join(", ") + (windowSystem.isEmpty() ? "" : " / " + windowSystem);
}

std::vector<std::string> GraphicsCards(const DisplayAdapterSources& sources) {
    std::vector<std::string> cards;
    for (const DisplayAdapter& adapter : DisplayAdapters(sources))
        cards.push_back(DisplayAdapterName(adapter));
    // A display device off the PCI bus (a system-on-chip's) still has its DRM driver.
    return cards.empty() ? DisplayDrivers() : cards;
}

void TForm1::ProbeMemory() {
    MEMORYSTATUSEX status;
    GlobalMemoryStatusEx(&status);
    Panel12->setText(MemoryText(status.ullTotalPhys));
}

void TForm1::ProbeSystem() {
    // Video driver: system.ini in the Windows directory, else the graphics cards the host
    // reports and the window system.
    char buffer[300];
    const UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
    const std::string windowsDirectory(buffer, length < sizeof buffer ? length : 0);
    SysIni = std::make_unique<TIniFile>(windowsDirectory + "/system.ini");
    Panel14->setText(VideoDriverText(SysIni->ReadString("boot.description", "display.drv", ""),
                                     GraphicsCards(), QGuiApplication::platformName()));

    Panel18->setText(QString::number(ScreenPixelWidth()) + "x" +
                     QString::number(ScreenPixelHeight()));

    ShowFreeSpace(Edit2->text() + ":\\");

    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof version;
    Panel21->setText(GetVersionExA(&version) ? WindowsVersionText(version)
                                             : QString::fromStdString(OperatingSystemRelease()));

    Panel22->setText(QString::fromStdString(PentiumMMX1.VendorString()));

    // Clock: two counter reads, high half first, and the millisecond uptime. The uptime is
    // taken in 64 bits: the 32-bit count wraps after 49.7 days and would inflate the figure.
    StampNow.High = static_cast<DWORD>(PentiumMMX1.TimeStampHigh());
    StampNow.Low = static_cast<DWORD>(PentiumMMX1.TimeStampLow());
    TickNow = timeGetTime();
    const std::uint64_t milliseconds = GetTickCount64();
    TCounterSample cycles;
    PentiumMMX1.Interval64(StampNow, StampRef, cycles);
    if (CounterStartedWithSystem(cycles, milliseconds)) {
        EditHex2->setText(ClockText(cycles, milliseconds));
        return;
    }
    // A virtual machine's counter may run from the host's start, not this system's; the
    // quotient then names no real processor, so the counter's rate over a short wait stands in.
    const std::uint64_t waitStart = GetTickCount64();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    TCounterSample later;
    later.High = static_cast<DWORD>(PentiumMMX1.TimeStampHigh());
    later.Low = static_cast<DWORD>(PentiumMMX1.TimeStampLow());
    PentiumMMX1.Interval64(later, StampNow, cycles);
    EditHex2->setText(ClockText(cycles, GetTickCount64() - waitStart));
}
