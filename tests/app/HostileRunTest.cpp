// The program run as a user or a tester would, on hostile input and under signals: every case
// ends within seconds, with a clear line on standard error and the exit status it should,
// under 500 MB, and leaves none of the program's own files behind.
#include "AppTestSupport.h"
#include "forms/Halt.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

struct Outcome {
    int exitCode = -1; // -2: still running at the time limit, and killed
    std::string out, err;
    long peakKb = 0; // the largest resident size the program reached; 0: never read
    double seconds = 0;
};

// The peak resident size of the program's own image in process `pid` (its VmHWM), or 0 while
// the process does not run the program yet. The kernel's figure for a child (wait4's
// ru_maxrss) is no use here: a child spawned from this test program starts from this test
// program's size, which under a sanitizer alone is over the limit.
long ProgramPeakKb(pid_t pid) {
    static const std::string program = std::filesystem::canonical(ZELKA_BINARY).string();
    const std::string proc = "/proc/" + std::to_string(pid);
    std::error_code error;
    if (std::filesystem::read_symlink(proc + "/exe", error).string() != program)
        return 0;
    std::ifstream status(proc + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

// Runs the program in a folder with extra environment, calling watch every 20 ms while it
// runs, and reads its peak memory meanwhile.
Outcome RunProgram(const QStringList& args, const QString& folder,
                   const std::map<std::string, std::string>& extra,
                   const std::function<void(pid_t)>& watch = {}, int limitSeconds = 60) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const auto eq = entry.find('=');
        env[entry.substr(0, eq)] = eq == std::string::npos ? "" : entry.substr(eq + 1);
    }
    env["QT_QPA_PLATFORM"] = "offscreen";
    env["HOME"] = folder.toStdString();
    env["XDG_RUNTIME_DIR"] = folder.toStdString();
    for (const auto& [k, v] : extra)
        env[k] = v;
    std::vector<std::string> envText, argText{ZELKA_BINARY};
    for (const auto& [k, v] : env)
        envText.push_back(k + "=" + v);
    for (const QString& a : args)
        argText.push_back(a.toStdString());
    std::vector<char*> envp, argv;
    for (std::string& e : envText)
        envp.push_back(e.data());
    for (std::string& a : argText)
        argv.push_back(a.data());
    envp.push_back(nullptr);
    argv.push_back(nullptr);

    const std::string outPath = (folder + "/.out").toStdString();
    const std::string errPath = (folder + "/.err").toStdString();
    const std::string cwd = folder.toStdString();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    Outcome outcome;
    pid_t pid = 0;
    const auto start = std::chrono::steady_clock::now();
    if (posix_spawn(&pid, ZELKA_BINARY, &actions, nullptr, argv.data(), envp.data()) != 0)
        return outcome;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR) { // not ours to wait for any more: signal nothing
            outcome.exitCode = -3;
            return outcome;
        }
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(limitSeconds)) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            outcome.exitCode = -2;
            break;
        }
        if (watch)
            watch(pid);
        outcome.peakKb = std::max(outcome.peakKb, ProgramPeakKb(pid));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (outcome.exitCode != -2)
        outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    outcome.out = FileBytes(QString::fromStdString(outPath));
    outcome.err = FileBytes(QString::fromStdString(errPath));
    QFile::remove(QString::fromStdString(outPath));
    QFile::remove(QString::fromStdString(errPath));
    return outcome;
}

void PutU32(std::string& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<char>(v >> (8 * i));
}

// An archive of one entry "boss2.bmp": its bytes and the size it states once expanded.
std::string ArchiveWithBoss2(bool packed, const std::string& data, std::uint32_t stated) {
    std::string out(256 + 268, '\0');
    PutU32(out, 0, packed ? 1 : 0);
    out.replace(4, 4, "QDA0");
    PutU32(out, 8, 1);
    PutU32(out, 256, static_cast<std::uint32_t>(out.size()));
    PutU32(out, 260, static_cast<std::uint32_t>(data.size()));
    PutU32(out, 264, stated);
    out.replace(268, 9, "boss2.bmp");
    return out + data;
}

// Pairs of pairs: the one packed byte FF stands for 2^128 bytes.
std::string DeepPairs() {
    std::string packed{'\xFF', 'a', 'a', '\x7E'};
    for (int code = 129; code < 256; ++code)
        packed += std::string(2, static_cast<char>(code - 1));
    packed += std::string{'\x01', '\0', '\0', '\0', '\xFF'};
    return packed;
}

constexpr long kMostKb = 500 * 1024;
// Times are the product's: a sanitizer or debug build is many times slower.
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__)
constexpr double kMostSeconds = 15;
#else
constexpr double kMostSeconds = 120;
#endif
const QStringList kNoTest = {"--run", "--headless", "--tests", "disk", "--drive", "Q"};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(HostileRun, OverLargeAndSpecialArchivesEndTheirLoadNotTheProgram) {
    struct Case {
        const char* what;
        std::function<void(const QString&)> make;
    } cases[] = {
        {"2^31 - 1 bytes stated",
         [](const QString& path) {
             WriteBytes(path, ArchiveWithBoss2(true, DeepPairs(), 0x7FFFFFFF));
         }},
        {"largest size stated, expanding past it",
         [](const QString& path) {
             WriteBytes(path, ArchiveWithBoss2(true, DeepPairs(), 64u << 20));
         }},
        {"FIFO", [](const QString& path) { ::mkfifo(QFile::encodeName(path).constData(), 0600); }},
        {"device", [](const QString& path) { QFile::link("/dev/zero", path); }},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        c.make(dir.filePath("Zelka.dat"));
        const Outcome o = RunProgram(kNoTest, dir.path(), {});
        // The run goes on to its end: the chosen drive is missing, so no score and exit 1.
        EXPECT_EQ(o.exitCode, 1) << c.what << "\n" << o.err;
        EXPECT_TRUE(Contains(o.err, "zelka: the disk test produced no score")) << o.err;
        EXPECT_TRUE(Contains(o.out, "総合評価")) << c.what;
        EXPECT_GT(o.peakKb, 0) << c.what;
        EXPECT_LT(o.peakKb, kMostKb) << c.what;
        EXPECT_LT(o.seconds, kMostSeconds) << c.what;
        QFile::remove(dir.filePath("Zelka.dat")); // a FIFO is no file to QTemporaryDir
    }
}

TEST(HostileRun, AHaltPrintsWhatWasMeasuredAndNeverReportsSuccess) {
    struct Case {
        const char* what;
        std::map<std::string, std::string> env;
        std::string archive; // empty: the program's own
        QStringList tests;
        const char* reason;
        QJsonValue haltedTest;
        bool cpuMeasured;
    } cases[] = {
        {"8-bit desktop",
         {{"ZELKA_DESKTOP_BPP", "8"}},
         "",
         {"disk"},
         "画面モードが不適切です 色数を16ビットにして起動し直してください",
         QJsonValue::Null,
         false},
        {"broken boss2.bmp",
         {},
         ArchiveWithBoss2(false, "not a picture", 13),
         {"cpu", "d3d"},
         "がビットマップファイルとして開けません",
         QJsonValue("d3d"),
         true},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        if (!c.archive.empty())
            WriteBytes(dir.filePath("Zelka.dat"), c.archive);
        // A halt ends the process without unwinding: what it still holds is no leak.
        std::map<std::string, std::string> env = c.env;
        env["ASAN_OPTIONS"] = "detect_leaks=0";
        const Outcome o =
            RunProgram({"--run", "--headless", "--tests", c.tests.join(','), "--json", "r.json"},
                       dir.path(), env);
        EXPECT_EQ(o.exitCode, kHaltExitCode) << c.what << "\n" << o.err;
        EXPECT_TRUE(Contains(o.err, std::string("zelka: halted: "))) << o.err;
        EXPECT_TRUE(Contains(o.err, c.reason)) << o.err;
        // A damaged picture is told before the run as well (the others are missing).
        EXPECT_EQ(Contains(o.err, "(Zelka.dat: samp4.bmp missing, boss2.bmp damaged, samp3.bmp "
                                  "missing, samp5.bmp missing); the Direct3D test runs"),
                  !c.archive.empty());
        // The results so far, as the result file shows them, printed and written.
        EXPECT_TRUE(o.out.starts_with(" _ _ _ _")) << c.what << o.out;
        // Then, where the run had begun, its conditions at the start and at the halt.
        const std::size_t conditions = o.out.find("\nConditions (");
        EXPECT_EQ(conditions != std::string::npos, c.cpuMeasured) << o.out;
        const std::string result = o.out.substr(0, conditions);
        EXPECT_EQ(std::count(result.begin(), result.end(), '\n'), 19) << o.out;

        EXPECT_NE(FileBytes(dir.filePath("result.txt")), "<missing>") << c.what;
        const QJsonObject json =
            QJsonDocument::fromJson(QByteArray::fromStdString(FileBytes(dir.filePath("r.json"))))
                .object();
        EXPECT_EQ(json["halted"].toObject()["test"], c.haltedTest) << c.what;
        EXPECT_EQ(json["conditions"].toObject()["start"].toObject()["version"].isString(),
                  c.cpuMeasured);
        EXPECT_TRUE(
            json["halted"].toObject()["reason"].toString().contains(QString::fromUtf8(c.reason)));
        // A score measured before the halt is kept; without one the panel's 0 shows.
        const int cpu = json["scores"].toObject()["cpu"].toInt(-1);
        EXPECT_EQ(cpu > 0, c.cpuMeasured) << c.what;
        EXPECT_TRUE(Contains(o.out, "CPU性能（演算）            :" + std::to_string(cpu) + "\n"))
            << o.out;
        // No temporary texture file is left behind by the halted load.
        EXPECT_TRUE(QDir(dir.path()).entryList({"tmp*"}, QDir::Files).isEmpty());
    }
}

TEST(HostileRun, ASignalDuringTheDiskTestRemovesItsFile) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        QTemporaryDir home;
        bool sent = false;
        // Drive C: is the home folder: the signal comes once the test file is there.
        const Outcome o =
            RunProgram({"--run", "--headless", "--tests", "disk"}, home.path(), {}, [&](pid_t pid) {
                if (!sent && !QDir(home.path()).entryList({"test*"}, QDir::Files).isEmpty()) {
                    kill(pid, signal);
                    sent = true;
                }
            });
        EXPECT_TRUE(sent) << signal;
        EXPECT_EQ(o.exitCode, 128 + signal) << o.err;
        EXPECT_TRUE(QDir(home.path()).entryList({"test*"}, QDir::Files).isEmpty()) << signal;
        EXPECT_LT(o.seconds, kMostSeconds) << signal;
    }
}

TEST(HostileRun, OutputsThatCannotBeWrittenAreNamedAndFailTheRun) {
    struct Case {
        QString json;
        const char* line;
    } cases[] = {
        {"/dev/full", "zelka: cannot write /dev/full: No space left on device"},
        // Named as resolved at start, against the folder the program was started in.
        {"missing/r.json", "/missing/r.json: No such file or directory"},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        const Outcome o = RunProgram(kNoTest + QStringList{"--json", c.json}, dir.path(), {});
        EXPECT_EQ(o.exitCode, 1);
        EXPECT_TRUE(Contains(o.err, c.line)) << o.err;
        EXPECT_TRUE(Contains(o.out, "総合評価")); // the results still printed
    }
}
