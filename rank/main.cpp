// zelka-rank: the ranking service the program's ranking page posts to, and the operator's
// moderation of its entries.
#include "RankCheck.h"
#include "RankPages.h"
#include "RankServer.h"
#include "RankStore.h"
#include "RequestHead.h"

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

// A decimal number from `low` to `high`.
std::optional<std::int64_t> Number(const std::string& text, std::int64_t low, std::int64_t high) {
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const std::int64_t value = std::stoll(text);
    if (value < low || value > high)
        return std::nullopt;
    return value;
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

} // namespace

int main(int argc, char** argv) {
    RankServerOptions options;
    options.host = kRankDefaultHost;
    options.port = kRankDefaultPort;
    std::string database;
    std::string command; // empty: serve
    std::int64_t id = 0;
    int first = 1;
    if (argc > 1) {
        const std::string word = argv[1];
        if (word == "pending" || word == "approve" || word == "hide" || word == "delete") {
            command = word;
            first = 2;
            if (word != "pending") {
                const auto parsed = argc > 2 ? Number(argv[2], 1, INT64_MAX) : std::nullopt;
                if (!parsed)
                    return Usage(word + " takes the ID of an entry");
                id = *parsed;
                first = 3;
            }
        }
    }
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::printf("%s\n", kUsage);
            return 0;
        }
        const bool takesValue = arg == "--listen" || arg == "--db" || arg == "--post-limit" ||
                                arg == "--trust-proxy" || arg == "--ceiling" ||
                                arg == "--per-address" || arg == "--max-connections";
        if (takesValue && i + 1 >= argc)
            return Usage("missing value after " + arg);
        if (takesValue && !command.empty() && arg != "--db")
            return Usage(arg + " is an option of the service, not of " + command);
        if (arg == "--listen") {
            const std::string value = argv[++i];
            const std::size_t colon = value.rfind(':');
            const std::string port = colon == std::string::npos ? "" : value.substr(colon + 1);
            if (colon == 0 || colon == std::string::npos || !Number(port, 0, 65535))
                return Usage("--listen takes ADDRESS:PORT, e.g. 127.0.0.1:8932 (port 0 picks one)");
            options.host = value.substr(0, colon);
            if (options.host.size() > 2 && options.host.front() == '[' &&
                options.host.back() == ']')
                options.host = options.host.substr(1, options.host.size() - 2);
            options.port = std::stoi(port);
        } else if (arg == "--db") {
            database = argv[++i];
            if (database.empty())
                return Usage("--db takes a file or a postgresql:// address");
        } else if (arg == "--post-limit") {
            const auto k = Number(argv[++i], 0, 1000000);
            if (!k)
                return Usage("--post-limit takes a number of posts (0 for no limit)");
            options.postLimit = static_cast<int>(*k);
        } else if (arg == "--trust-proxy") {
            options.trustProxy = CanonicalAddress(argv[++i]);
            if (options.trustProxy.empty())
                return Usage("--trust-proxy takes the proxy's IP address, e.g. 127.0.0.1");
        } else if (arg == "--per-address" || arg == "--max-connections") {
            const auto n = Number(argv[++i], 1, 100000);
            if (!n)
                return Usage(arg + " takes a number of connections");
            (arg == "--per-address" ? options.perAddress : options.maxConnections) =
                static_cast<int>(*n);
        } else if (arg == "--ceiling") {
            const std::string value = argv[++i];
            const std::size_t eq = value.find('=');
            int test = -1;
            for (int t = rsCpu; t < rsCount && eq != std::string::npos; ++t)
                if (value.substr(0, eq) == kRankScoreNames[t])
                    test = t;
            const auto n = test < 0 ? std::nullopt : Number(value.substr(eq + 1), 0, kRankScoreMax);
            if (!n)
                return Usage("--ceiling takes TEST=N, TEST one of cpu, gdi, ddraw, d3d, disk");
            options.ceilings[test] = *n;
        } else {
            return Usage("unknown option " + arg);
        }
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
    if (database.empty())
        database = DefaultDatabase();
    std::unique_ptr<RankStore> store;
    try {
        store = std::make_unique<RankStore>(database);
        if (!command.empty())
            return Moderate(*store, command, id);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zelka-rank: %s\n", e.what());
        return 1;
    }

    // Every connection is a descriptor: as many as the connection cap allows, if the system
    // lets this process have them.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        const rlim_t wanted = static_cast<rlim_t>(options.maxConnections) + 256;
        if (files.rlim_cur < wanted) {
            files.rlim_cur = std::min(wanted, files.rlim_max);
            ::setrlimit(RLIMIT_NOFILE, &files);
        }
    }

    RankServer server(*store, options);
    const int port = server.Bind();
    if (port < 0) {
        std::fprintf(stderr, "zelka-rank: cannot listen on %s:%d\n", options.host.c_str(),
                     options.port);
        return 1;
    }
    const bool v6 = options.host.find(':') != std::string::npos;
    std::printf("listening on http://%s%s%s:%d\n", v6 ? "[" : "", options.host.c_str(),
                v6 ? "]" : "", port);
    std::fprintf(stderr, "zelka-rank: entries in %s\n", store->Description().c_str());
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
