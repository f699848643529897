// zelka-rank: the ranking service the program's ranking page posts to, and the operator's
// moderation of its entries.
#include "RankCheck.h"
#include "RankPages.h"
#include "RankServer.h"
#include "RankStore.h"
#include "RequestHead.h"
#include "Submission.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <pthread.h>
#include <string>
#include <sys/resource.h>
#include <thread>

namespace {

constexpr const char* kUsage =
    "usage: zelka-rank [--listen ADDRESS:PORT] [--db PATH | --db postgresql://USER@HOST:PORT/DB]\n"
    "                  [--post-limit K] [--trust-proxy ADDRESS] [--ceiling TEST=N]...\n"
    "                  [--per-address N] [--max-connections N]\n"
    "       zelka-rank pending [--db ...]\n"
    "       zelka-rank approve|hide|delete ID [--db ...]";

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
    std::string command;
    std::int64_t id = 0;
};

// The options that take a value.
bool TakesValue(const std::string& arg) {
    return arg == "--listen" || arg == "--db" || arg == "--post-limit" || arg == "--trust-proxy" ||
           arg == "--ceiling" || arg == "--per-address" || arg == "--max-connections";
}

// A moderation command and its entry's ID at the start of the line. Sets `first` to the
// first option after them; returns what is wrong, or nothing.
std::string ReadCommand(int argc, char** argv, Invocation& run, int& first) {
    first = 1;
    if (argc < 2)
        return {};
    const std::string word = argv[1];
    if (word != "pending" && word != "approve" && word != "hide" && word != "delete")
        return {};
    run.command = word;
    first = 2;
    if (word == "pending")
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
        return value.empty() ? "--db takes a file or a postgresql:// address" : "";
    }
    if (arg == "--trust-proxy") {
        options.trustProxy = CanonicalAddress(value);
        return options.trustProxy.empty()
                   ? "--trust-proxy takes the proxy's IP address, e.g. 127.0.0.1"
                   : "";
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

// The moderation subcommands: one change (or the list of pending entries) and exit.
int Moderate(RankStore& store, const std::string& command, std::int64_t id) {
    if (command == "pending") {
        const std::vector<RankEntry> entries = store.Pending();
        std::printf("%-8s %-16s %10s %10s %10s %10s %10s %10s  %s\n", "ID", "DATE", "OVERALL",
                    "CPU", "GDI", "DDRAW", "D3D", "DISK", "NAME");
        for (const RankEntry& e : entries)
            std::printf("%-8lld %-16s %10d %10d %10d %10d %10d %10d  %s\n",
                        static_cast<long long>(e.id), LocalTime(e.createdAt).c_str(),
                        e.scores[rsOverall], e.scores[rsCpu], e.scores[rsGdi], e.scores[rsDDraw],
                        e.scores[rsD3D], e.scores[rsDisk], e.text.name.c_str());
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
        if (!run.command.empty() && arg != "--db")
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
    if (run.database.empty())
        run.database = DefaultDatabase();
    try {
        RankStore store(run.database);
        if (!run.command.empty())
            return Moderate(store, run.command, run.id);
        return Serve(store, run.options, stopSignals);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zelka-rank: %s\n", e.what());
        return 1;
    }
}
