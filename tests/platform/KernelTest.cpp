#include "platform/Kernel.h"

#include "platform/IniFiles.h"
#include "platform/SysUtils.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

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

TEST(TempFiles, FolderComesFromTMPDIRWithATrailingSeparator) {
    const char* saved = std::getenv("TMPDIR");
    const std::string old = saved ? saved : "";
    struct Case {
        const char* value; // null: unset
        std::string folder;
    } cases[] = {{nullptr, "/tmp/"}, {"", "/tmp/"}, {"/var/x", "/var/x/"}, {"/var/y/", "/var/y/"}};
    for (const Case& c : cases) {
        if (c.value)
            setenv("TMPDIR", c.value, 1);
        else
            unsetenv("TMPDIR");
        char buffer[MAX_PATH] = {};
        EXPECT_EQ(GetTempPathA(MAX_PATH, buffer), c.folder.size()) << c.folder;
        EXPECT_EQ(std::string(buffer), c.folder);
        char tiny[4] = {'x', 0, 0, 0};
        EXPECT_EQ(GetTempPathA(4, tiny), c.folder.size() + 1) << c.folder; // size needed
        EXPECT_EQ(tiny[0], 'x');
    }
    if (saved)
        setenv("TMPDIR", old.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

TEST(TempFiles, UniqueNamesAreCreatedAndNeverReused) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("zelka-tempname-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::vector<std::string> names;
    for (int i = 0; i < 50; ++i) {
        char name[MAX_PATH] = {};
        const UINT number = GetTempFileNameA(dir.c_str(), "tmpxyz", 0, name);
        ASSERT_NE(number, 0u);
        const std::filesystem::path made = name;
        EXPECT_EQ(made.parent_path(), dir);
        EXPECT_EQ(made.filename().string().substr(0, 3), "tmp"); // three characters of prefix
        EXPECT_EQ(made.extension(), ".tmp");
        EXPECT_TRUE(std::filesystem::exists(made));
        EXPECT_EQ(std::filesystem::file_size(made), 0u);
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());
    // A given number only forms the name.
    char formed[MAX_PATH] = {};
    EXPECT_EQ(GetTempFileNameA(dir.c_str(), "ab", 0x1F, formed), 0x1Fu);
    EXPECT_EQ(std::string(formed), (dir / "ab1F.tmp").string());
    EXPECT_FALSE(std::filesystem::exists(formed));
    // A missing folder, or a name past MAX_PATH, gives 0.
    char name[MAX_PATH] = {};
    EXPECT_EQ(GetTempFileNameA((dir / "missing").c_str(), "tmp", 0, name), 0u);
    const std::string deep = dir.string() + "/" + std::string(300, 'd');
    EXPECT_EQ(GetTempFileNameA(deep.c_str(), "tmp", 0, name), 0u);
    for (const std::string& made : names)
        EXPECT_TRUE(DeleteFileA(made.c_str()));
    EXPECT_FALSE(DeleteFileA(names.front().c_str()));
    std::filesystem::remove_all(dir);
}
