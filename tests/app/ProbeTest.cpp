#include "app/Unit1.h"
#include "app/Unit1_probe.h"
#include "tests/QtPrinters.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>

TEST(Probe, MemoryInKilobytesRoundedHalfToEven) {
    struct Case {
        ULONGLONG bytes;
        const char* text;
    } cases[] = {
        {67108864, "65,536KB"},
        {1536, "2KB"}, // 1.5 rounds to 2
        {2560, "2KB"}, // 2.5 rounds to even
        {3584, "4KB"}, // 3.5 rounds to even
        {0, "0KB"},
        {66584576, "65,024KB"},
        {17179869184ull, "16,777,216KB"}, // 16 GiB: beyond a 32-bit count
        {1024ull * 999, "999KB"},
        {1024ull * 1000, "1,000KB"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MemoryText(c.bytes), c.text) << c.bytes;
}

TEST(Probe, WindowsVersionByPlatform) {
    auto record = [](DWORD platform, DWORD major, DWORD minor, DWORD build) {
        OSVERSIONINFOA v;
        v.dwPlatformId = platform;
        v.dwMajorVersion = major;
        v.dwMinorVersion = minor;
        v.dwBuildNumber = build;
        return v;
    };
    struct Case {
        OSVERSIONINFOA record;
        const char* text;
    } cases[] = {
        {record(0, 3, 10, 0), "Windows3.1 3. 10 Build 0"},
        {record(1, 4, 10, 67766222), "Windows98 4. 10 Build 67766222"},
        {record(1, 4, 0, 950), "Windows98 4. 0 Build 950"},
        {record(2, 4, 0, 1381), "WindowsNT 4. 0 Build 1381"},
        {record(2, 5, 1, 0xFFFFFFFFu), "WindowsNT 5. 1 Build -1"}, // the whole field, signed
        {record(3, 4, 0, 1), "Windows??"},
        {record(0x80000000u, 1, 1, 1), "Windows??"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WindowsVersionText(c.record), c.text);
}

TEST(Probe, ClockIsCyclesPerMicrosecondSinceStart) {
    auto sample = [](std::uint64_t cycles) {
        return TCounterSample{static_cast<DWORD>(cycles >> 32), static_cast<DWORD>(cycles)};
    };
    struct Case {
        std::uint64_t cycles, milliseconds;
        const char* text;
    } cases[] = {
        {450000000ull * 3600, 3600000, "450.0000MHz"},
        {451034200ull * 100, 100000, "451.0342MHz"},
        {99500000ull * 60, 60000, "099.5000MHz"},
        {2445564800ull * 1000, 1000000, "2445.5648MHz"},
        {1000, 1, "001.0000MHz"},
        {123456789, 1000, "123.4568MHz"},                             // rounded to four decimals
        {0xFFFFFFFFFFFFFFFFull, 86400000ull * 365, "584942.4174MHz"}, // every 16-bit piece
        // Past 49.7 days of uptime: the full millisecond count keeps the figure right.
        {3000000000ull * 5000000, 5000000000ull, "3000.0000MHz"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ClockText(sample(c.cycles), c.milliseconds), c.text) << c.cycles;

    // A counter that ran before the system started (a virtual machine's, from the host's start)
    // is told apart, so the probe measures its rate instead.
    EXPECT_TRUE(CounterStartedWithSystem(sample(3000000000ull * 5000000), 5000000000ull));
    EXPECT_TRUE(CounterStartedWithSystem(sample(10000000ull * 1000), 1000));
    EXPECT_FALSE(CounterStartedWithSystem(sample(618854635189350ull), 4807000));
    EXPECT_FALSE(CounterStartedWithSystem(sample(1000), 0));
}

TEST(Probe, VideoDriverFromSystemIniElseFromTheHost) {
    struct Case {
        std::string ini;
        std::vector<std::string> drivers;
        QString windowSystem;
        const char* text;
    } cases[] = {
        {"S3 Trio64V+ (765)", {"i915"}, "xcb", "S3 Trio64V+ (765)"},
        {"", {"i915"}, "xcb", "i915 / xcb"},
        {"", {"amdgpu", "i915"}, "wayland", "amdgpu, i915 / wayland"},
        {"", {}, "offscreen", "offscreen"},
        {"", {"virtio_gpu"}, "", "virtio_gpu"},
        {"",
         {"NVIDIA Corporation GA104 [GeForce RTX 3070] (nvidia)",
          "Intel Corporation AlderLake-S GT1 (i915)"},
         "wayland",
         "NVIDIA Corporation GA104 [GeForce RTX 3070] (nvidia), Intel Corporation AlderLake-S GT1 "
         "(i915) / wayland"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VideoDriverText(c.ini, c.drivers, c.windowSystem), c.text);
}

TEST(Probe, TheMainWindowShowsThisMachineAtCreation) {
    QTemporaryDir windir;
    {
        std::ofstream ini(windir.filePath("system.ini").toStdString());
        ini << "[boot]\r\nshell=Explorer.exe\r\n[boot.description]\r\n"
               "keyboard.typ=Standard\r\nDisplay.Drv = Test Display Adapter (800x600)\r\n";
    }
    qputenv("ZELKA_WINDIR", windir.path().toUtf8());
    TForm1 form;
    qunsetenv("ZELKA_WINDIR");
    EXPECT_EQ(form.Panel14->text(), "Test Display Adapter (800x600)");
    EXPECT_EQ(form.SysIni->FileName(), windir.filePath("system.ini").toStdString());

    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    EXPECT_EQ(form.Panel18->text(), QString("%1x%2").arg(screen.width()).arg(screen.height()));
    EXPECT_TRUE(form.Panel12->text().endsWith("KB"));
    EXPECT_NE(form.Panel12->text(), "0KB");
    EXPECT_TRUE(form.Panel21->text().startsWith("Linux ")) << form.Panel21->text().toStdString();
#if defined(__x86_64__)
    EXPECT_EQ(form.Panel22->text().size(), 12);
    // The clock is near a real processor's: between 100 MHz and 10 GHz.
    const QString clock = form.EditHex2->text();
    ASSERT_TRUE(clock.endsWith("MHz")) << clock.toStdString();
    const double mhz = clock.chopped(3).toDouble();
    EXPECT_GT(mhz, 100.0);
    EXPECT_LT(mhz, 10000.0);
    EXPECT_NE(form.StampNow.High | form.StampNow.Low, 0u);
#endif
    EXPECT_EQ(form.StampRef.High | form.StampRef.Low, 0u);
    EXPECT_EQ(form.TickRef, 0u);
}
