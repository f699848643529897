#pragma once
// zelka-rank's HTTP side over GNU libmicrohttpd. One thread reads every connection through
// epoll, so a connection that waits costs a socket and a little memory, not a thread. Heads are
// checked before any body is read; finished, checked requests that need the database are
// handed to a few database workers while their connections wait suspended, so a slow query
// never holds up reading the others. Each request has a deadline counted from the accept (or
// from the end of the previous reply on the connection), each client address a number of
// connections, and the service a number of connections beyond which new ones are told 503.
#include "NetworkAddress.h"
#include "RankStore.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct RankServerOptions {
    std::string host = "127.0.0.1";
    int port = 0;
    int workers = 4;           // database workers, each with its own database connection
    int perAddress = 8;        // connections at once from one client address
    int maxConnections = 1000; // beyond, a new connection is answered 503 and closed
    std::chrono::milliseconds requestDeadline{10000}; // a whole request and its reply
    std::chrono::seconds keepAlive{3};                // idle time between requests
    // Idle time between requests on a trusted proxy's connection: longer than proxies keep
    // idle upstream connections (nginx: 60 s), so the proxy always closes first and never
    // sends a request on a connection this side is closing.
    std::chrono::seconds proxyKeepAlive{75};
    int postLimit = 5;     // accepted posts per address within kRankPostWindow; 0: none
    NetworkSet trustProxy; // reverse proxies: their X-Forwarded-For is believed
    // The path the site lives under behind its proxy ("/zelka"; empty for the root): requests
    // outside it are not found, and every link and form points under it.
    std::string basePath;
    // The service's own log lines (the database lost and back); stderr when unset.
    std::function<void(const std::string&)> log;
    std::array<std::optional<std::int64_t>, rsCount> ceilings; // fixed ceilings per test
    // Seconds since 1970 for the entries' times (replaced by tests).
    std::function<std::int64_t()> clock;
    // The clock of the deadlines (replaced by tests).
    std::function<std::chrono::steady_clock::time_point()> steadyClock;
};

class RankServer {
public:
    RankServer(RankStore& store, RankServerOptions options);
    ~RankServer();
    RankServer(const RankServer&) = delete;
    RankServer& operator=(const RankServer&) = delete;

    // Binds the address and starts accepting; the port bound (the one picked for port 0), or -1.
    int Bind();
    // Serves until Stop(); false when serving could not start.
    bool Serve();
    // Ends Serve() promptly whatever is connected. Safe from any thread.
    void Stop();

    class Http;

private:
    std::unique_ptr<Http> http_;
};
