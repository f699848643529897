#pragma once
// Under what conditions a run was taken: the program's build, the machine's state as the
// kernel tells it (/proc and /sys), the window system and the display engine's choices.
#include "gfxbench/SceneArchive.h"

#include <QJsonObject>
#include <QSize>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

// What the kernel tells of the machine, read from the files of /proc and /sys under a root
// folder. Each field stays empty where the system does not tell it.
struct MachineState {
    QString kernel;            // "Linux 6.1.0-18-amd64"
    QString processor;         // the first "model name" of /proc/cpuinfo
    int logicalCores = 0;      // the cores online
    QStringList governors;     // the frequency governors of the cores, each once, by core
    QString frequencyDriver;   // the cpufreq driver of the first core, e.g. "intel_pstate"
    std::optional<bool> boost; // turbo / boost frequencies allowed
    std::optional<std::array<double, 3>> load; // load average over 1, 5 and 15 minutes
    QString product;                           // the DMI product name
    QString power;                             // "ac" or "battery"
};

// The folder the machine's state is read from: ZELKA_SYSTEM_ROOT where set (tests script
// the files there), else "/".
QString SystemRoot();
MachineState ReadMachineState(const QString& root = SystemRoot());

// Why a score taken now may come out low: running on battery, a powersave governor, another
// program's load (a 1-minute load average above half a core).
enum class RunWarning { Battery, Powersave, Load };
QList<RunWarning> RunWarnings(const MachineState& machine);
// One line for standard error, "zelka: warning: ...".
QString WarningLine(RunWarning warning, const MachineState& machine);
// The text of the window's warning box before a run; empty when nothing is to be told. The
// lines of `more` (each without its bullet) follow the machine's warnings.
QString WarningBoxText(const QList<RunWarning>& warnings, const MachineState& machine,
                       const QStringList& more = {});

// The test scene's faults that spoil the tests chosen: "zelka: warning: ..." for standard
// error and a line for the window's warning box; both empty when the tests chosen lose nothing.
QString SceneWarningLine(const SceneArchiveCheck& scene, bool directDraw, bool direct3D);
QString SceneWarningBoxLine(const SceneArchiveCheck& scene, bool directDraw, bool direct3D);

// The scheduler's account of a thread (/proc/thread-self/sched): its time on a processor, how
// often it left one to wait (voluntary) or was put off by another thread (involuntary), and
// its moves between processors.
struct ThreadAccount {
    double runMs = 0;
    long waits = 0;
    long preempted = 0;
    long migrations = 0;
    ThreadAccount operator-(const ThreadAccount& before) const {
        return {runMs - before.runMs, waits - before.waits, preempted - before.preempted,
                migrations - before.migrations};
    }
};
// Of the calling thread by default; none where the kernel keeps no such account.
std::optional<ThreadAccount> ReadThreadAccount(const QString& path = "/proc/thread-self/sched");
// The processor time of all the process's threads so far, in ms (/proc/self/stat's user and
// system time, in clock ticks); none where it cannot be read.
std::optional<double> ReadProcessCpuMs(const QString& path = "/proc/self/stat");

struct RunConditions {
    QString version;   // as `zelka --version` tells it
    QString buildType; // "Release", "Debug", ...
    MachineState machine;
    bool hypervisor = false; // the processor says it runs under a hypervisor
    QString qtPlatform;      // "xcb", "wayland", "offscreen", ...
    QString presenter;       // the road pictures take to the screen: "x11", "cpu", "x11+gl", ...
    QSize screen;            // the primary screen, in device pixels
    int screenDepth = 0;     // its depth in bits
    int desktopDepth = 0;    // the depth the DirectX layer tells the engine
    // The display engine's Direct3D device and what draws for it: "none", "HAL (GPU: ...)",
    // "RGB emulation (software)", ...; and why it is not the hardware device.
    QString direct3DDevice;
    QString whyNotHal;
    // The graphics hardware: the road ("gpu" or "software"), the OpenGL renderer where one was
    // probed, where video memory lives, and why the GPU was not used.
    QString renderRoad;
    QString glRenderer, glVersion, glVendor;
    QString videoMemory; // "GPU" or "host memory, emulated"
    QString whyNotGpu;
    SceneArchiveCheck scene; // the test scene's archive and the pictures of it that do not load
};

class TDDDD;
// An engine's Direct3D device as the conditions tell it, and why it is not the hardware device
// (empty when it is, or when the engine has no device; "none" without an engine); whyNo3D is
// why the adapter offers no 3-D hardware.
struct DeviceCondition {
    QString device;
    QString whyNotHal;
};
DeviceCondition Direct3DDeviceCondition(const TDDDD* engine, const QString& glRenderer,
                                        const QString& whyNo3D);

// The conditions now. Needs the application object; the Direct3D device is "none" while the
// test window does not exist.
RunConditions ProbeRunConditions(const QString& root = SystemRoot());

QJsonObject ConditionsJson(const RunConditions& conditions);
// Aligned lines, one per condition: the start's value, and "-> end" where the end differs.
QStringList ConditionLines(const RunConditions& start, const RunConditions& end);
