// zelka-rank: the ranking service the program's ranking page posts to, and the operator's
// moderation of its entries.
#include "ModelName.h"
#include "OpenData.h"
#include "RankCheck.h"
#include "RankPages.h"
#include "RankServer.h"
#include "RankStore.h"
#include "RequestHead.h"
#include "Submission.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <pthread.h>
#include <string>
#include <sys/resource.h>
#include <thread>

namespace {

constexpr const char* kUsage =
    "usage: zelka-rank [--listen ADDRESS:PORT] [--db PATH | --db postgresql://USER@HOST:PORT/DB]\n"
    "                  [--password-file FILE] [--post-limit K] [--ceiling TEST=N]...\n"
    "                  [--trust-proxy ADDRESS[/BITS][,...]]... [--base-path /PATH]\n"
    "                  [--per-address N] [--max-connections N]\n"
    "       zelka-rank init [--db ... [--password-file FILE]]\n"
    "       zelka-rank pending [--db ... [--password-file FILE]]\n"
    "       zelka-rank approve|hide|delete ID [--db ... [--password-file FILE]]\n"
    "       zelka-rank alias FROM TO | aliases [--db ... [--password-file FILE]]\n"
    "       zelka-rank export FILE [WITHDRAWN-FILE] [--db ... [--password-file FILE]]\n"
    "PostgreSQL's password: PGPASSWORD, --password-file, $CREDENTIALS_DIRECTORY/db-password\n"
    "or ~/.pgpass, never in --db.";

int Usage(const std::string& problem) {
    if (!problem.empty())
        std::fprintf(stderr, "zelka-rank: %s\n", problem.c_str());
    std::fprintf(stderr, "%s\n", kUsage);
    return 2;
}

// "$XDG_DATA_HOME/zelka/ranking.sqlite", i.e. ~/.local/share/zelka/ranking.sqlite.
std::string DefaultDatabase() {
    return (QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            "/zelka/ranking.sqlite")
        .toStdString();
}

// What the command line asks for: the service's options and database, or a moderation
// command (empty: serve) with the entry it acts on.
struct Invocation {
    RankServerOptions options;
    std::string database;
    std::string passwordFile;
    std::string command;
    std::int64_t id = 0;
    std::vector<std::string> words; // the texts after alias and export
};

// The options that take a value.
bool TakesValue(const std::string& arg) {
    return arg == "--listen" || arg == "--db" || arg == "--post-limit" || arg == "--trust-proxy" ||
           arg == "--ceiling" || arg == "--per-address" || arg == "--max-connections" ||
           arg == "--base-path" || arg == "--password-file";
}

// The options every command takes, not only the service.
bool DatabaseOption(const std::string& arg) {
    return arg == "--db" || arg == "--password-file";
}

// A moderation command and its entry's ID at the start of the line. Sets `first` to the
// first option after them; returns what is wrong, or nothing.
std::string ReadCommand(int argc, char** argv, Invocation& run, int& first) {
    first = 1;
    if (argc < 2)
        return {};
    const std::string word = argv[1];
    if (word == "alias" || word == "export") {
        // alias FROM TO; export FILE [WITHDRAWN-FILE]: the words up to the first option.
        run.command = word;
        for (first = 2; first < argc && !std::string(argv[first]).starts_with("--"); ++first)
            run.words.push_back(argv[first]);
        const bool fits = word == "alias" ? run.words.size() == 2
                                          : run.words.size() == 1 || run.words.size() == 2;
        return fits              ? ""
               : word == "alias" ? "alias takes FROM and TO (TO \"\" removes the alias)"
                                 : "export takes FILE and optionally WITHDRAWN-FILE";
    }
    if (word != "init" && word != "pending" && word != "aliases" && word != "approve" &&
        word != "hide" && word != "delete")
        return {};
    run.command = word;
    first = 2;
    if (word == "init" || word == "pending" || word == "aliases")
        return {};
    const auto id = argc > 2 ? ParseDecimal(argv[2], 1, INT64_MAX) : std::nullopt;
    if (!id)
        return word + " takes the ID of an entry";
    run.id = *id;
    first = 3;
    return {};
}

// ADDRESS:PORT, the address also in brackets ("[::1]:8932").
std::string ReadListen(const std::string& value, RankServerOptions& options) {
    const std::size_t colon = value.rfind(':');
    const auto port = colon == std::string::npos || colon == 0
                          ? std::nullopt
                          : ParseDecimal(value.substr(colon + 1), 0, 65535);
    if (!port)
        return "--listen takes ADDRESS:PORT, e.g. 127.0.0.1:8932 (port 0 picks one)";
    options.host = value.substr(0, colon);
    if (options.host.size() > 2 && options.host.front() == '[' && options.host.back() == ']')
        options.host = options.host.substr(1, options.host.size() - 2);
    options.port = static_cast<int>(*port);
    return {};
}

// TEST=N: a fixed ceiling for one test's scores.
std::string ReadCeiling(const std::string& value, RankServerOptions& options) {
    const std::size_t eq = value.find('=');
    int test = -1;
    for (int t = rsCpu; t < rsCount && eq != std::string::npos; ++t)
        if (value.substr(0, eq) == kRankScoreNames[t])
            test = t;
    const auto n = test < 0 ? std::nullopt : ParseDecimal(value.substr(eq + 1), 0, kRankScoreMax);
    if (!n)
        return "--ceiling takes TEST=N, TEST one of cpu, gdi, ddraw, d3d, disk";
    options.ceilings[test] = *n;
    return {};
}

// One option of the service (or --db) with its value; returns what is wrong, or nothing.
// Numbers are written as the ranking's own form writes them: no sign, no leading zero.
std::string ReadOption(const std::string& arg, const std::string& value, Invocation& run) {
    RankServerOptions& options = run.options;
    if (arg == "--listen")
        return ReadListen(value, options);
    if (arg == "--ceiling")
        return ReadCeiling(value, options);
    if (arg == "--db") {
        run.database = value;
        if (value.empty())
            return "--db takes a file or a postgresql:// address";
        // What stands on a command line stands in `ps` and in the unit's ExecStart.
        const QUrl url(QString::fromStdString(value));
        if ((value.starts_with("postgresql://") || value.starts_with("postgres://")) &&
            (!url.password().isEmpty() || QUrlQuery(url).hasQueryItem("password")))
            return "--db takes no password: give it in PGPASSWORD, --password-file FILE or "
                   "$CREDENTIALS_DIRECTORY/db-password";
        return {};
    }
    if (arg == "--password-file") {
        run.passwordFile = value;
        return {};
    }
    if (arg == "--trust-proxy") {
        // Repeated or listed with commas: addresses and networks, IPv4 and IPv6.
        for (const QString& item : QString::fromStdString(value).split(','))
            if (!options.trustProxy.Add(item.trimmed().toStdString()))
                return "--trust-proxy takes proxies' IP addresses or networks, e.g. 127.0.0.1, "
                       "10.0.0.0/8 or ::1 (not " +
                       item.trimmed().toStdString() + ")";
        return {};
    }
    if (arg == "--base-path") {
        // "/zelka": a path of plain segments, without a slash at its end.
        const bool plain = value.size() > 1 && value.front() == '/' && value.back() != '/' &&
                           value.find("//") == std::string::npos &&
                           value.find("/.") == std::string::npos &&
                           value.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRS"
                                                   "TUVWXYZ0123456789-._~/") == std::string::npos;
        if (!plain)
            return "--base-path takes the site's path, e.g. /zelka";
        options.basePath = value;
        return {};
    }
    if (arg == "--post-limit") {
        const auto k = ParseDecimal(value, 0, 1000000);
        if (!k)
            return "--post-limit takes a number of posts (0 for no limit)";
        options.postLimit = static_cast<int>(*k);
        return {};
    }
    const auto n = ParseDecimal(value, 1, 100000);
    if (!n)
        return arg + " takes a number of connections";
    (arg == "--per-address" ? options.perAddress : options.maxConnections) = static_cast<int>(*n);
    return {};
}

// Qt's own warnings to stderr, but for the one per prepared statement that a lost database
// connection leaves behind: the service says once that the database is away.
void QtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtWarningMsg && message.startsWith("Unable to free statement"))
        return;
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

// PostgreSQL's password from --password-file or, under systemd's LoadCredential=, the
// credential "db-password"; empty leaves libpq its own (PGPASSWORD, ~/.pgpass). Returns what
// is wrong, or nothing.
std::string ReadPassword(const std::string& given, std::string& password) {
    std::string path = given;
    if (path.empty()) {
        const char* credentials = std::getenv("CREDENTIALS_DIRECTORY");
        if (!credentials || !*credentials)
            return {};
        path = std::string(credentials) + "/db-password";
        if (!QFileInfo::exists(QString::fromStdString(path)))
            return {};
    }
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return "cannot read the password file " + path;
    // The first line, without its line end.
    password = file.readLine(4096).trimmed().toStdString();
    if (password.empty())
        return "the password file " + path + " is empty";
    return {};
}

// Whether the tables are there for this version and this role may use them; the service
// creates or upgrades them where its role may (an SQLite file's owner always may), the
// moderation commands never. Returns what is wrong, or nothing.
std::string ReadyTables(RankStore& store, bool mayCreate) {
    std::string problem = store.SchemaProblem();
    if (problem.empty())
        return {};
    std::string refused;
    if (mayCreate) {
        try {
            store.CreateSchema();
            problem = store.SchemaProblem();
            if (problem.empty())
                return {};
        } catch (const std::exception& e) {
            refused = std::string("; this role may not create them either (") + e.what() + ")";
        }
    }
    return problem + refused +
           ". Run `zelka-rank init --db ...` once as a role that may create tables (the "
           "database's owner), and grant this role SELECT, INSERT, UPDATE, DELETE on entries, "
           "recent_posts, post_log, model_aliases, model_rules and deleted_entries and USAGE on "
           "entries_id_seq";
}

// FILE ("-": standard output) written by `write`; false, with a message, when it cannot be.
bool ExportTo(const std::string& path, const std::function<void(const DataSink&)>& write) {
    std::FILE* file = path == "-" ? stdout : std::fopen(path.c_str(), "wbe");
    if (!file) {
        std::fprintf(stderr, "zelka-rank: cannot write %s\n", path.c_str());
        return false;
    }
    bool written = true;
    write([&](std::string_view piece) {
        written = written && std::fwrite(piece.data(), 1, piece.size(), file) == piece.size();
    });
    written = (file == stdout ? std::fflush(file) : std::fclose(file)) == 0 && written;
    if (!written)
        std::fprintf(stderr, "zelka-rank: cannot write %s\n", path.c_str());
    return written;
}

// The model aliases and the open data, from the command line.
int Models(RankStore& store, const std::string& command, const std::vector<std::string>& words) {
    if (command == "aliases") {
        for (const auto& [alias, model] : store.Aliases())
            std::printf("%s\t%s\n", alias.c_str(), model.c_str());
        return 0;
    }
    if (command == "alias") {
        if (!store.SetAlias(words[0], words[1])) {
            std::fprintf(stderr, "zelka-rank: \"%s\" names no model\n", words[0].c_str());
            return 1;
        }
        const std::string alias = CanonicalModel(words[0]), model = CanonicalModel(words[1]);
        if (model.empty() || model == alias)
            std::printf("no alias for \"%s\"\n", alias.c_str());
        else
            std::printf("\"%s\" is \"%s\"\n", alias.c_str(), model.c_str());
        return 0;
    }
    const bool entries =
        ExportTo(words[0], [&store](const DataSink& out) { WriteEntriesJsonl(store, out); });
    const bool withdrawn = words.size() < 2 || ExportTo(words[1], [&store](const DataSink& out) {
                               WriteWithdrawnJson(store, out);
                           });
    return entries && withdrawn ? 0 : 1;
}

// The moderation subcommands: one change (or the list of pending entries) and exit.
int Moderate(RankStore& store, const std::string& command, std::int64_t id) {
    if (command == "pending") {
        const std::vector<RankEntry> entries = store.Pending();
        std::printf("%-8s %-16s %10s %10s %10s %10s %10s %10s  %s\n", "ID", "DATE", "OVERALL",
                    "CPU", "GDI", "DDRAW", "D3D", "DISK", "NAME");
        for (const RankEntry& e : entries) {
            std::printf("%-8lld %-16s %10d %10d %10d %10d %10d %10d  %s\n",
                        static_cast<long long>(e.id), LocalTime(e.createdAt).c_str(),
                        e.scores[rsOverall], e.scores[rsCpu], e.scores[rsGdi], e.scores[rsDDraw],
                        e.scores[rsD3D], e.scores[rsDisk], e.text.name.c_str());
            if (!e.holdReason.empty())
                std::printf("%-8s held: %s\n", "", e.holdReason.c_str());
        }
        std::fprintf(stderr, "zelka-rank: %zu pending\n", entries.size());
        return 0;
    }
    const bool done =
        command == "delete"
            ? store.Delete(id)
            : store.SetState(id, command == "approve" ? EntryState::Listed : EntryState::Hidden);
    if (!done) {
        std::fprintf(stderr, "zelka-rank: no entry %lld\n", static_cast<long long>(id));
        return 1;
    }
    std::printf("%s %lld\n",
                command == "approve" ? "listed"
                : command == "hide"  ? "hidden"
                                     : "deleted",
                static_cast<long long>(id));
    return 0;
}

// Every connection is a descriptor: as many as the connection cap allows, if the system
// lets this process have them.
void RaiseDescriptorLimit(int maxConnections) {
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0)
        return;
    const rlim_t wanted = static_cast<rlim_t>(maxConnections) + 256;
    if (files.rlim_cur < wanted) {
        files.rlim_cur = std::min(wanted, files.rlim_max);
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
}

// Serves until SIGINT or SIGTERM, which the caller has blocked in every thread: one thread
// waits for them and stops the server.
int Serve(RankStore& store, const RankServerOptions& options, const sigset_t& stopSignals) {
    RaiseDescriptorLimit(options.maxConnections);
    RankServer server(store, options);
    const int port = server.Bind();
    if (port < 0) {
        std::fprintf(stderr, "zelka-rank: cannot listen on %s:%d\n", options.host.c_str(),
                     options.port);
        return 1;
    }
    const bool v6 = options.host.find(':') != std::string::npos;
    std::printf("listening on http://%s%s%s:%d\n", v6 ? "[" : "", options.host.c_str(),
                v6 ? "]" : "", port);
    std::fprintf(stderr, "zelka-rank: entries in %s\n", store.Description().c_str());
    std::fflush(stdout);

    std::thread stopper([&server, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.Stop();
    });
    const bool served = server.Serve();
    // Serve also ends when serving could not start: wake the stopper so it can be joined.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return served ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    Invocation run;
    run.options.host = kRankDefaultHost;
    run.options.port = kRankDefaultPort;
    int first = 1;
    if (const std::string problem = ReadCommand(argc, argv, run, first); !problem.empty())
        return Usage(problem);
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::printf("%s\n", kUsage);
            return 0;
        }
        if (!TakesValue(arg))
            return Usage("unknown option " + arg);
        if (i + 1 >= argc)
            return Usage("missing value after " + arg);
        if (!run.command.empty() && !DatabaseOption(arg))
            return Usage(arg + " is an option of the service, not of " + run.command);
        if (const std::string problem = ReadOption(arg, argv[++i], run); !problem.empty())
            return Usage(problem);
    }

    // Termination signals are taken by one thread, which stops the server; every other thread
    // (they start later and inherit this mask) leaves them alone.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication application(argc, argv); // Qt SQL loads its drivers through it
    qInstallMessageHandler(QtMessage);
    if (run.database.empty())
        run.database = DefaultDatabase();
    try {
        std::string password;
        if (const std::string problem = ReadPassword(run.passwordFile, password); !problem.empty())
            return Usage(problem);
        RankStore store(run.database, password);
        if (run.command == "init") {
            store.CreateSchema();
            std::printf("the tables are ready in %s\n", store.Description().c_str());
            return 0;
        }
        if (const std::string problem = ReadyTables(store, run.command.empty()); !problem.empty()) {
            std::fprintf(stderr, "zelka-rank: %s\n", problem.c_str());
            return 1;
        }
        if (run.command == "alias" || run.command == "aliases" || run.command == "export")
            return Models(store, run.command, run.words);
        // Models stored by an older version's rules are computed again before serving.
        if (run.command.empty())
            store.RefreshModelRules();
        if (!run.command.empty())
            return Moderate(store, run.command, run.id);
        return Serve(store, run.options, stopSignals);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zelka-rank: %s\n", e.what());
        return 1;
    }
}
