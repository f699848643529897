#pragma once
// zelka-rank's HTTP side over GNU libmicrohttpd. One thread reads every connection through
// epoll, so a connection that waits costs a socket and a little memory, not a thread. Heads are
// checked before any body is read; finished, checked requests that need the database are
// handed to a few database workers while their connections wait suspended, so a slow query
// never holds up reading the others. Each request has a deadline counted from the accept (or
// from the end of the previous reply on the connection), each client address a number of
// connections, and the service a number of connections beyond which new ones are told 503.
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
    int postLimit = 5;      // accepted posts per address within kRankPostWindow; 0: none
    std::string trustProxy; // a reverse proxy's address: its X-Forwarded-For is believed
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
