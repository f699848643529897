#pragma once
// zelka-rank's HTTP side: the routes over cpp-httplib, with the limits a service on the open
// internet needs. The library parses HTTP; the connections are served here so that a whole
// request has a deadline (a client that trickles bytes cannot hold a worker) and the workers
// and the connections waiting for them are bounded (more get 503 at once).
#include "RankStore.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct RankServerOptions {
    std::string host = "127.0.0.1";
    int port = 0;
    int workers = 16; // connections served at once (each with its own database connection)
    int waiting = 64; // accepted connections queued for a worker; beyond, 503
    std::chrono::milliseconds readTimeout{5000};      // silence while a request is read
    std::chrono::milliseconds requestDeadline{10000}; // one whole request and its reply
    std::chrono::milliseconds keepAlive{3000};        // idle time between requests
    int keepAliveRequests = 1000;
    // Seconds since 1970 for the entries' times (replaced by tests).
    std::function<std::int64_t()> clock;
};

class RankServer {
public:
    RankServer(RankStore& store, RankServerOptions options);
    ~RankServer();
    RankServer(const RankServer&) = delete;
    RankServer& operator=(const RankServer&) = delete;

    // Binds the address; the port bound (the one picked for port 0), or -1.
    int Bind();
    // Serves until Stop(); false when serving could not start.
    bool Serve();
    void Stop();

    class Http;

private:
    std::unique_ptr<Http> http_;
};
