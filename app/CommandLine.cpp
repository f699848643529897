#include "CommandLine.h"

CommandLine ParseCommandLine(const QStringList& arguments) {
    CommandLine line;
    bool repeatGiven = false;
    auto fail = [&line](const QString& why) {
        line.error = why + "; " + kUsage;
        return line;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == "--run") {
            line.mode = CommandLine::Mode::Run;
        } else if (arg == "--report") {
            line.mode = CommandLine::Mode::Report;
        } else if (arg == "--headless") {
            line.headless = true;
        } else if (arg == "--rank-page") {
            line.rankPage = true;
        } else if (arg == "--drive") {
            if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty())
                return fail("zelka: --drive needs a drive letter");
            line.drive = arguments[++i];
        } else if (arg == "--json") {
            if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty())
                return fail("zelka: --json needs a file name");
            line.jsonFile = arguments[++i];
        } else if (arg == "--repeat") {
            bool ok = false;
            const int count = i + 1 < arguments.size() ? arguments[i + 1].toInt(&ok) : 0;
            if (!ok || count < 1 || count > kMaxRepeat)
                return fail(
                    QString("zelka: --repeat needs a number of runs from 1 to %1").arg(kMaxRepeat));
            line.repeat = count;
            repeatGiven = true;
            ++i;
        } else if (arg == "--renderer") {
            const QString value = i + 1 < arguments.size() ? arguments[i + 1] : QString();
            if (value != "auto" && value != "gpu" && value != "software")
                return fail("zelka: --renderer takes auto, gpu or software");
            line.renderer = value;
            ++i;
        } else if (arg == "--no-hal") {
            line.noHal = true;
        } else if (arg == "--version") {
            line.mode = CommandLine::Mode::Version;
        } else if (arg == "--help" || arg == "-h") {
            line.mode = CommandLine::Mode::Help;
        } else if (arg == "--tests" || arg == "--screenshots") {
            if (i + 1 >= arguments.size())
                return fail("zelka: " + arg + " needs a value");
            const QString value = arguments[++i];
            if (arg == "--screenshots") {
                line.mode = CommandLine::Mode::Screenshots;
                line.screenshotFolder = value;
                continue;
            }
            line.tests.clear();
            for (const QString& name : value.split(',', Qt::SkipEmptyParts)) {
                if (!kTestNames.contains(name))
                    return fail("zelka: unknown test '" + name + "'");
                if (!line.tests.contains(name))
                    line.tests << name;
            }
            if (line.tests.isEmpty())
                return fail("zelka: --tests needs at least one test");
        } else {
            return fail("zelka: unknown option '" + arg + "'");
        }
    }
    if (!line.tests.isEmpty() && line.mode != CommandLine::Mode::Run)
        return fail("zelka: --tests goes with --run");
    if ((line.rankPage || !line.drive.isEmpty() || !line.jsonFile.isEmpty() || repeatGiven) &&
        line.mode != CommandLine::Mode::Run)
        return fail("zelka: --drive, --rank-page, --json and --repeat go with --run");
    return line;
}
