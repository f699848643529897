#include "platform/Kernel.h"

#include "platform/IniFiles.h"
#include "platform/SysUtils.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

TEST(FormatFloat, PicturesOfTheProgram) {
    const TFormatSettings en;
    const TFormatSettings de{".", ","};
    struct Case {
        const char* format;
        long double value;
        const TFormatSettings& settings;
        const char* text;
    } cases[] = {
        {"#,##0KB", 65536, en, "65,536KB"},
        {"#,##0KB", 0, en, "0KB"},
        {"#,##0KB", 999, en, "999KB"},
        {"#,##0KB", 1234567, en, "1,234,567KB"},
        {"#,##0KB", 1234567, de, "1.234.567KB"},
        {"#,##0", -1234, en, "-1,234"},
        {"000.0000", 451.03424, en, "451.0342"},
        {"000.0000", 99.5, en, "099.5000"},
        {"000.0000", 2445.56485, en, "2445.5649"},
        {"000.0000", 0.00004, en, "000.0000"},
        {"000.0000", 0.00005, en, "000.0001"}, // half away from zero
        {"000.0000", 12.5, de, "012,5000"},
        {"0", 2.5, en, "3"},
        {"0", -2.5, en, "-3"},
        {"#.##", 0.5, en, ".5"},
        {"0.##", 1.0, en, "1"},
        {"0.00", -0.001, en, "0.00"}, // no sign on a value shown as zero
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatFloat(c.format, c.value, c.settings), c.text)
            << c.format << " " << (double)c.value;
}

TEST(Kernel, WindowsDirectoryFromTheEnvironmentOrTheUsersConfig) {
    char buffer[300];
    setenv("ZELKA_WINDIR", "/srv/win", 1);
    EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 8u);
    EXPECT_STREQ(buffer, "/srv/win");
    char small[4];
    EXPECT_EQ(GetWindowsDirectoryA(small, sizeof small), 9u); // the size it needs
    unsetenv("ZELKA_WINDIR");
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = config ? config : "";
    setenv("XDG_CONFIG_HOME", "/tmp/cfg", 1);
    GetWindowsDirectoryA(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "/tmp/cfg/zelka");
    if (config)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

TEST(Kernel, MemoryAndVersionOfThisHost) {
    MEMORYSTATUSEX status;
    ASSERT_TRUE(GlobalMemoryStatusEx(&status));
    EXPECT_GT(status.ullTotalPhys, 64ull << 20);
    MEMORYSTATUSEX wrongSize;
    wrongSize.dwLength = 12;
    EXPECT_FALSE(GlobalMemoryStatusEx(&wrongSize));

    OSVERSIONINFOA version;
    EXPECT_FALSE(GetVersionExA(&version)); // no such record on this host
    EXPECT_EQ(version.dwOSVersionInfoSize, 148u);
    EXPECT_EQ(OperatingSystemRelease().rfind("Linux ", 0), 0u);
}

TEST(IniFile, ReadsSectionsAndKeysWithoutRegardToCase) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / "zelka-ini-test.ini";
    {
        std::ofstream file(path, std::ios::binary);
        file << "; comment\r\n[Boot.Description]\r\ndisplay.drv=S3 Trio64\r\n"
                "DISPLAY.DRV=second wins not\r\n  key with blanks  =  value  \r\n"
                "[other]\ndisplay.drv=elsewhere\nnoequals\n[empty]\n";
    }
    TIniFile ini(path.string());
    struct Case {
        const char* section;
        const char* key;
        const char* value;
    } cases[] = {
        {"boot.description", "display.drv", "S3 Trio64"},
        {"BOOT.DESCRIPTION", "Display.Drv", "S3 Trio64"},
        {"boot.description", "key with blanks", "value"},
        {"other", "display.drv", "elsewhere"},
        {"other", "noequals", "default"},
        {"missing", "display.drv", "default"},
        {"empty", "x", "default"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ini.ReadString(c.section, c.key, "default"), c.value)
            << c.section << "/" << c.key;
    std::filesystem::remove(path);

    TIniFile missing("/nonexistent/system.ini");
    EXPECT_EQ(missing.ReadString("boot.description", "display.drv", ""), "");
}
