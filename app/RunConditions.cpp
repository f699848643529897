#include "RunConditions.h"

#include "Version.h"
#include "cpu/PentiumMMX.h"
#include "directx/DisplayAdapter.h"
#include "directx/GpuBlitter.h"
#include "directx/GpuRaster.h"
#include "forms/Presenter.h"
#include "gfxbench/Unit3.h"
#include "gpu/Renderer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QRegularExpression>
#include <QScreen>
#include <map>
#include <unistd.h>

namespace {

// The first line of a small system file, trimmed; empty where it cannot be read.
QString FirstLine(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readLine(4096)).trimmed();
}

QString ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(1 << 20));
}

// "0-3,6,8-9" as the kernel lists cores: 7.
int CountCpuList(const QString& list) {
    int count = 0;
    for (const QString& part : list.split(',', Qt::SkipEmptyParts)) {
        const QStringList range = part.trimmed().split('-');
        bool okFirst = false, okLast = true;
        const int first = range[0].toInt(&okFirst);
        const int last = range.size() == 2 ? range[1].toInt(&okLast) : first;
        if (!okFirst || !okLast || range.size() > 2 || last < first)
            return 0;
        count += last - first + 1;
    }
    return count;
}

QStringList CpuDirectories(const QDir& cpus) {
    static const QRegularExpression cpuName("^cpu[0-9]+$");
    QStringList names;
    for (const QString& name : cpus.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (cpuName.match(name).hasMatch())
            names << name;
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.mid(3).toInt() < b.mid(3).toInt();
    });
    return names;
}

// AC when a mains or USB supply is online; battery when none is and a battery of the system
// (not of a mouse or keyboard) discharges or sits beside an offline mains supply.
QString PowerSource(const QDir& supplies) {
    bool mains = false, mainsOnline = false, battery = false, discharging = false;
    for (const QString& name : supplies.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString base = supplies.filePath(name) + "/";
        const QString type = FirstLine(base + "type");
        if (type == "Battery") {
            if (FirstLine(base + "scope") == "Device")
                continue;
            battery = true;
            discharging = discharging || FirstLine(base + "status") == "Discharging";
        } else if (type == "Mains" || type.startsWith("USB")) {
            mains = true;
            mainsOnline = mainsOnline || FirstLine(base + "online") == "1";
        }
    }
    if (mainsOnline)
        return "ac";
    if (battery && (discharging || mains))
        return "battery";
    return {};
}

// cpufreq drivers whose "powersave" is their own dynamic scaling, not the lowest frequency.
bool PowersaveScales(const QString& driver) {
    return driver == "intel_pstate" || driver == "amd-pstate-epp";
}

QString LoadText(const std::array<double, 3>& load) {
    return QString::asprintf("%.2f %.2f %.2f", load[0], load[1], load[2]);
}

// The engine's Direct3D device and what draws for it: the GPU for the hardware device, the
// software rasteriser for the emulation devices.
QString DeviceText(TD3DDeviceKind kind, const QString& glRenderer) {
    switch (kind) {
    case TD3DDeviceKind::HAL:
        return "HAL (GPU: " + glRenderer + ")";
    case TD3DDeviceKind::MMX:
        return "MMX emulation (software)";
    case TD3DDeviceKind::RGBEmulation:
        return "RGB emulation (software)";
    case TD3DDeviceKind::Ramp:
        return "Ramp emulation (software)";
    case TD3DDeviceKind::None:
        break;
    }
    return "none";
}

// Why an engine set up for 3-D draws with an emulation device; empty when it uses the hardware
// device or has no device.
QString WhyNotHal(const TDDDD& engine, const QString& whyNo3D) {
    if (engine.D3DDeviceKind == TD3DDeviceKind::None || engine.D3DDeviceKind == TD3DDeviceKind::HAL)
        return {};
    if (engine.D3DOptions & DontUseHAL)
        return "the box for the hardware device is unticked";
    if (!engine.HardwareCan3D()) {
        if (engine.BitCount <= 8)
            return "256 colours";
        return whyNo3D;
    }
    return QString("the hardware device could not be created (%1)")
        .arg(static_cast<quint32>(engine.HALFailure), 8, 16, QChar('0'));
}

QJsonValue TextOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QString SceneFaultCode(SceneFaultKind kind) {
    switch (kind) {
    case SceneFaultKind::ArchiveMissing:
        return "archive_missing";
    case SceneFaultKind::ArchiveUnreadable:
        return "archive_unreadable";
    case SceneFaultKind::NotAnArchive:
        return "not_an_archive";
    case SceneFaultKind::EntryMissing:
        return "missing";
    case SceneFaultKind::EntryDamaged:
        break;
    }
    return "damaged";
}

// "Zelka.dat: samp4.bmp missing, boss2.bmp damaged", "./Zelka.dat: not found".
QString SceneFaultsText(const SceneArchiveCheck& scene) {
    QStringList parts;
    for (const SceneFault& fault : scene.faults) {
        const QString entry = QString::fromStdString(fault.entry);
        switch (fault.kind) {
        case SceneFaultKind::ArchiveMissing:
            parts << "not found";
            break;
        case SceneFaultKind::ArchiveUnreadable:
            parts << "cannot be read";
            break;
        case SceneFaultKind::NotAnArchive:
            parts << "not a QDA archive";
            break;
        case SceneFaultKind::EntryMissing:
            parts << entry + " missing";
            break;
        case SceneFaultKind::EntryDamaged:
            parts << entry + " damaged";
            break;
        }
    }
    return QString::fromStdString(scene.archive) + ": " + parts.join(", ");
}

QJsonObject SceneJson(const SceneArchiveCheck& scene) {
    QJsonArray faults;
    for (const SceneFault& fault : scene.faults)
        faults.append(QJsonObject{
            {"picture", fault.entry.empty() ? QJsonValue() : QString::fromStdString(fault.entry)},
            {"fault", SceneFaultCode(fault.kind)}});
    return QJsonObject{{"archive", QString::fromStdString(scene.archive)},
                       {"complete", scene.Complete()},
                       {"faults", faults}};
}

} // namespace

QString SystemRoot() {
    const QString root = qEnvironmentVariable("ZELKA_SYSTEM_ROOT");
    return root.isEmpty() ? QStringLiteral("/") : root;
}

MachineState ReadMachineState(const QString& root) {
    const QDir dir(root);
    MachineState m;
    const QString osType = FirstLine(dir.filePath("proc/sys/kernel/ostype"));
    const QString release = FirstLine(dir.filePath("proc/sys/kernel/osrelease"));
    m.kernel = (osType + " " + release).trimmed();

    for (const QString& line : ReadAll(dir.filePath("proc/cpuinfo")).split('\n')) {
        if (line.startsWith("model name")) {
            m.processor = line.section(':', 1).trimmed();
            break;
        }
    }
    const QDir cpus(dir.filePath("sys/devices/system/cpu"));
    m.logicalCores = CountCpuList(FirstLine(cpus.filePath("online")));
    const QStringList cores = CpuDirectories(cpus);
    for (const QString& core : cores) {
        const QString governor = FirstLine(cpus.filePath(core + "/cpufreq/scaling_governor"));
        if (!governor.isEmpty() && !m.governors.contains(governor))
            m.governors << governor;
    }
    if (!cores.isEmpty())
        m.frequencyDriver = FirstLine(cpus.filePath(cores[0] + "/cpufreq/scaling_driver"));
    const QString boost = FirstLine(cpus.filePath("cpufreq/boost"));
    const QString noTurbo = FirstLine(cpus.filePath("intel_pstate/no_turbo"));
    if (boost == "0" || boost == "1")
        m.boost = boost == "1";
    else if (noTurbo == "0" || noTurbo == "1")
        m.boost = noTurbo == "0";

    const QStringList loads = FirstLine(dir.filePath("proc/loadavg")).split(' ');
    if (loads.size() >= 3) {
        std::array<double, 3> load{};
        bool ok = true;
        for (int i = 0; i < 3 && ok; ++i)
            load[static_cast<std::size_t>(i)] = loads[i].toDouble(&ok);
        if (ok)
            m.load = load;
    }
    m.product = FirstLine(dir.filePath("sys/class/dmi/id/product_name"));
    m.power = PowerSource(QDir(dir.filePath("sys/class/power_supply")));
    return m;
}

std::optional<ThreadAccount> ReadThreadAccount(const QString& path) {
    std::map<QString, QString> fields;
    for (const QString& line : ReadAll(path).split('\n'))
        fields[line.section(':', 0, 0).trimmed()] = line.section(':', 1).trimmed();
    const char* const names[] = {"se.sum_exec_runtime", "nr_voluntary_switches",
                                 "nr_involuntary_switches", "se.nr_migrations"};
    for (const char* name : names)
        if (!fields.count(name))
            return std::nullopt;
    return ThreadAccount{fields[names[0]].toDouble(), fields[names[1]].toLong(),
                         fields[names[2]].toLong(), fields[names[3]].toLong()};
}

std::optional<double> ReadProcessCpuMs(const QString& path) {
    // The command name, in parentheses, may hold blanks: fields are counted after its end.
    const QString stat = FirstLine(path);
    const qsizetype end = stat.lastIndexOf(')');
    if (end < 0)
        return std::nullopt;
    const QStringList fields = stat.mid(end + 2).split(' ');
    // Fields 14 and 15 of the line; the state (field 3) is the first after the name.
    if (fields.size() < 13)
        return std::nullopt;
    bool okUser = false, okSystem = false;
    const double ticks = fields[11].toDouble(&okUser) + fields[12].toDouble(&okSystem);
    const long perSecond = sysconf(_SC_CLK_TCK);
    if (!okUser || !okSystem || perSecond <= 0)
        return std::nullopt;
    return ticks * 1000.0 / double(perSecond);
}

QList<RunWarning> RunWarnings(const MachineState& machine) {
    QList<RunWarning> warnings;
    if (machine.power == "battery")
        warnings << RunWarning::Battery;
    if (machine.governors.contains("powersave") && !PowersaveScales(machine.frequencyDriver))
        warnings << RunWarning::Powersave;
    if (machine.load && (*machine.load)[0] > 0.5)
        warnings << RunWarning::Load;
    return warnings;
}

QString WarningLine(RunWarning warning, const MachineState& machine) {
    QString why;
    switch (warning) {
    case RunWarning::Battery:
        why = "running on battery";
        break;
    case RunWarning::Powersave:
        why = "the frequency governor is powersave";
        break;
    case RunWarning::Load:
        why = QString::asprintf("load average %.2f, above half a core", (*machine.load)[0]);
        break;
    }
    return "zelka: warning: " + why + "; scores may come out low";
}

QString WarningBoxText(const QList<RunWarning>& warnings, const MachineState& machine,
                       const QStringList& more) {
    if (warnings.isEmpty() && more.isEmpty())
        return {};
    QString text = "正しい測定結果が出ない可能性があります\n";
    for (RunWarning warning : warnings) {
        switch (warning) {
        case RunWarning::Battery:
            text += "\n・バッテリーで動作しています";
            break;
        case RunWarning::Powersave:
            text += "\n・CPUの省電力設定（powersave）が有効です";
            break;
        case RunWarning::Load:
            text += QString::asprintf("\n・他のプログラムが動作しています（負荷 %.2f）",
                                      (*machine.load)[0]);
            break;
        }
    }
    for (const QString& line : more)
        text += "\n・" + line;
    return text + "\n\nこのまま測定を開始しますか？";
}

QString SceneWarningLine(const SceneArchiveCheck& scene, bool directDraw, bool direct3D) {
    directDraw = directDraw && scene.Lacks(kTestModeDirectDraw);
    direct3D = direct3D && scene.Lacks(kTestModeDirect3D);
    if (!directDraw && !direct3D)
        return {};
    const QString tests = directDraw && direct3D ? "the DirectDraw and Direct3D tests run"
                          : directDraw           ? "the DirectDraw test runs"
                                                 : "the Direct3D test runs";
    return "zelka: warning: the test scene is incomplete (" + SceneFaultsText(scene) + "); " +
           tests + " with empty pictures and " +
           (directDraw && direct3D ? "their scores are" : "its score is") + " not comparable";
}

QString SceneWarningBoxLine(const SceneArchiveCheck& scene, bool directDraw, bool direct3D) {
    if (!(directDraw && scene.Lacks(kTestModeDirectDraw)) &&
        !(direct3D && scene.Lacks(kTestModeDirect3D)))
        return {};
    QStringList pictures;
    for (const SceneFault& fault : scene.faults) {
        if (fault.entry.empty())
            return QString("描画テストのデータ（%1）が読み込めません")
                .arg(QFileInfo(QString::fromStdString(scene.archive)).fileName());
        pictures << QString::fromStdString(fault.entry);
    }
    return "描画テストの画像が読み込めません（" + pictures.join("、") + "）";
}

DeviceCondition Direct3DDeviceCondition(const TDDDD* engine, const QString& glRenderer,
                                        const QString& whyNo3D) {
    if (!engine)
        return {DeviceText(TD3DDeviceKind::None, {}), {}};
    return {DeviceText(engine->D3DDeviceKind, glRenderer), WhyNotHal(*engine, whyNo3D)};
}

RunConditions ProbeRunConditions(const QString& root) {
    RunConditions c;
    c.version = ProgramVersion();
    c.buildType = BuildType();
    c.machine = ReadMachineState(root);
    c.hypervisor = TPentiumMMX().HypervisorPresent();
    c.qtPlatform = QGuiApplication::platformName();
    c.presenter = presenting::Presenter::Instance().RoadName();
    if (presenting::Presenter::Instance().GlRoadTaken())
        c.presenter += "+gl"; // pictures drawn on the GPU were shown from there
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        c.screen = screen->size() * screen->devicePixelRatio();
        c.screenDepth = screen->depth();
    }
    c.desktopDepth = directx::Adapter().DesktopMode().bitsPerPixel;
    const bool onGpu = directx::GpuBlitter::Get() != nullptr;
    const gpu::Road& road = gpu::ChosenRoad();
    c.renderRoad = onGpu ? "gpu" : "software";
    c.glRenderer = QString::fromStdString(road.probed.renderer);
    c.glVersion = QString::fromStdString(road.probed.version);
    c.glVendor = QString::fromStdString(road.probed.vendor);
    c.videoMemory = onGpu ? "GPU" : "host memory, emulated";
    c.whyNotGpu = onGpu ? QString() : QString::fromStdString(road.whyNotGpu);
    const QString whyNo3D = onGpu ? "the GPU's Direct3D device did not start: " +
                                        QString::fromStdString(directx::GpuRaster::WhyNot())
                                  : "no hardware renderer: " + c.whyNotGpu;
    const DeviceCondition device =
        Direct3DDeviceCondition(Form3 ? Form3->DDDD1.get() : nullptr, c.glRenderer, whyNo3D);
    c.direct3DDevice = device.device;
    c.whyNotHal = device.whyNotHal;
    c.scene = CheckSceneArchive();
    return c;
}

QJsonObject ConditionsJson(const RunConditions& c) {
    const MachineState& m = c.machine;
    QJsonValue load(QJsonValue::Null);
    if (m.load)
        load = QJsonArray{(*m.load)[0], (*m.load)[1], (*m.load)[2]};
    return QJsonObject{
        {"version", c.version},
        {"build_type", c.buildType},
        {"kernel", TextOrNull(m.kernel)},
        {"processor", TextOrNull(m.processor)},
        {"logical_cores", m.logicalCores > 0 ? QJsonValue(m.logicalCores) : QJsonValue()},
        {"governor", TextOrNull(m.governors.join(","))},
        {"frequency_driver", TextOrNull(m.frequencyDriver)},
        {"boost", m.boost ? QJsonValue(*m.boost) : QJsonValue()},
        {"load_average", load},
        {"virtual_machine",
         QJsonObject{{"hypervisor", c.hypervisor}, {"dmi_product", TextOrNull(m.product)}}},
        {"power", TextOrNull(m.power)},
        {"qt_platform", c.qtPlatform},
        {"presenter", c.presenter},
        {"screen", QJsonObject{{"width", c.screen.width()},
                               {"height", c.screen.height()},
                               {"depth", c.screenDepth}}},
        {"desktop_depth", c.desktopDepth},
        {"direct3d_device", c.direct3DDevice},
        {"why_not_hal", TextOrNull(c.whyNotHal)},
        {"renderer", QJsonObject{{"road", c.renderRoad},
                                 {"gl_renderer", TextOrNull(c.glRenderer)},
                                 {"gl_version", TextOrNull(c.glVersion)},
                                 {"gl_vendor", TextOrNull(c.glVendor)},
                                 {"video_memory", c.videoMemory},
                                 {"why_not_gpu", TextOrNull(c.whyNotGpu)}}},
        {"scene", SceneJson(c.scene)},
    };
}

QStringList ConditionLines(const RunConditions& start, const RunConditions& end) {
    const auto texts = [](const RunConditions& c) {
        const MachineState& m = c.machine;
        const QString untold = "not told";
        const auto orUntold = [&](const QString& text) { return text.isEmpty() ? untold : text; };
        QString governor = orUntold(m.governors.join(", "));
        if (!m.frequencyDriver.isEmpty())
            governor += " (" + m.frequencyDriver + ")";
        return QStringList{
            c.version + ", " + c.buildType,
            orUntold(m.kernel),
            orUntold(m.processor) +
                (m.logicalCores > 0 ? QString(", %1 logical cores").arg(m.logicalCores) : ""),
            governor,
            m.boost ? (*m.boost ? "on" : "off") : untold,
            m.load ? LoadText(*m.load) : untold,
            QString(c.hypervisor ? "yes" : "no") + " (hypervisor bit), DMI product " +
                orUntold(m.product),
            m.power == "ac" ? "AC" : orUntold(m.power),
            c.qtPlatform + ", presenter " + c.presenter,
            QString("%1 x %2, %3 bits (DirectX desktop %4 bits)")
                .arg(c.screen.width())
                .arg(c.screen.height())
                .arg(c.screenDepth)
                .arg(c.desktopDepth),
            c.whyNotHal.isEmpty() ? c.direct3DDevice : c.direct3DDevice + ", " + c.whyNotHal,
            c.renderRoad == "gpu"
                ? "GPU: " + c.glRenderer + " (" + c.glVersion + ", " + c.glVendor + ")"
                : "software (" + orUntold(c.whyNotGpu) + ")",
            c.videoMemory,
            c.scene.Complete() ? "complete (" + QString::fromStdString(c.scene.archive) + ")"
                               : "incomplete, " + SceneFaultsText(c.scene),
        };
    };
    static const char* const labels[] = {
        "version",         "kernel",          "processor",    "governor",      "boost",
        "load average",    "virtual machine", "power",        "window system", "screen",
        "Direct3D device", "renderer",        "video memory", "scene",
    };
    const QStringList first = texts(start), last = texts(end);
    QStringList lines{"Conditions (start -> end where they differ):"};
    for (qsizetype i = 0; i < first.size(); ++i) {
        QString line = QString("  %1 ").arg(QString(labels[i]) + ":", -17) + first[i];
        if (last[i] != first[i])
            line += " -> " + last[i];
        lines << line;
    }
    return lines;
}
