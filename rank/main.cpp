// zelka-rank: the ranking service the program's ranking page posts to.
#include "RankCheck.h"
#include "RankServer.h"
#include "RankStore.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <string>
#include <thread>

namespace {

constexpr const char* kUsage =
    "usage: zelka-rank [--listen ADDRESS:PORT] [--db PATH | --db postgresql://USER@HOST:PORT/DB]";

int Usage(const char* problem) {
    if (problem)
        std::fprintf(stderr, "zelka-rank: %s\n", problem);
    std::fprintf(stderr, "%s\n", kUsage);
    return 2;
}

// "$XDG_DATA_HOME/zelka/ranking.sqlite", i.e. ~/.local/share/zelka/ranking.sqlite.
std::string DefaultDatabase() {
    return (QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            "/zelka/ranking.sqlite")
        .toStdString();
}

} // namespace

int main(int argc, char** argv) {
    RankServerOptions options;
    options.host = kRankDefaultHost;
    options.port = kRankDefaultPort;
    std::string database;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::printf("%s\n", kUsage);
            return 0;
        }
        if ((arg == "--listen" || arg == "--db") && i + 1 >= argc)
            return Usage(("missing value after " + arg).c_str());
        if (arg == "--listen") {
            const std::string value = argv[++i];
            const std::size_t colon = value.rfind(':');
            const std::string port = colon == std::string::npos ? "" : value.substr(colon + 1);
            if (colon == 0 || colon == std::string::npos || port.empty() || port.size() > 5 ||
                port.find_first_not_of("0123456789") != std::string::npos ||
                std::stoi(port) > 65535)
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
        } else {
            return Usage(("unknown option " + arg).c_str());
        }
    }

    // Termination stopSignals are taken by one thread, which stops the server; every other thread
    // (the workers start later and inherit this mask) leaves them alone.
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
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zelka-rank: %s\n", e.what());
        return 1;
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
    // Serve also ends when the listening socket fails: wake the stopper so it can be joined.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return served ? 0 : 1;
}
